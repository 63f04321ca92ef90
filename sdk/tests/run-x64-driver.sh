#!/usr/bin/env bash
# Runs a test program of the 64-bit build in a 32-bit build's Wine prefix, or says which build
# is missing.
#   sdk/tests/run-x64-driver.sh <wine-run.sh> <prefix> <program.exe>
set -euo pipefail
if [ ! -f "$3" ]; then
  echo "$3 is missing: build the windows preset first (tools/test.sh does)" >&2
  exit 1
fi
exec "$@"
