#!/usr/bin/env bash
# The layer check must see each kind of fault, or a green run means nothing.
# Each row is one file of a made-up tree and the line the check must print
# for it (empty: the file breaks no rule). The check runs with no variable of
# its own set, from the tree's parent with no argument, as someone would run
# it by hand. The made-up tree's CMakeLists.txt is its layer table, written
# in the forms the check must read: calls over several lines, comments, a
# call commented out, a library of two folders, one that only gathers.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
tree=$root/src
mkdir -p "$tree"/{base,serial,protocol,image,chip,records,job,numbering,session,app/ui,app/production,app/main,cli/main}
cat >"$tree/CMakeLists.txt" <<'EOF'
kavrin_library(kavrin_base FOLDERS base LINKS kavrin_version)
kavrin_library(kavrin_serial FOLDERS serial LINKS kavrin_base)
kavrin_library(kavrin_protocol FOLDERS protocol LINKS kavrin_base kavrin_chip kavrin_image)
kavrin_library(kavrin_image FOLDERS image LINKS kavrin_base PkgConfig::LIBELF) # (libelf)
kavrin_library(kavrin_chip FOLDERS chip LINKS kavrin_base)
kavrin_library(kavrin_app_core FOLDERS app LINKS kavrin_base kavrin_chip kavrin_image)
kavrin_library(kavrin_records FOLDERS records LINKS kavrin_base Qt6::Sql)
kavrin_library(kavrin_numbering FOLDERS numbering LINKS kavrin_base kavrin_image)
kavrin_library(kavrin_job
  FOLDERS job
  LINKS kavrin_base kavrin_image kavrin_numbering PkgConfig::SODIUM)
kavrin_library(kavrin_session FOLDERS session LINKS kavrin_serial kavrin_protocol kavrin_image
  kavrin_chip kavrin_records kavrin_job kavrin_numbering)
kavrin_library(kavrin_core LINKS kavrin_app_core kavrin_session)
# kavrin_library(kavrin_tools FOLDERS tools LINKS kavrin_base)
kavrin_library(kavrin_ui FOLDERS app/ui app/production
  LINKS kavrin_core Qt6::Gui Qt6::Widgets Qt6::Multimedia Qt6::Charts)
kavrin_program(kavrin-programmer FOLDERS app/main LINKS kavrin_ui)
kavrin_library(kavrin_cli FOLDERS cli LINKS kavrin_session kavrin_job CLI11::CLI11)
kavrin_program(kavrin-cli FOLDERS cli/main LINKS kavrin_cli)
EOF

