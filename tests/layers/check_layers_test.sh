#!/usr/bin/env bash
# The layer check must see each kind of fault, or a green run means nothing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{base,image/ui,session,app,cli}
printf '#include "base/a.h"\n#include <QString>\n' >"$tree/base/b.h"
printf '#include "session/box.h"\n' >"$tree/image/reader.cpp"
printf '#include "records/store.h"\n' >"$tree/image/ui/view.cpp"
printf '#include "cli/options.h"\n' >"$tree/app/window.cpp"
printf '#include "protocol/frames.h"\n#include "session/box.h"\n' >"$tree/cli/run.cpp"
out=$(KAVRIN_ENGINE_OWNED="protocol/frames.h" bash "$here/check_layers.sh" "$tree")
status=$?
expected=(
  'image/reader.cpp:1: the image layer includes "session/box.h" from the session layer'
  'app/window.cpp:1: the app layer includes "cli/options.h" from the cli layer'
  'cli/run.cpp:1: a front end includes "protocol/frames.h", which the engine owns'
  '3 include(s) break the layers'
)
fail=0
[ "$status" = 1 ] || { echo "exit status $status, expected 1"; fail=1; }
for line in "${expected[@]}"; do
  grep -qxF "$line" <<<"$out" || { echo "missing: $line"; fail=1; }
done
[ "$(wc -l <<<"$out")" = 4 ] || { echo "unexpected lines:"; echo "$out"; fail=1; }
exit $fail
