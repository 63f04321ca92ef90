#!/usr/bin/env bash
# Runs a Windows program under Wine in a given prefix, creating the prefix on first use.
#   tools/wine-run.sh <prefix> <program.exe> [args...]
# Used by CMake as the cross-compiling emulator, so ctest runs every Windows-side test
# through it; the prefix belongs to one build folder.
set -euo pipefail

prefix=$1
shift

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=${TOLVEK_WINE:-/usr/lib/wine/wine64}

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      "$wine" wineboot -i >/dev/null 2>&1
      "$(dirname "$wine")/wineserver" -w
    fi
  ) 9>"$prefix.lock"
fi

exec "$wine" "$@"
