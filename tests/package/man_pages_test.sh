#!/usr/bin/env bash
# The manual pages: a request runs only at the start of a line, so one glued
# to the text before it would be printed as it stands ("file..TP").
#   man_pages_test.sh page.1...
set -uo pipefail
if grep -nE '[^[:space:]]\.(TP|PP|IP|LP|SH|SS|RS|RE|nf|fi)[[:space:]]*$' "$@"; then
  echo "a request that does not begin its line"
  exit 1
fi
