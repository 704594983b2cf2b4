#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated programmer box and
# opens the program already connected to it. The program runs from a demo
# folder of its own (build/demo), so an operator's own sysset.ini is never
# touched. Closing the program stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build

demo=$PWD/build/demo
mkdir -p "$demo"
cp -f build/bin/kavrin-programmer build/bin/MCUtype.txt "$demo/"
port=$demo/box-port
printf '[comx]\nnum=%s\n' "$port" >"$demo/sysset.ini"

build/bin/kavrin-boxsim --link "$port" --log "$demo/box-log.jsonl" --parent-pid $$ "$@" >"$demo/boxsim.out" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done
[ -e "$port" ] || { echo "the simulator did not start:"; cat "$demo/boxsim.out"; exit 1; }
echo "Simulated box on $(readlink "$port"); its log: $demo/box-log.jsonl"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting under xvfb-run."
  xvfb-run -a "$demo/kavrin-programmer"
else
  "$demo/kavrin-programmer"
fi
