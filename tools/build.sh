#!/usr/bin/env bash
# Builds both Windows deliverables into dist/, with the camera's registration tool beside the
# DLL, tolvek_sdk.dll for applications, and the camera and tolvek_sdk.dll for 32-bit programs in
# dist/x86, and then runs the system's main job end to
# end under Wine with them, in a fresh prefix of its own (demo/end-to-end.sh): install,
# monitors through the service, the camera in a DirectShow graph, uninstall. Exits non-zero
# when the build or any step of the run fails.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 --target tolvek_vcam tolvek-vcam-register tolvek_sdk
rm -rf dist
# The programs and DLLs only (the install component "runtime"); the SDK is the component "sdk".
cmake --install build/windows --prefix dist --component runtime >/dev/null
cmake --install build/windows-x86 --prefix dist/x86 --component runtime >/dev/null
echo "deliverables in $(pwd)/dist:"
(cd dist && find . -type f | sed 's|^\./||' | sort)
echo
demo/end-to-end.sh
