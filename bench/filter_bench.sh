#!/usr/bin/env bash
# Builds the decimator benchmark in Release and prints, for each input rate
# and channel count, the time per output frame and the real-time factor
# (output frames per second / 44100) on one core.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-filter-bench
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDSD_BUILD_TESTS=OFF > /dev/null
cmake --build "$dir" --target filter_bench > /dev/null
"$dir/bench/filter_bench" --benchmark_repetitions="${REPETITIONS:-3}" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
  awk -F, '
    /_median"?,/ {
      name = $1; gsub(/"/, "", name)
      split(name, p, "/"); sub("rate:", "", p[2]); sub("channels:", "", p[3])
      ns = $4
      printf "%9d Hz %3d ch  %8.1f ns/frame  %8.0f x real time\n", p[2], p[3], ns, 1e9 / (ns * 44100)
    }
    BEGIN { print "    input      channels  time per frame  speed (median of repetitions)" }'
