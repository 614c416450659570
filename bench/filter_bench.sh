#!/usr/bin/env bash
# Builds the decimator benchmark in Release and prints, for each input rate
# and channel count, the time per output frame and the real-time factor
# (output frames per second / 44100) on one core, then the stereo
# 2822400 Hz case with each set of vector instructions. Times are CPU time,
# median of REPETITIONS runs (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-filter-bench
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDSD_BUILD_TESTS=OFF > /dev/null
cmake --build "$dir" --target filter_bench > /dev/null
"$dir/bench/filter_bench" --benchmark_repetitions="${REPETITIONS:-3}" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
  awk -F, '
    BEGIN { split("SSE2,AVX2,AVX-512F", isa, ",") }
    /_median"?,/ {
      name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
      n = split(name, p, "/"); ns = $4
      if (ns == "") next
      if (p[2] ~ /^level:/) {
        sub("level:", "", p[2])
        what = sprintf("%8d Hz %3d ch  %-8s", 2822400, 2, isa[p[2] + 1])
      } else {
        sub("rate:", "", p[2]); sub("channels:", "", p[3])
        what = sprintf("%8d Hz %3d ch  %-8s", p[2], p[3], "best")
      }
      printf "%s %9.1f ns/frame %8.0f x real time\n", what, ns, 1e9 / (ns * 44100)
    }'
