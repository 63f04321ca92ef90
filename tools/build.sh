#!/usr/bin/env bash
# Builds both Windows deliverables into dist/, with the camera's registration tool beside the
# DLL and the camera for 32-bit hosts in dist/x86, and then runs the system's main job end to
# end under Wine with them, in a fresh prefix of its own (demo/end-to-end.sh): install,
# monitors through the service, the camera in a DirectShow graph, uninstall. Exits non-zero
# when the build or any step of the run fails.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 --target tolvek_vcam tolvek-vcam-register
rm -rf dist
cmake --install build/windows --prefix dist >/dev/null
cmake --install build/windows-x86 --prefix dist/x86 >/dev/null
echo "deliverables in $(pwd)/dist:"
(cd dist && find . -type f | sed 's|^\./||' | sort)
echo
demo/end-to-end.sh
