#!/usr/bin/env bash
# Builds and tests everything: the platform-free code natively (plain, with ASan+UBSan, with
# TSan, and fuzzed for a bounded time), the Windows build under Wine, and the camera side of
# the 32-bit build under Wine. The Windows build comes first when native presets are run too,
# so that its slow tests (minutes of waiting on the helper's idle timers) run beside them.
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
contains() { [[ " ${*:2} " == *" $1 "* ]]; }

native_presets=()
windows_presets=()
for preset in "${presets[@]}"; do
  case "$preset" in
    windows*) windows_presets+=("$preset") ;;
    *) native_presets+=("$preset") ;;
  esac
done

# The Windows build's slow tests spend minutes waiting out the helper's idle timers with the
# processors free, so the Windows build comes first and they run in the background, in its
# prefix, while the native presets build and test.
slow_pid=""
slow_log=build/windows/slow-tests.log
windows_ctest_args=${CTEST_ARGS:-}
if contains windows "${windows_presets[@]}" && [ "${#native_presets[@]}" -gt 0 ] &&
  [ -z "${CTEST_ARGS:-}" ]; then
  echo "=== windows (built first; its slow tests run beside the native presets)"
  build windows
  ctest --preset windows -L slow >"$slow_log" 2>&1 &
  slow_pid=$!
  trap '[ -z "$slow_pid" ] || kill "$slow_pid" 2>/dev/null || true' EXIT
fi

for preset in "${native_presets[@]}"; do
  echo "=== $preset"
  build "$preset"
  # shellcheck disable=SC2086
  ctest --preset "$preset" ${CTEST_ARGS:-}
done

if [ -n "$slow_pid" ]; then
  echo "=== windows: the slow tests, run in the background"
  slow_status=0
  wait "$slow_pid" || slow_status=$?
  slow_pid=""
  cat "$slow_log"
  [ "$slow_status" -eq 0 ] || exit "$slow_status"
  windows_ctest_args="-LE slow"
fi

for preset in "${windows_presets[@]}"; do
  echo "=== $preset"
  # The 32-bit build's mixed-bitness tests run the 64-bit build's programs beside its own.
  if [ "$preset" = windows-x86 ] && ! contains windows "${built[@]}"; then
    echo "--- windows (its programs, for the mixed-bitness tests)"
    build windows
  fi
  contains "$preset" "${built[@]}" || build "$preset"
  args=${CTEST_ARGS:-}
  [ "$preset" != windows ] || args=$windows_ctest_args
  # shellcheck disable=SC2086
  ctest --preset "$preset" $args
done
echo "=== all tests passed: ${presets[*]}"
