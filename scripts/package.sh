#!/usr/bin/env bash
# Builds the Debian package kavrin-programmer_<version>_<arch>.deb into the top
# folder, from a Release build folder of its own (build-package, reused by the
# next run), with Debian's hardening flags. Installs what is missing first.
#   scripts/package.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=${1:-build-package}

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKAVRIN_BUILD_TESTS=OFF -DKAVRIN_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/kavrin-programmer_*.deb
(cd "$dir" && cpack -G DEB >cpack.log 2>&1) || {
  cat "$dir/cpack.log"
  exit 1
}
deb=$(ls "$dir"/kavrin-programmer_*.deb)
rm -f kavrin-programmer_*.deb
cp "$deb" .
echo "Built $(basename "$deb")"
