#!/usr/bin/env bash
# Fuzzes one libFuzzer target: builds the fuzz preset, then runs the target for the given time
# (default one hour) from its checked-in seeds. TOLVEK_FUZZ_TARGET names it (default
# request_protocol): the targets are the <name>_fuzzer.cpp files of the */fuzz folders,
#   display-helper/fuzz   request_protocol, line_framer, published_name
#   vcam/fuzz             frame_reader, viewer_registration, feed_command_line
# The corpus it grows and any finding (crash-*, timeout-*, leak-*) stay in the fuzz build
# folder, beside the target.
#   tools/fuzz.sh [seconds] [libFuzzer flags...]      e.g. tools/fuzz.sh 3600 -jobs=2
# With TOLVEK_FUZZER naming a built target, nothing is built (the fuzz preset's ctest entry
# runs it so for one minute).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3600}
shift || true

target=${TOLVEK_FUZZ_TARGET:-request_protocol}
shopt -s nullglob
sources=(*/fuzz/"${target}"_fuzzer.cpp)
if [ "${#sources[@]}" -ne 1 ]; then
  echo "fuzz.sh: no fuzz target named '$target' (see the */fuzz folders)" >&2
  exit 2
fi
folder=$(dirname "${sources[0]}")

fuzzer=${TOLVEK_FUZZER:-}
if [ -z "$fuzzer" ]; then
  tools/install-deps.sh
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target "${target}_fuzzer"
  fuzzer=build/fuzz/$folder/${target}_fuzzer
fi

out=$(dirname "$fuzzer")
corpus=$out/${target}_corpus
mkdir -p "$corpus"
options=()
case $target in
  # Lines reach the parser only after framing, which holds at most 1024 bytes of one line.
  request_protocol) options=(-max_len=1024) ;;
  # A byte stream of several 512-byte reads.
  line_framer) options=(-max_len=4096) ;;
  # pnputil's driver store listing; real ones are a few kilobytes.
  published_name) options=(-max_len=8192) ;;
  # Writer scripts. Every fill copies or checks a whole frame of 3.6 MB, so short scripts
  # keep the executions per second up; a few dozen steps reach every state of the reader.
  frame_reader) options=(-max_len=192) ;;
  # Writer scripts of a few hundred steps over the 576-byte record and two cameras.
  viewer_registration) options=(-max_len=1024) ;;
  # A command line: a few arguments of UTF-16.
  feed_command_line) options=(-max_len=512) ;;
esac
if [ -f "$folder/$target.dict" ]; then
  options+=(-dict="$folder/$target.dict")
fi
exec "$fuzzer" \
  -max_total_time="$seconds" \
  -timeout=10 \
  "${options[@]}" \
  -artifact_prefix="$out/" \
  -print_final_stats=1 \
  "$@" \
  "$corpus" "$folder/corpus/$target"
