#!/usr/bin/env bash
# Measures the camera of both bitnesses back to back in one run, each build's programs in its
# own Wine prefix: the pacing of its samples in a real graph, then its worker's processor time
# against paced memcpy, first the 64-bit camera, then the 32-bit one. docs/benchmarks.md
# records the figures.
#   tools/bench-camera.sh [pacing seconds per run] [streaming seconds per graph]   (12, 20)
set -euo pipefail
cd "$(dirname "$0")/.."

pacing_seconds=${1:-12}
cpu_seconds=${2:-20}
targets=(vcam_pacing_benchmark vcam_worker_cpu_benchmark tolvek_vcam vcam_test_producer)

for preset in windows windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target "${targets[@]}" >/dev/null
done

run() { # <preset> <program> <seconds>
  tools/wine-run.sh "$PWD/build/$1/wineprefix" "build/$1/bin/$2.exe" "$3"
}

for benchmark in "vcam_pacing_benchmark $pacing_seconds" "vcam_worker_cpu_benchmark $cpu_seconds"; do
  read -r program seconds <<<"$benchmark"
  for preset in windows windows-x86; do
    [ "$preset" = windows ] && bitness=64 || bitness=32
    echo "### $program, $bitness-bit camera ($(date -u +%H:%M:%S), load $(cut -d' ' -f1-3 /proc/loadavg))"
    run "$preset" "$program" "$seconds" 2>&1 | grep -v '^ALSA lib'
    echo
  done
done
