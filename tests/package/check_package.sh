#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it: contents and
# modes, control fields, lintian (no error), the desktop entry, the AppStream
# metadata and the icons; then unpacks it into a scratch root and runs it from
# there: every executable's --version without a display, the window offscreen
# opening the port named in $XDG_CONFIG_HOME/kavrin-programmer/sysset.ini, and
# the installed-layout window tests against the unpacked root.
#   tests/package/check_package.sh [test build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/../.."
tests_build=${1:-build}
here=tests/package

bash scripts/package.sh | tail -1
deb=$(ls kavrin-programmer_*.deb)
tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

echo "-- contents"
grep -v '^#' $here/expected_files.txt | sort -k3 >"$tmp/expected"
dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' | sort -k3 >"$tmp/actual"
diff -u "$tmp/expected" "$tmp/actual" || fail "the package's contents differ from $here/expected_files.txt"

echo "-- control fields"
dpkg-deb -f "$deb" >"$tmp/control"
for field in "Package: kavrin-programmer" "Section: electronics" "Priority: optional" "Architecture: amd64" \
  "Recommends: fonts-wqy-zenhei" "Suggests: minisign" "Maintainer: .* <.*@.*>" "Description: .+" \
  "Depends: libqt6sql6-sqlite, libqt6sql6-psql, .*libqt6widgets6" "Depends: .*libelf1" "Depends: .*libsodium23" \
  "Depends: .*libqt6multimedia6" "Depends: .*libqt6charts6"; do
  grep -Eq "^$field" "$tmp/control" || fail "no control field '$field' in: $(cat "$tmp/control")"
done

echo "-- lintian"
lintian_rc=0
lintian --fail-on error "$deb" >"$tmp/lintian" 2>&1 || lintian_rc=$?
grep -v 'running with root privileges' "$tmp/lintian" || true
[ "$lintian_rc" = 0 ] || fail "lintian reports errors"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
share=$root/usr/share
id=io.github.kavrin.programmer
echo "-- desktop entry, metadata, icons"
desktop-file-validate "$share/applications/$id.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml" >/dev/null || fail "AppStream metadata"
grep -qx "Icon=$id" "$share/applications/$id.desktop" || fail "the desktop entry names another icon"
for size in 16 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x$size/apps/$id.png
  # Width and height: big-endian words at bytes 16 and 20 of a PNG.
  read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
  [ $((w0 << 24 | w1 << 16 | w2 << 8 | w3)) = "$size" ] && [ $((h0 << 24 | h1 << 16 | h2 << 8 | h3)) = "$size" ] ||
    fail "$png is not $size x $size"
done

echo "-- --version from the unpacked root"
version=$(dpkg-deb -f "$deb" Version)
if top=$(git rev-parse --show-toplevel 2>/dev/null) && [ "$(realpath "$top")" = "$(realpath .)" ]; then
  version="$version (git $(git rev-parse --short HEAD))"
fi
for exe in "$root"/usr/bin/*; do
  line=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$exe" --version 2>&1) || fail "$exe --version: $line"
  [ "$line" = "$(basename "$exe") $version" ] || fail "$exe --version says '$line', expected '$(basename "$exe") $version'"
done

echo "-- the unpacked window opens the port its configuration folder names"
"$root/usr/bin/kavrin-boxsim" --link "$tmp/box-port" --parent-pid $$ >"$tmp/boxsim.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$tmp/box-port" ] && break; sleep 0.1; done
[ -e "$tmp/box-port" ] || fail "the simulator did not start: $(cat "$tmp/boxsim.out")"
device=$(readlink "$tmp/box-port")
mkdir -p "$tmp/config/kavrin-programmer" "$tmp/home" "$tmp/data"
printf '[comx]\nnum=%s\n' "$tmp/box-port" >"$tmp/config/kavrin-programmer/sysset.ini"
XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data HOME=$tmp/home QT_QPA_PLATFORM=offscreen \
  "$root/usr/bin/kavrin-programmer" \
  >"$tmp/window.out" 2>&1 &
window=$!
pids+=("$window")
opened=""
for _ in $(seq 100); do
  if ls -l "/proc/$window/fd" 2>/dev/null | grep -q -- "-> $device\$"; then
    opened=yes
    break
  fi
  kill -0 "$window" 2>/dev/null || fail "the window ended: $(cat "$tmp/window.out")"
  sleep 0.1
done
[ -n "$opened" ] || fail "the window did not open $device named in its configuration folder"
kill "$window"
[ -z "$(ls -A "$tmp/home")" ] || fail "the window wrote into HOME: $(ls -A "$tmp/home")"
[ -f "$tmp/data/kavrin-programmer/records.sqlite" ] || fail "the window made no record store in XDG_DATA_HOME"
[ ! -e "$root/usr/bin/sysset.ini" ] || fail "the window wrote beside the executable"

echo "-- installed-layout window tests against the unpacked root"
[ -x "$tests_build/bin/test_app_ui" ] || TARGETS=test_app_ui scripts/build.sh "$tests_build"
KAVRIN_PACKAGE_ROOT=$root QT_QPA_PLATFORM=offscreen "$tests_build/bin/test_app_ui" \
  --gtest_filter='InstalledLayout.*' >"$tmp/gtest.out" 2>&1 || {
  cat "$tmp/gtest.out"
  fail "installed-layout tests"
}
grep -Eq '^\[  PASSED  \] [1-9][0-9]* test' "$tmp/gtest.out" || fail "no installed-layout test ran: $(cat "$tmp/gtest.out")"

echo "package: ok ($deb)"
