#!/usr/bin/env bash
# Fails when a source file includes what its folder's library does not link.
# The layer table is read from SRC_DIR/CMakeLists.txt, from its
# kavrin_library and kavrin_program calls: each target, its FOLDERS and the
# libraries it LINKS (what they link comes along, as CMake's PUBLIC links do).
# The compiler already refuses a header of a library not linked when it is
# named "folder/x.h"; this check also reads the forms it lets through
# ("../folder/x.h", "x.h" beside the file), the Qt modules and the outside
# libraries, whose headers every library can see, and keeps the front ends
# off what the engine owns. Qt headers are told apart by the module folder Qt
# installs them in, so a widget, painting, chart or multimedia header shows up
# below the window whatever name it goes by. Headers of neither kind (the C
# and C++ libraries, the system's) may be included anywhere.
# Usage: check_layers.sh [SRC_DIR]   (default: src)
set -u
src=${1:-src}
src=${src%/}
if [ ! -d "$src" ]; then
  echo "check_layers: no source folder $src" >&2
  exit 2
fi

# The layer table: folder -> its library, library -> the libraries it links.
declare -A target_of=() links=() qt_modules=()
table=$src/CMakeLists.txt
calls=$([ -f "$table" ] && sed 's/#.*//' "$table" | tr '\n' ' ' |
  grep -oE '(^|[^[:alnum:]_])kavrin_(library|program)[[:space:]]*\([^)]*\)' |
  sed -E 's/^[^k]*kavrin_(library|program)[[:space:]]*\(//; s/\)$//')
while read -r lib words; do
  [ -n "$lib" ] || continue
  links[$lib]=""
  qt_modules[$lib]=""
  part=
  for word in $words; do
    case $word in
    FOLDERS | LINKS) part=$word ;;
    *) if [ "$part" = FOLDERS ]; then
      target_of[$word]=$lib
    elif [[ $word == Qt6::* ]]; then
      qt_modules[$lib]+="Qt${word#Qt6::} "
    else
      links[$lib]+="$word "
    fi ;;
    esac
  done
