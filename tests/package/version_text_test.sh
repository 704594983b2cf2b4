#!/usr/bin/env bash
# The generated version text: the project version alone outside a checkout
# (also in a folder inside some other checkout), "(git <commit>)" at the top of
# one, following HEAD, and the file left untouched while nothing changed, so
# that a build recompiles nothing.
#   version_text_test.sh path/to/cmake/version.cmake
set -euo pipefail
script=$1
command -v git >/dev/null || { echo "git is not installed: skipped"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
out=$tmp/version_text.cpp
generate() { cmake -DSOURCE_DIR="$1" -DVERSION=1.1.0 -DOUTPUT="$out" -P "$script"; }
expect() {
  local text
  text=$(sed -n 's/^const char \*ProgramVersion() { return "\(.*\)"; }$/\1/p' "$out")
  [ "$text" = "$1" ] || { echo "expected '$1', got '$text' in:"; cat "$out"; exit 1; }
}
repo=$tmp/repo
g() { git -C "$repo" -c user.name=test -c user.email=test@test.example -c commit.gpgsign=false "$@"; }

mkdir "$tmp/tarball"
generate "$tmp/tarball"
expect "1.1.0"

git init -q "$repo"
g commit -q --allow-empty -m one
generate "$repo"
expect "1.1.0 (git $(g rev-parse --short HEAD))"

touch -d '2000-01-01 00:00:00' "$out"
generate "$repo"
[ "$(stat -c %Y "$out")" = "$(date -d '2000-01-01 00:00:00' +%s)" ] || { echo "rewritten without a change"; exit 1; }

g commit -q --allow-empty -m two
generate "$repo"
expect "1.1.0 (git $(g rev-parse --short HEAD))"

mkdir "$repo/unpacked"
generate "$repo/unpacked"
expect "1.1.0"
echo "version text: ok"
