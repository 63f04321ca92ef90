#!/usr/bin/env bash
# Builds the release for Windows and makes its archive, dist/tolvek-<version>-windows.zip (the
# version is the project's, from the top CMakeLists.txt), unpacked beside it as
# dist/tolvek-<version>-windows: the helper, the cameras for 64-bit and 32-bit hosts with their
# registration program, tolvek-monitors, tolvek-vcam-pattern, tolvek-setup, the SDK for both
# bitnesses, the licence and the readme for Windows users (tools/stage-release.sh lays it out).
# Then runs the system's main job end to end under Wine from that archive, in a fresh prefix
# of its own (demo/end-to-end.sh): setup install, monitors through the service, the camera in
# a 64-bit and a 32-bit host, setup remove. Exits non-zero when the build or any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset windows-x86 >/dev/null
# The release's camera side and SDK for 32-bit programs, and the 32-bit camera host of the run.
cmake --build --preset windows-x86 --target tolvek_vcam tolvek-vcam-register tolvek_sdk \
  tolvek_display_client tolvek_vcam_producer tolvek-demo

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
name=tolvek-$version-windows
rm -rf dist
mkdir -p dist
tools/stage-release.sh build/windows build/windows-x86 "dist/$name"
# -X: no Unix owners and permissions, which mean nothing on Windows.
(cd dist && zip -q -r -X "$name.zip" "$name")
echo "the release in $(pwd)/dist/$name.zip:"
(cd "dist/$name" && find . -type f | sed 's|^\./||' | grep -v '^sdk/' | sort)
echo "sdk/x64 and sdk/x86: $(cd "dist/$name/sdk/x64" && find . -type f | wc -l) files each"
echo
demo/end-to-end.sh
