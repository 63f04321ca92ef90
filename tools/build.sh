#!/usr/bin/env bash
# Builds both Windows deliverables into dist/, with the camera's registration tool beside the DLL.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --install build/windows --prefix dist >/dev/null
echo "deliverables in $(pwd)/dist:"
ls -1 dist
