#!/usr/bin/env bash
# Installs every Debian package the project needs to build and test both deliverables.
# Idempotent: packages already present are left as they are.
set -euo pipefail

packages=(
  cmake ninja-build g++ git
  g++-mingw-w64-x86-64-posix   # cross compiler with std::thread / std::mutex
  wine64                       # runs the Windows-side tests
  nlohmann-json3-dev           # JSON parsing of the request protocol
  googletest libgtest-dev      # test framework (sources are compiled for MinGW as well)
  libbenchmark-dev             # native benchmarks
  clang libclang-rt-14-dev     # libFuzzer and sanitizer runtimes
  clang-format
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
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
