#!/usr/bin/env bash
# Configures and builds: scripts/build.sh [dir [cmake args...]]. Set TARGETS to
# build only some targets. Compiles through ccache when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
launcher=()
if command -v ccache >/dev/null; then
  # Paths below the checkout are hashed relative to it, so another clone of
  # the same commit (a CI run, a second work tree) reuses the objects.
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
targets=()
for t in ${TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