rows=(
  # file | its text | the fault reported
  'base/a.h|#include <QString>\n#include <vector>\n|'
  'base/b.h|#include "base/a.h"\n#include "a.h"\n|'
  'image/reader.cpp|#include "session/box.h"\n|image/reader.cpp:1: the image folder includes "session/box.h" from session, which it does not link'
  'image/angled.cpp|#include <session/box.h>\n|image/angled.cpp:1: the image folder includes "session/box.h" from session, which it does not link'
  'image/relative.cpp|#include "../session/box.h"\n|image/relative.cpp:1: the image folder includes "../session/box.h" from session, which it does not link'
  'image/elf.cpp|#include "../image/../base/a.h"\n#include <gelf.h>\n|'
  'serial/line.cpp|#include "protocol/frames.h"\n|serial/line.cpp:1: the serial folder includes "protocol/frames.h" from protocol, which it does not link'
  'records/store.cpp|  #  include "job/job_file.h"\n|records/store.cpp:1: the records folder includes "job/job_file.h" from job, which it does not link'
  'chip/dialog.h|#include <QtWidgets/QDialog>\n|chip/dialog.h:1: the chip folder includes <QtWidgets/QDialog> of Qt'"'"'s QtWidgets module, which it does not link'
  'image/view.cpp|#include <QString>\n#include <QLabel>\n|image/view.cpp:2: the image folder includes <QLabel> of Qt'"'"'s QtWidgets module, which it does not link'
  'session/paint.cpp|#include <QPainter>\n|session/paint.cpp:1: the session folder includes <QPainter> of Qt'"'"'s QtGui module, which it does not link'
  'cli/sound.cpp|#include <QSoundEffect>\n|cli/sound.cpp:1: the cli folder includes <QSoundEffect> of Qt'"'"'s QtMultimedia module, which it does not link'
  'records/chart.cpp|#include <QChart>\n#include <QSqlQuery>\n|records/chart.cpp:1: the records folder includes <QChart> of Qt'"'"'s QtCharts module, which it does not link'
  'app/settings.cpp|#include <QWidget>\n|app/settings.cpp:1: the app folder includes <QWidget> of Qt'"'"'s QtWidgets module, which it does not link'
  'chip/query.cpp|#include <QSqlQuery>\n|chip/query.cpp:1: the chip folder includes <QSqlQuery> of Qt'"'"'s QtSql module, which it does not link'
  'numbering/pin.cpp|#include <sodium.h>\n|numbering/pin.cpp:1: the numbering folder includes <sodium.h> of sodium, which it does not link'
  'session/options.cpp|#include <CLI/CLI.hpp>\n|session/options.cpp:1: the session folder includes <CLI/CLI.hpp> of CLI11, which it does not link'
  'cli/options.cpp|#include <CLI/CLI.hpp>\n#include <sodium.h>\n|'
  'app/ui/window.cpp|#include <QLabel>\n#include <QChartView>\n#include "session/box.h"\n#include "cli/options.h"\n|app/ui/window.cpp:4: the app/ui folder includes "cli/options.h" from cli, which it does not link'
  'app/production/view.cpp|#include "app/ui/form1.h"\n#include <QSoundEffect>\n|'
  'app/main/main.cpp|#include "app/ui/form1.h"\n#include "serial/posix_serial.h"\n|'
  'cli/run.cpp|#include "protocol/frames.h"\n#include "session/box.h"\n|cli/run.cpp:1: a front end includes "protocol/frames.h", which the engine owns'
  'app/ui/text.cpp|#include "session/box.h"\n#include <protocol/outcome.h>\n|app/ui/text.cpp:2: a front end includes "protocol/outcome.h", which the engine owns'
  'cli/comm.cpp|#include "serial/comm.h"\n#include "serial/serial_devices.h"\n|cli/comm.cpp:1: a front end includes "serial/comm.h", which the engine owns'
  'cli/main/main.cpp|#include "app/ui/form1.h"\n|cli/main/main.cpp:1: the cli/main folder includes "app/ui/form1.h" from app/ui, which it does not link'
  'job/stray.cpp|#include "moc_stray.cpp"\n|job/stray.cpp:1: includes "moc_stray.cpp", which is in no folder of the layer table'
  'tools/extra.cpp|#include "base/a.h"\n|tools/extra.cpp: the folder tools is in no kavrin_library or kavrin_program of CMakeLists.txt'
)
expected=()
for row in "${rows[@]}"; do
  IFS='|' read -r file text fault <<<"$row"
  mkdir -p "$(dirname "$tree/$file")"
  printf "$text" >"$tree/$file"
  [ -n "$fault" ] && expected+=("$fault")
done
expected+=("${#expected[@]} include(s) break the layers")

out=$(cd "$root" && env -u KAVRIN_QT_HEADERS -u KAVRIN_ENGINE_OWNED -u KAVRIN_WIDGET_HEADERS \
  bash "$here/check_layers.sh")
status=$?
fail=0
[ "$status" = 1 ] || { echo "exit status $status, expected 1"; fail=1; }
for line in "${expected[@]}"; do
  grep -qxF "$line" <<<"$out" || { echo "missing: $line"; fail=1; }
done
[ "$(wc -l <<<"$out")" = "${#expected[@]}" ] || { echo "unexpected lines:"; echo "$out"; fail=1; }

# A tree that keeps every rule passes; one with no such folder is an error, not a pass.
rm -rf "$tree"/{tools,job/stray.cpp,cli/main/main.cpp,cli/run.cpp,cli/comm.cpp,app/ui/text.cpp,app/ui/window.cpp,numbering,chip,app/settings.cpp,records,cli/sound.cpp,session,image/view.cpp,image/reader.cpp,image/angled.cpp,image/relative.cpp,serial}
bash "$here/check_layers.sh" "$tree" >/dev/null || { echo "a clean tree fails"; fail=1; }
bash "$here/check_layers.sh" "$root/none" 2>/dev/null
[ $? = 2 ] || { echo "a missing source folder does not end with status 2"; fail=1; }
rm "$tree/CMakeLists.txt"
bash "$here/check_layers.sh" "$tree" 2>/dev/null
[ $? = 2 ] || { echo "a tree without its layer table does not end with status 2"; fail=1; }
exit $fail
