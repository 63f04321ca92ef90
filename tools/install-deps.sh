#!/usr/bin/env bash
# Installs every Debian package the project needs to build and test both deliverables.
# Idempotent: packages already present are left as they are.
set -euo pipefail

packages=(
  cmake ninja-build g++ git
  g++-mingw-w64-x86-64-posix   # cross compiler with std::thread / std::mutex
  g++-mingw-w64-i686-posix     # the same for the camera side of 32-bit hosts
  wine64                       # runs the Windows-side tests
  wine32:i386                  # runs the 32-bit ones beside them, in the same prefixes
  nlohmann-json3-dev           # JSON parsing of the request protocol
  googletest libgtest-dev      # test framework (sources are compiled for MinGW as well)
  libbenchmark-dev             # native benchmarks
  clang libclang-rt-14-dev     # libFuzzer and sanitizer runtimes
  clang-format
  zip unzip                    # the release archive, and the end-to-end run that unpacks it
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# wine32 is a package of the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
