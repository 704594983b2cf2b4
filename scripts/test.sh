#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite, the
# Debian package's checks, the whole suite again under AddressSanitizer/UBSan,
# the serial threads, sessions and the production records' threads under
# ThreadSanitizer, and a short run of each firmware reader's libFuzzer target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

echo "== build and test"
scripts/build.sh build
(cd build && ctest --output-on-failure -j2 --timeout 300)

echo "== Debian package"
bash tests/package/check_package.sh build

echo "== AddressSanitizer + UBSan"
scripts/build.sh build-asan -DKAVRIN_SANITIZE=address -DKAVRIN_BUILD_BENCH=OFF
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/../tests/lsan.supp ctest --output-on-failure -j2 --timeout 600)

echo "== ThreadSanitizer (serial component, its threads, sessions side by side, production records)"
TARGETS="test_serial test_session kavrin-boxsim test_records records_child" scripts/build.sh build-tsan \
  -DKAVRIN_SANITIZE=thread -DKAVRIN_BUILD_BENCH=OFF
for t in test_serial test_session test_records; do
  TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
    QT_QPA_PLATFORM=offscreen build-tsan/bin/$t
done

echo "== libFuzzer targets of the firmware readers (clang), a short run each over the image fixtures"
fuzzers="fuzz_hex_reader fuzz_srecord_reader fuzz_elf_reader fuzz_firmware_bytes"
TARGETS="$fuzzers" scripts/build.sh build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKAVRIN_BUILD_FUZZ=ON -DKAVRIN_BUILD_TESTS=OFF -DKAVRIN_BUILD_BENCH=OFF
for t in $fuzzers; do
  corpus=$(mktemp -d)
  # New inputs go to the scratch corpus; the fixtures only seed it.
  if ! build-fuzz/bin/$t -max_total_time=8 -timeout=10 -rss_limit_mb=2048 "$corpus" tests/image/fixtures \
    >"$corpus.log" 2>&1; then
    tail -40 "$corpus.log"
    echo "FAIL: $t"
    exit 1
  fi
  echo "$t: $(grep -E '^#[0-9]+' "$corpus.log" | tail -1)"
  rm -rf "$corpus" "$corpus.log"
done
