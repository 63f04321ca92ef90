#!/usr/bin/env bash
# Builds and tests everything: the platform-free code natively (plain, with ASan+UBSan, with
# TSan, and fuzzed for a bounded time), the Windows build under Wine, and the camera side of
# the 32-bit build under Wine.
#   tools/test.sh                 every preset
#   tools/test.sh native windows  only the named presets
# Extra ctest arguments can be passed in CTEST_ARGS, e.g. CTEST_ARGS="-LE slow".
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
tools/check-format.sh

presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(native native-asan native-tsan fuzz windows windows-x86)

built=()
build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  built+=("$1")
}

for preset in "${presets[@]}"; do
  echo "=== $preset"
  # The 32-bit build's mixed-bitness tests run the 64-bit build's programs beside its own.
  if [ "$preset" = windows-x86 ] && [[ " ${built[*]} " != *" windows "* ]]; then
    echo "--- windows (its programs, for the mixed-bitness tests)"
    build windows
  fi
  build "$preset"
  # shellcheck disable=SC2086
  ctest --preset "$preset" ${CTEST_ARGS:-}
done
echo "=== all tests passed: ${presets[*]}"
