#!/usr/bin/env bash
# Builds and tests everything: the platform-free code natively (plain, with ASan+UBSan, with
# TSan, and fuzzed for a bounded time) and the Windows build under Wine.
#   tools/test.sh                 every preset
#   tools/test.sh native windows  only the named presets
# Extra ctest arguments can be passed in CTEST_ARGS, e.g. CTEST_ARGS="-LE slow".
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
tools/check-format.sh

presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(native native-asan native-tsan fuzz windows)

for preset in "${presets[@]}"; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # shellcheck disable=SC2086
  ctest --preset "$preset" ${CTEST_ARGS:-}
done
echo "=== all tests passed: ${presets[*]}"
