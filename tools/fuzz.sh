#!/usr/bin/env bash
# Fuzzes one parser of the helper: builds the fuzz preset, then runs the libFuzzer target for
# the given time (default one hour) from the checked-in seeds. TOLVEK_FUZZ_TARGET names it:
# request_protocol (the default), line_framer or published_name. The corpus it grows and any
# finding (crash-*, timeout-*, leak-*) stay in the fuzz build folder, beside the target.
#   tools/fuzz.sh [seconds] [libFuzzer flags...]      e.g. tools/fuzz.sh 3600 -jobs=2
# With TOLVEK_FUZZER naming a built target, nothing is built (the fuzz preset's ctest entry
# runs it so for one minute).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3600}
shift || true

target=${TOLVEK_FUZZ_TARGET:-request_protocol}
fuzzer=${TOLVEK_FUZZER:-}
if [ -z "$fuzzer" ]; then
  tools/install-deps.sh
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target "${target}_fuzzer"
  fuzzer=build/fuzz/display-helper/fuzz/${target}_fuzzer
fi

out=$(dirname "$fuzzer")
corpus=$out/${target}_corpus
mkdir -p "$corpus"
options=()
case $target in
  # Lines reach the parser only after framing, which holds at most 1024 bytes of one line.
  request_protocol) options=(-max_len=1024 -dict=display-helper/fuzz/request_protocol.dict) ;;
  # A byte stream of several 512-byte reads.
  line_framer) options=(-max_len=4096) ;;
  # pnputil's driver store listing; real ones are a few kilobytes.
  published_name) options=(-max_len=8192) ;;
esac
exec "$fuzzer" \
  -max_total_time="$seconds" \
  -timeout=10 \
  "${options[@]}" \
  -artifact_prefix="$out/" \
  -print_final_stats=1 \
  "$@" \
  "$corpus" "display-helper/fuzz/corpus/$target"
