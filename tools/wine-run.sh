#!/usr/bin/env bash
# Runs a Windows program under Wine in a given prefix, creating the prefix on first use.
#   tools/wine-run.sh <prefix> <program.exe> [args...]
# Used by CMake as the cross-compiling emulator, so ctest runs every Windows-side test
# through it; the prefix belongs to one build folder. Every prefix is a 64-bit one (WoW64), in
# which 32-bit and 64-bit programs run side by side and start each other.
set -euo pipefail

prefix=$1
shift

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine64=/usr/lib/wine/wine64

# The machine field of a PE image's file header: 014c for i386, 8664 for x86-64; empty when
# the program is no file here (a program of the prefix such as cmd) or no PE image.
pe_machine() {
  [ -f "$1" ] || return 0
  local header
  header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$header" ] || return 0
  [ "$(od -An -c -j"$header" -N4 "$1" 2>/dev/null | tr -d ' ')" = 'PE\0\0' ] || return 0
  od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' '
}

# wine64 would hand a 32-bit program to the 32-bit loader in a second process and wait for
# it there; that process would outlive a test timeout that kills wine64. A 32-bit program
# therefore gets the 32-bit loader at once.
wine=${TOLVEK_WINE:-$wine64}
if [ -z "${TOLVEK_WINE:-}" ] && [ "$(pe_machine "${1:-}")" = 014c ]; then
  wine=/usr/lib/wine/wine
fi

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      # Made by the 64-bit loader, so that the prefix has both system folders.
      "$wine64" wineboot -i >/dev/null 2>&1
      "$(dirname "$wine64")/wineserver" -w
    fi
  ) 9>"$prefix.lock"
fi

exec "$wine" "$@"
