#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the package
# (dpkg-shlibdeps and the checks of tests/package) need, when missing; clang
# builds the firmware readers' libFuzzer targets; the tests sign jobs with
# minisign. Qt Charts' CMake package asks for Qt OpenGL's development files,
# which qt6-charts-dev does not bring.
set -euo pipefail
packages=(cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-tools-dev qt6-l10n-tools libgl-dev
  qt6-charts-dev libqt6opengl6-dev libgtest-dev libgmock-dev libelf-dev libsodium-dev libcli11-dev clang ccache srecord binutils fonts-wqy-zenhei xvfb xauth libqt6sql6-sqlite libqt6sql6-psql postgresql-15
  dpkg-dev lintian desktop-file-utils appstream minisign)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
