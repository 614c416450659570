#!/usr/bin/env bash
# sigmelt across thread counts (--threads=N):
#   a. a 60 s stereo 2.8224 MHz DSDIFF at the default count, 1 and 2 threads,
#      against ffmpeg -i IN -ar 44100 -sample_fmt s16 OUT; target: ffmpeg /
#      sigmelt at least 5 with the default;
#   b. a 60 s six-channel DST DSDIFF at 1 and 2 threads; target: at least
#      1.8 times faster with 2;
#   c. peak resident memory at 1, 2, 4, 8, 16 and 64 threads on those two
#      files and on a 10-channel 11.2896 MHz one; target: under 32 MiB;
#   d. the CPU time of each thread of one run at 2 threads: the workers'
#      share is the parallel part, the main thread's (reading, the DST
#      frames' bytes, samples into the ring buffer) and the writer's the
#      serial one, and Amdahl's law gives the time on 8 cores.
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

# thread_cpu FILE: runs sigmelt --threads=2 on FILE, polling the CPU time
# of each of its threads (ns, /proc/PID/task/TID/schedstat) until it ends;
# prints "main writer workers". The writer is the first thread started
# after the main one (lowest other id); the rest are the workers. A thread's
# time after the last poll (2 ms apart) is not counted. No process is
# started for the polls (read and its timeout are the shell's own), so the
# poller takes little from the run.
thread_cpu() {
  local pid t v tid
  local -A cpu=()
  exec {idle}<> <(:)
  "$sigmelt" --threads=2 "$1" "$data/out.wav" >/dev/null &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    for t in /proc/"$pid"/task/*; do
      read -r v _ 2>/dev/null < "$t/schedstat" || continue
      cpu[${t##*/}]=$v
    done
    read -r -t 0.002 -u "$idle" _ || true
  done
  wait "$pid"
  exec {idle}<&-
  local main=${cpu[$pid]:-0} writer=0 workers=0 first=1
  for tid in $(printf '%s\n' "${!cpu[@]}" | sort -n); do
    [ "$tid" = "$pid" ] && continue
    if ((first)); then writer=${cpu[$tid]}; first=0; else workers=$((workers + cpu[$tid])); fi
  done
  echo "$main $writer $workers"
}

echo "== d. CPU time per thread at --threads=2 (median of $runs runs) and an estimate for 8 cores"
printf '  %-8s %8s %9s %10s %6s %10s %10s %11s\n' file main_ms writer_ms workers_ms p 1-core_s 8-core_s speedup
for name in stereo dst6; do
  : > "$data/d.log"
  for ((i = 0; i < runs; i++)); do thread_cpu "$data/$name.dff" >> "$data/d.log"; done
  m=$(cut -d' ' -f1 "$data/d.log" | median)
  w=$(cut -d' ' -f2 "$data/d.log" | median)
  k=$(cut -d' ' -f3 "$data/d.log" | median)
  extra=""
  [ "$name" = stereo ] && extra=$ff
  awk -v n="$name" -v m="$m" -v w="$w" -v k="$k" -v ff="$extra" 'BEGIN {
    s = (m + w) / 1e9; par = k / 1e9; p = par / (s + par); t8 = s + par / 8
    printf "  %-8s %8.1f %9.1f %10.1f %6.3f %10.3f %10.3f %10.2fx", n, m / 1e6, w / 1e6, k / 1e6, p, s + par, t8, (s + par) / t8
    if (ff != "") printf "  (ffmpeg / sigmelt on 8 cores: %.1f)", ff / t8
    printf "\n" }'
done
rm -f "$data/out.wav" "$data/ff.wav"
cat <<TEXT
  p: the workers' share of the CPU time (the decimation of the runs, with
  their 32-block replays, and the DST frames). Amdahl's law: on N cores the
  run takes serial + parallel / N, with serial = main + writer (an upper
  bound: these two run beside each other and beside the workers) and
  parallel = the workers' time; 1-core_s is the sum, 8-core_s the time at
  N = 8, speedup their ratio. It leaves out the memory bandwidth and the
  disk, which do not grow with the cores.
TEXT
