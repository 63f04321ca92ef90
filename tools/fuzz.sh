#!/usr/bin/env bash
# Fuzzes the request parser: builds the fuzz preset, then runs its libFuzzer target for the
# given time (default one hour) from the checked-in seeds. The corpus it grows and any
# finding (crash-*, timeout-*, leak-*) stay in the fuzz build folder, beside the target.
#   tools/fuzz.sh [seconds] [libFuzzer flags...]      e.g. tools/fuzz.sh 3600 -jobs=2
# With TOLVEK_FUZZER naming a built target, nothing is built (the fuzz preset's ctest entry
# runs it so for one minute).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3600}
shift || true

fuzzer=${TOLVEK_FUZZER:-}
if [ -z "$fuzzer" ]; then
  tools/install-deps.sh
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target request_protocol_fuzzer
  fuzzer=build/fuzz/display-helper/fuzz/request_protocol_fuzzer
fi

out=$(dirname "$fuzzer")
corpus=$out/request_protocol_corpus
mkdir -p "$corpus"
# Lines reach the parser only after framing, which holds at most 1024 bytes of one line.
exec "$fuzzer" \
  -max_total_time="$seconds" \
  -max_len=1024 \
  -timeout=10 \
  -dict=display-helper/fuzz/request_protocol.dict \
  -artifact_prefix="$out/" \
  -print_final_stats=1 \
  "$@" \
  "$corpus" display-helper/fuzz/corpus/request_protocol
