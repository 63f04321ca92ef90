#!/usr/bin/env bash
# Lays out a release, the contents of the archive that tools/build.sh makes, from a 64-bit and
# a 32-bit Windows build: the programs, the 64-bit camera, the licence and the readme at the
# top; the 32-bit camera with its registration program in x86\ (where the 64-bit registration
# program looks for it); the SDK of each bitness in sdk\x64 and sdk\x86.
#   tools/stage-release.sh <64-bit build folder> <32-bit build folder> <release folder>
# The release folder is made anew.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: tools/stage-release.sh <64-bit build folder> <32-bit build folder> <release folder>" >&2
  exit 1
fi
x64_build=$1 x86_build=$2 release=$3
for build in "$x64_build" "$x86_build"; do
  if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "$build is not a configured build folder: build the windows and windows-x86 presets first" >&2
    exit 1
  fi
done
rm -rf "$release"
install() { cmake --install "$1" --prefix "$2" --component "$3" >/dev/null; }
install "$x64_build" "$release" runtime
install "$x86_build" "$release/x86" runtime
install "$x64_build" "$release/sdk/x64" sdk
install "$x86_build" "$release/sdk/x86" sdk
# The texts for Windows users end their lines as Windows programs expect.
sed -i 's/\r\?$/\r/' "$release/LICENSE.txt" "$release/README.txt"
