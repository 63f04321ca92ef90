#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of it.
#   tools/check-format.sh          check
#   tools/check-format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.h' '*.c' '*.cpp' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
[ "${#files[@]}" -gt 0 ] || exit 0
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run -Werror "${files[@]}"
fi