done <<<"$calls"
if [ ${#target_of[@]} -eq 0 ]; then
  echo "check_layers: no kavrin_library with FOLDERS in $table" >&2
  exit 2
fi
# Outside libraries, by their headers, and the targets CMake knows them by.
declare -A library_of=([libelf.h]=libelf [gelf.h]=libelf [sodium.h]=sodium [sodium/]=sodium [CLI/]=CLI11)
declare -A library_target=([libelf]=PkgConfig::LIBELF [sodium]=PkgConfig::SODIUM [CLI11]=CLI11::CLI11)
# The engine's own parts: a front end describes an operation in the engine's
# words and listens; it never includes the protocol (frames, replies, outcome
# classes, clocks: the session names what a front end needs of them) nor
# drives the line itself. A name ending in "/" stands for a whole folder.
engine_owned="protocol/ serial/comm.h serial/comm_threads.h"
front_ends="app app/ui app/production app/main cli cli/main"

# Everything a library may reach: itself and the closure of its links.
declare -A reach=()
closure() {
  local todo=("$1") seen=" $1 " next dep
  while [ ${#todo[@]} -gt 0 ]; do
    next=${todo[0]}
    todo=("${todo[@]:1}")
    for dep in ${links[$next]-}; do
      case $seen in *" $dep "*) continue ;; esac
      seen+="$dep "
      todo+=("$dep")
    done
  done
  echo "$seen"
}
for lib in "${!links[@]}"; do reach[$lib]=$(closure "$lib"); done

# Qt's headers, each with the module folder it lives in.
qt_headers=${KAVRIN_QT_HEADERS-}
if [ -z "$qt_headers" ]; then
  for query in "qtpaths6 --query QT_INSTALL_HEADERS" "qmake6 -query QT_INSTALL_HEADERS" \
    "pkg-config --variable=includedir Qt6Core"; do
    qt_headers=$($query 2>/dev/null) && [ -d "$qt_headers/QtCore" ] && break
    qt_headers=
  done
fi
if [ -z "$qt_headers" ] || [ ! -d "$qt_headers/QtCore" ]; then
  echo "check_layers: cannot find Qt's headers (set KAVRIN_QT_HEADERS to the folder holding QtCore/)" >&2
  exit 2
fi
declare -A qt_module_of=()
for dir in "$qt_headers"/Qt*/; do
  module=${dir%/}
  module=${module##*/}
  for header in "$dir"*; do
    name=${header##*/}
    # A name in several modules counts as the lowest one (Core before the rest).
    [ -n "${qt_module_of[$name]-}" ] && [ "$module" != QtCore ] && continue
    qt_module_of[$name]=$module
  done
done

# The Qt modules each library reaches (every library links Core).
declare -A modules=()
for lib in "${!links[@]}"; do
  modules[$lib]=" QtCore "
  for t in ${reach[$lib]}; do modules[$lib]+="${qt_modules[$t]-} "; done
done

include_form='^[[:space:]]*#[[:space:]]*include[[:space:]]*(["<])([^">]*)[">]'
faults=0
fault() {
  echo "$1"
  faults=$((faults + 1))
}

# Sets `normal` to the path with "." and ".." taken out: "a/./b/../c" -> "a/c".
normalize() {
  normal=$1
  [[ $normal == *./* ]] || return 0
  local part out=()
  local IFS=/
  for part in $normal; do
    case $part in
    '' | .) ;;
    ..) [ ${#out[@]} -gt 0 ] && unset 'out[${#out[@]}-1]' ;;
    *) out+=("$part") ;;
    esac
  done
  normal="${out[*]}"
}

while IFS= read -r file; do
  rel=${file#"$src"/}
  folder=.
  [[ $rel == */* ]] && folder=${rel%/*}
  if [ -z "${target_of[$folder]+x}" ]; then
    fault "$rel: the folder $folder is in no kavrin_library or kavrin_program of CMakeLists.txt"
    continue
  fi
  mine=${target_of[$folder]}
  allowed_modules=${modules[$mine]}
  while IFS= read -r entry; do
    line=${entry%%:*}
    [[ ${entry#*:} =~ $include_form ]] || continue
    form=${BASH_REMATCH[1]}
    target=${BASH_REMATCH[2]}
    # Where the compiler finds it: beside the file first for "...", then in src/.
    header=
    normalize "$target"
    if [ "$form" = '"' ] && [ -e "${file%/*}/$target" ]; then
      normalize "$folder/$target"
      header=$normal
    elif [[ $normal == */* ]] && { [ -e "$src/$normal" ] || [ -n "${target_of[${normal%/*}]+x}" ]; }; then
      header=$normal
    fi
    if [ -n "$header" ]; then
      theirs=.
      [[ $header == */* ]] && theirs=${header%/*}
      if [ -z "${target_of[$theirs]+x}" ]; then
        fault "$rel:$line: includes \"$target\", which is in no folder of the layer table"
      elif [[ ${reach[$mine]} != *" ${target_of[$theirs]} "* ]]; then
        fault "$rel:$line: the $folder folder includes \"$target\" from $theirs, which it does not link"
      elif [[ " $front_ends " == *" $folder "* ]]; then
        for owned in $engine_owned; do
          if [ "$header" = "$owned" ] || { [[ $owned == */ ]] && [[ $header == "$owned"* ]]; }; then
            fault "$rel:$line: a front end includes \"$target\", which the engine owns"
            break
          fi
        done
      fi
      continue
    fi
    if [ "$form" = '"' ]; then
      fault "$rel:$line: includes \"$target\", which is in no folder of the layer table"
      continue
    fi
    case $target in
    Qt*/*) module=${target%%/*} ;;
    */*) module= ;;
    *) module=${qt_module_of[$target]-} ;;
    esac
    if [ -n "$module" ] && [[ $allowed_modules != *" $module "* ]]; then
      fault "$rel:$line: the $folder folder includes <$target> of Qt's $module module, which it does not link"
    fi
    library=${library_of[$target]-${library_of[${target%%/*}/]-}}
    if [ -n "$library" ]; then
      [[ ${reach[$mine]} == *" ${library_target[$library]} "* ]] || fault "$rel:$line: the $folder folder includes <$target> of $library, which it does not link"
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
done < <(find "$src" \( -name '*.h' -o -name '*.cpp' \) -type f | sort)

if [ "$faults" -gt 0 ]; then
  echo "$faults include(s) break the layers"
  exit 1
fi
echo "layers: every include stays within what its folder links"
