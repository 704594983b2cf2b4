#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own, or when
# a front end reaches into what the engine owns. Layers, bottom up: base; the
# subsystems (serial, protocol, image, chip, records, job, unit); the engine (session);
# the front ends (app, cli), which never include each other. Widgets belong to
# the window alone: below the front ends no file includes a Qt Widgets header
# (<QtWidgets/...>, or a name found in the folder KAVRIN_WIDGET_HEADERS names).
# Usage: check_layers.sh SRC_DIR
set -u
src=${1:?usage: check_layers.sh SRC_DIR}

rank() {
  case $1 in
  base) echo 0 ;;
  serial | protocol | image | chip | records | job | unit) echo 1 ;;
  session) echo 2 ;;
  app | cli) echo 3 ;;
  *) echo 9 ;;
  esac
}

# The engine's own parts: a front end describes an operation and listens; it
# never builds frames, packs blocks, reads replies or drives the line itself.
engine_owned=${KAVRIN_ENGINE_OWNED-}

declare -A widget_header=()
if [ -n "${KAVRIN_WIDGET_HEADERS-}" ]; then
  for header in "$KAVRIN_WIDGET_HEADERS"/*; do widget_header[${header##*/}]=1; done
fi

faults=0
while IFS= read -r file; do
  rel=${file#"$src"/}
  folder=${rel%%/*}
  own=$(rank "$folder")
  while IFS=: read -r line target; do
    top=${target%%/*}
    theirs=$(rank "$top")
    [ "$theirs" = 9 ] && continue
    if [ "$theirs" -gt "$own" ] || { [ "$own" = 3 ] && [ "$theirs" = 3 ] && [ "$top" != "$folder" ]; }; then
      echo "$rel:$line: the $folder layer includes \"$target\" from the $top layer"
      faults=$((faults + 1))
    elif [ "$own" = 3 ]; then
      for owned in $engine_owned; do
        if [ "$target" = "$owned" ]; then
          echo "$rel:$line: a front end includes \"$target\", which the engine owns"
          faults=$((faults + 1))
        fi
      done
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" | sed 's/^\([0-9]*\):.*"\(.*\)".*/\1:\2/')
  [ "$own" -lt 3 ] || continue
  while IFS=: read -r line target; do
    if [[ $target == QtWidgets* ]] || [ -n "${widget_header[$target]-}" ]; then
      echo "$rel:$line: the $folder layer includes the widget header <$target>"
      faults=$((faults + 1))
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*<' "$file" | sed 's/^\([0-9]*\):.*<\(.*\)>.*/\1:\2/')
done < <(find "$src" -name '*.h' -o -name '*.cpp' | sort)

if [ "$faults" -gt 0 ]; then
  echo "$faults include(s) break the layers"
  exit 1
fi
echo "layers: every include goes down or stays within its layer"
