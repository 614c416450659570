#!/usr/bin/env bash
# What reading DSF costs sigmelt: the same 60 s stereo 2.8224 MHz sound as
# DSF and as DSDIFF, converted in alternating runs, and ffmpeg converting the
# DSF file (ffmpeg -i IN -ar 44100 -sample_fmt s16 OUT) in the same rounds.
# Prints the median wall and CPU times (user + system) and the share of
# sigmelt's time that the DSF file adds: the de-blocking and bit reversal.
#
# usage: bash bench/dsf_bench.sh [BUILD_DIR [RUNS]]
#   BUILD_DIR  an optimised build (default: build; configured and built
#              here when missing)
#   RUNS       runs of each program (default 7)
# Needs ffmpeg and perf (Debian: linux-perf).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-7}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target sigmelt dsdgen >/dev/null
sigmelt=$build/bin/sigmelt
command -v ffmpeg >/dev/null || { echo "ffmpeg is missing (apt-get install ffmpeg)" >&2; exit 1; }
command -v perf >/dev/null || { echo "perf is missing (apt-get install linux-perf)" >&2; exit 1; }

data=$build/bench-dsf
mkdir -p "$data"
for fmt in dsf dff; do
  [ -s "$data/tone.$fmt" ] || "$build/tools/dsdgen" --seconds=60 --tone=0:1000:0.5 --tone=1:440:0.25 "$data/tone.$fmt"
done

median() {  # of the numbers on standard input
  sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Appends "wall cpu" of one run to the file named first, in seconds: the
# CPU time of all its threads as perf counts it (a conversion takes about a
# tenth of a second; the 10 ms ticks behind GNU time and getrusage would
# hide the difference looked for).
timed() {
  local log=$1 start end cpu
  shift
  start=$(date +%s%N)
  cpu=$(perf stat -x, -e task-clock -o "$data/perf.txt" "$@" >/dev/null && grep task-clock "$data/perf.txt" | cut -d, -f1)
  end=$(date +%s%N)
  awk -v w=$((end - start)) -v c="$cpu" 'BEGIN { printf "%.4f %.4f\n", w / 1e9, c / 1e3 }' >> "$log"
}

: > "$data/dsf.txt"; : > "$data/dff.txt"; : > "$data/ffmpeg.txt"
for ((i = 0; i < runs; i++)); do
  timed "$data/dsf.txt" "$sigmelt" "$data/tone.dsf" "$data/out.wav"
  timed "$data/dff.txt" "$sigmelt" "$data/tone.dff" "$data/out.wav"
  timed "$data/ffmpeg.txt" ffmpeg -nostdin -v error -y -i "$data/tone.dsf" -ar 44100 -sample_fmt s16 "$data/out-ffmpeg.wav"
done

least() { sort -n | head -1; }
printf '%-8s %9s %9s %9s\n' run wall_s cpu_s least_cpu
for name in dsf dff ffmpeg; do
  printf '%-8s %9.3f %9.3f %9.3f\n' "$name" "$(cut -d' ' -f1 "$data/$name.txt" | median)" \
    "$(cut -d' ' -f2 "$data/$name.txt" | median)" "$(cut -d' ' -f2 "$data/$name.txt" | least)"
done
awk -v a="$(cut -d' ' -f2 "$data/dsf.txt" | median)" -v b="$(cut -d' ' -f2 "$data/dff.txt" | median)" \
    -v c="$(cut -d' ' -f2 "$data/dsf.txt" | least)" -v d="$(cut -d' ' -f2 "$data/dff.txt" | least)" 'BEGIN {
  printf "DSF over DSDIFF: %+.1f %% CPU time (medians), %+.1f %% (least)\n", (a - b) / b * 100, (c - d) / d * 100 }'
cat <<TEXT
Medians and least of $runs alternating runs: dsf and dff are sigmelt on the
same sound as DSF and as DSDIFF, ffmpeg converts the DSF file. CPU time is
user + system of the whole process (both threads); on a busy machine the
least is the steadier figure.
TEXT
