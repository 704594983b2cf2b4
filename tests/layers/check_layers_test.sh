#!/usr/bin/env bash
# The layer check must see each kind of fault, or a green run means nothing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
tree=$(mktemp -d)
widgets=$(mktemp -d)
trap 'rm -rf "$tree" "$widgets"' EXIT
touch "$widgets/QLabel"
mkdir -p "$tree"/{base,chip,image,session,app,cli}
printf '#include "base/a.h"\n#include <QString>\n' >"$tree/base/b.h"
printf '#include "session/box.h"\n' >"$tree/image/reader.cpp"
printf '#include <QString>\n#include "records/store.h"\n#include <QLabel>\n' >"$tree/image/view.cpp"
printf '#include <QtWidgets/QDialog>\n' >"$tree/chip/dialog.h"
printf '#include <QLabel>\n' >"$tree/app/label.cpp"
printf '#include "cli/options.h"\n' >"$tree/app/window.cpp"
printf '#include "protocol/frames.h"\n#include "session/box.h"\n' >"$tree/cli/run.cpp"
out=$(KAVRIN_ENGINE_OWNED="protocol/frames.h" KAVRIN_WIDGET_HEADERS="$widgets" bash "$here/check_layers.sh" "$tree")
status=$?
expected=(
  'image/reader.cpp:1: the image layer includes "session/box.h" from the session layer'
  'app/window.cpp:1: the app layer includes "cli/options.h" from the cli layer'
  'cli/run.cpp:1: a front end includes "protocol/frames.h", which the engine owns'
  'chip/dialog.h:1: the chip layer includes the widget header <QtWidgets/QDialog>'
  'image/view.cpp:3: the image layer includes the widget header <QLabel>'
  '5 include(s) break the layers'
)
fail=0
[ "$status" = 1 ] || { echo "exit status $status, expected 1"; fail=1; }
for line in "${expected[@]}"; do
  grep -qxF "$line" <<<"$out" || { echo "missing: $line"; fail=1; }
done
[ "$(wc -l <<<"$out")" = 6 ] || { echo "unexpected lines:"; echo "$out"; fail=1; }
exit $fail
