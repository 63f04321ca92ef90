#!/usr/bin/env bash
# Installs the SDK of a build into a fresh folder and builds the consumer project beside this
# script against that folder alone, as an application vendor would.
#   sdk/tests/consumer/build-consumer.sh <build folder> <work folder> <toolchain file>
# leaves the SDK in <work folder>/sdk and the programs, with tolvek_sdk.dll beside them, in
# <work folder>/build.
set -euo pipefail

build=$1
work=$2
toolchain=$3

rm -rf "$work"
cmake --install "$build" --prefix "$work/sdk" --component sdk >/dev/null
cmake -S "$(dirname "$0")" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -Dtolvek_DIR="$work/sdk/lib/cmake/tolvek" >/dev/null
cmake --build "$work/build"
