#!/usr/bin/env bash
# sigmelt across thread counts (--threads=N):
#   a. a 60 s stereo 2.8224 MHz DSDIFF at the default count, 1 and 2 threads,
#      against ffmpeg -i IN -ar 44100 -sample_fmt s16 OUT; target: ffmpeg /
#      sigmelt at least 5 with the default;
#   b. a 60 s six-channel DST DSDIFF at 1 and 2 threads; target: at least
#      1.8 times faster with 2;
#   c. peak resident memory at 1, 2, 4, 8, 16 and 64 threads on those two
#      files and on a 10-channel 11.2896 MHz one; target: under 32 MiB;
#   d. Amdahl's law fitted to the times at 1 and 2 threads: the serial and
#      parallel parts of a run, and its time on 8 cores.
# Runs alternate and the figures are medians of wall times (the machine is
# shared and noisy).
#
# usage: bash bench/threads_bench.sh [BUILD_DIR [RUNS]]
#   BUILD_DIR  an optimised build (default: build; configured and built
#              here when missing)
#   RUNS       rounds of b (default 5); a has twice as many
# Needs ffmpeg and GNU time (/usr/bin/time); about 250 MB below BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target sigmelt dsdgen >/dev/null
sigmelt=$build/bin/sigmelt
command -v ffmpeg >/dev/null || { echo "ffmpeg is missing (apt-get install ffmpeg)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

data=$build/bench-threads
mkdir -p "$data"
# name: generator arguments (the DST file takes some 20 s to code: kept)
declare -A sources=(
  [stereo]="--seconds=60 --tone=0:1000:0.5 --tone=1:440:0.25"
  [dst6]="--channels=6 --seconds=60 --tone=all:1000:0.5 --tone=1:3000:0.1 --tone=4:200:0.2 --dst"
  [ten-11M]="--channels=10 --rate=11289600 --seconds=10 --tone=all:1000:0.5"
)
for name in stereo dst6 ten-11M; do
  if [ ! -s "$data/$name.dff" ]; then
    echo "making $data/$name.dff" >&2
    # shellcheck disable=SC2086
    "$build/tools/dsdgen" ${sources[$name]} "$data/$name.dff.part"
    mv "$data/$name.dff.part" "$data/$name.dff"
  fi
done
cat "$data"/*.dff >/dev/null  # into the page cache
default_threads=$(nproc)

median() {  # of the numbers on standard input
  sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# timed LOG COMMAND...: appends "wall_s cpu_s peak_KiB" of one run to LOG
# (wall time from the shell's clock: GNU time's has 10 ms steps).
timed() {
  local log=$1 t0 t1
  shift
  t0=$EPOCHREALTIME
  /usr/bin/time -f "%U %S %M" -o "$data/time.txt" "$@" >/dev/null 2>&1
  t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" '{ printf "%.4f %.3f %s\n", b - a, $1 + $2, $3 }' "$data/time.txt" >> "$log"
}
col() { cut -d' ' -f"$2" "$data/$1.log" | median; }  # col LOG FIELD: its median

echo "== a. 60 s stereo 2.8224 MHz DSDIFF, $((2 * runs)) alternating runs each (default: $default_threads threads)"
rm -f "$data"/*.log
for ((i = 0; i < 2 * runs; i++)); do
  timed "$data/a-default.log" "$sigmelt" "$data/stereo.dff" "$data/out.wav"
  timed "$data/a-1.log" "$sigmelt" --threads=1 "$data/stereo.dff" "$data/out.wav"
  timed "$data/a-2.log" "$sigmelt" --threads=2 "$data/stereo.dff" "$data/out.wav"
  timed "$data/a-ffmpeg.log" ffmpeg -nostdin -v error -y -i "$data/stereo.dff" -ar 44100 -sample_fmt s16 "$data/ff.wav"
done
ff=$(col a-ffmpeg 1)
printf '  %-18s %8s %8s %14s\n' program wall_s cpu_s ffmpeg/this
for run in default 1 2 ffmpeg; do
  label="sigmelt --threads=$run"
  [ "$run" = default ] && label="sigmelt (default)"
  [ "$run" = ffmpeg ] && label=ffmpeg
  awk -v l="$label" -v w="$(col "a-$run" 1)" -v c="$(col "a-$run" 2)" -v f="$ff" \
    'BEGIN { printf "  %-18s %8.3f %8.3f %13.2fx\n", l, w, c, f / w }'
done
echo "  target: ffmpeg / sigmelt (default) >= 5"

echo "== b. 60 s six-channel DST DSDIFF, $runs alternating runs each"
for ((i = 0; i < runs; i++)); do
  timed "$data/b-1.log" "$sigmelt" --threads=1 "$data/dst6.dff" "$data/out.wav"
  timed "$data/b-2.log" "$sigmelt" --threads=2 "$data/dst6.dff" "$data/out.wav"
done
awk -v w1="$(col b-1 1)" -v c1="$(col b-1 2)" -v w2="$(col b-2 1)" -v c2="$(col b-2 2)" 'BEGIN {
  printf "  %-18s %8s %8s\n  %-18s %8.3f %8.3f\n  %-18s %8.3f %8.3f\n", "sigmelt", "wall_s", "cpu_s",
         "--threads=1", w1, c1, "--threads=2", w2, c2
  printf "  ratio 1 thread / 2 threads: %.2f (target >= 1.8)\n", w1 / w2 }'

echo "== c. peak resident memory of sigmelt, MiB (target < 32 at every count)"
counts=(1 2 4 8 16 64)
printf '  %-30s' file
printf ' %6s' "${counts[@]}"
echo
for name in stereo dst6 ten-11M; do
  printf '  %-30s' "$name.dff ($(($(stat -c %s "$data/$name.dff") / 1048576)) MiB)"
  for n in "${counts[@]}"; do
    : > "$data/c.log"
    timed "$data/c.log" "$sigmelt" --threads="$n" "$data/$name.dff" "$data/out.wav"
    printf ' %6.1f' "$(awk '{ print $3 / 1024 }' "$data/c.log")"
  done
  echo
done

echo "== d. an estimate for 8 cores from the medians at 1 and 2 threads (a, b)"
# The thread that waits runs queued jobs itself, so the threads' CPU times
# do not split into serial and parallel work; the wall times do. Amdahl's
# law, t(N) = serial + parallel / N, fitted to t(1) and t(2): parallel =
# 2 (t(1) - t(2)), serial = t(1) - parallel.
printf '  %-8s %8s %8s %9s %11s %8s %10s\n' file t1_s t2_s serial_s parallel_s t8_s speedup
for name in stereo dst6; do
  if [ $name = stereo ]; then t1=$(col a-1 1) t2=$(col a-2 1); else t1=$(col b-1 1) t2=$(col b-2 1); fi
  awk -v n=$name -v t1="$t1" -v t2="$t2" -v ff="$([ $name = stereo ] && echo "$ff")" 'BEGIN {
    par = 2 * (t1 - t2); if (par < 0) par = 0; ser = t1 - par; t8 = ser + par / 8
    printf "  %-8s %8.3f %8.3f %9.3f %11.3f %8.3f %9.2fx", n, t1, t2, ser, par, t8, t1 / t8
    if (ff != "") printf "  (ffmpeg / sigmelt on 8 cores: %.1f)", ff / t8
    printf "\n" }'
done
echo "  It leaves out the memory bandwidth and the disk, which do not grow with the cores."
rm -f "$data/out.wav" "$data/ff.wav"
