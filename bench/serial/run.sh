#!/bin/sh
# Builds and runs the serial benchmarks (idle cost of an open port, receive
# latency) over a pseudo-terminal. Usage: bench/serial/run.sh [build-dir]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build-serial"}
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" --target bench_serial -j2 >/dev/null
"$build/bin/bench_serial"
