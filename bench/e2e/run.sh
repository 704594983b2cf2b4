#!/usr/bin/env bash
# Builds and runs the end-to-end benchmarks against the simulated box, then
# prints their verdict lines together:
#   bench/e2e/run.sh [--asan]
# --asan also builds with AddressSanitizer in a build folder of its own and
# reruns the endurance under LeakSanitizer (its memory figure is not judged
# there: the sanitizer's own bookkeeping grows it). Set BUILD to choose the
# build folder (default build-e2e), LOADS and RUNS to shorten a run.
set -uo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD:-build-e2e}
loads=${LOADS:-200}
runs=${RUNS:-3}
targets=(--target bench_e2e_transfer --target bench_e2e_latency --target bench_e2e_endurance --target kavrin-boxsim)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" "${targets[@]}" >/dev/null || exit 1

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
run() {
  echo "== $*"
  "$@" 2>&1 | grep -v '^QStandardPaths' | tee -a "$log"
  last=${PIPESTATUS[0]}
  [ "$last" -eq 0 ] || status=1
}
export QT_QPA_PLATFORM=offscreen
run "$build/bin/bench_e2e_transfer" --runs "$runs"
run "$build/bin/bench_e2e_transfer" --runs 1 --think 40
run "$build/bin/bench_e2e_latency" --loads 20
run "$build/bin/bench_e2e_endurance" --loads "$loads"

if [ "${1:-}" = "--asan" ]; then
  asan="$build-asan"
  cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVRIN_SANITIZE=address -DKAVRIN_BUILD_BENCH=ON >/dev/null || exit 1
  cmake --build "$asan" -j"$(nproc)" "${targets[@]}" >/dev/null || exit 1
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
  run "$asan/bin/bench_e2e_endurance" --loads "$loads" --no-memory-verdict
  if grep -q 'ERROR: LeakSanitizer' "$log"; then
    echo "endurance: LeakSanitizer found leaks (exit status $last)" | tee -a "$log"
  else
    echo "endurance: LeakSanitizer clean (exit status $last)" | tee -a "$log"
  fi
fi

echo
echo "== summary"
grep -E '^(transfer efficiency|program latency|endurance): ' "$log" | grep -E 'ratio|median|loads exact|VmRSS|LeakSanitizer'
exit $status
