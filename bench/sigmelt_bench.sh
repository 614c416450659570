#!/usr/bin/env bash
# Times sigmelt against ffmpeg converting the same 60 s DSD files to 16-bit
# 44.1 kHz wave (ffmpeg -i IN -ar 44100 -sample_fmt s16 OUT), runs
# alternating, and prints the median wall times and their ratio. Also the
# peak resident memory of sigmelt and the CPU time of its writer thread.
# Then the same for each output mode on the stereo 2.8224 MHz file, against
# ffmpeg making the same kind of file (rate, sample format, FLAC).
#
# usage: bash bench/sigmelt_bench.sh [BUILD_DIR [RUNS]]
#   BUILD_DIR  an optimised build (default: build; configured and built
#              here when missing)
#   RUNS       runs of each program per file (default 5)
# Needs ffmpeg (Debian: apt-get install ffmpeg) and GNU time (/usr/bin/time).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target sigmelt dsdgen >/dev/null
sigmelt=$build/bin/sigmelt
dsdgen=$build/tools/dsdgen
command -v ffmpeg >/dev/null || { echo "ffmpeg is missing (apt-get install ffmpeg)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

data=$build/bench-sigmelt
mkdir -p "$data"

# name: generator arguments
declare -A sources=(
  [stereo-2.8M]="--seconds=60 --tone=0:1000:0.5 --tone=1:440:0.25"
  [stereo-5.6M]="--rate=5644800 --seconds=60 --tone=0:1000:0.5 --tone=1:440:0.25"
  [stereo-11.2M]="--rate=11289600 --seconds=60 --tone=0:1000:0.5 --tone=1:440:0.25"
  [6ch-2.8M]="--channels=6 --seconds=60 --tone=all:1000:0.5"
)
order=(stereo-2.8M stereo-5.6M stereo-11.2M 6ch-2.8M)

for name in "${order[@]}"; do
  if [ ! -s "$data/$name.dff" ]; then
    echo "making $data/$name.dff" >&2
    # shellcheck disable=SC2086
    "$dsdgen" ${sources[$name]} "$data/$name.dff"
  fi
done

now() { date +%s%N; }

median() {  # of the numbers on standard input
  sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# CPU time in ns of every thread of a running sigmelt, polled until it ends;
# prints "main writer" (the last values seen; the writer's last act, the
# header rewrite, may fall after the last poll).
thread_cpu() {
  "$sigmelt" "$1" "$2" >/dev/null &
  local pid=$! main=0 writer=0 t v
  while kill -0 "$pid" 2>/dev/null; do
    for t in /proc/"$pid"/task/*; do
      v=$(cut -d' ' -f1 "$t/schedstat" 2>/dev/null) || continue
      [ -n "$v" ] || continue
      if [ "${t##*/}" = "$pid" ]; then main=$v; else writer=$v; fi
    done
    sleep 0.002
  done
  wait "$pid"
  echo "$main $writer"
}

# Wall time, CPU time (user + system) and peak resident memory of one run.
timed() {
  /usr/bin/time -f "%e %U %S %M" -o "$data/time.txt" "$@" >/dev/null
  awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$data/time.txt"
}

printf '%-13s %9s %9s %7s %9s %9s %7s %9s %10s %10s\n' file sigmelt_s ffmpeg_s ratio \
  sm_cpu_s ff_cpu_s ratio peak_MiB main_ms writer_ms
for name in "${order[@]}"; do
  in=$data/$name.dff
  : > "$data/ours.txt"
  : > "$data/theirs.txt"
  for ((i = 0; i < runs; i++)); do
    timed "$sigmelt" "$in" "$data/out-sigmelt.wav" >> "$data/ours.txt"
    timed ffmpeg -nostdin -v error -y -i "$in" -ar 44100 -sample_fmt s16 "$data/out-ffmpeg.wav" >> "$data/theirs.txt"
  done
  wall_ours=$(cut -d' ' -f1 "$data/ours.txt" | median)
  wall_theirs=$(cut -d' ' -f1 "$data/theirs.txt" | median)
  cpu_ours=$(cut -d' ' -f2 "$data/ours.txt" | median)
  cpu_theirs=$(cut -d' ' -f2 "$data/theirs.txt" | median)
  peak_kib=$(cut -d' ' -f3 "$data/ours.txt" | sort -n | tail -1)
  read -r cpu_main cpu_writer < <(thread_cpu "$in" "$data/out-sigmelt.wav")
  awk -v n="$name" -v a="$wall_ours" -v b="$wall_theirs" -v c="$cpu_ours" -v d="$cpu_theirs" \
      -v r="$peak_kib" -v cm="$cpu_main" -v cw="$cpu_writer" 'BEGIN {
    printf "%-13s %9.3f %9.3f %6.2fx %9.3f %9.3f %6.2fx %9.1f %10.1f %10.1f\n",
           n, a, b, b / a, c, d, d / c, r / 1024, cm / 1e6, cw / 1e6 }'
done
# mode: sigmelt options and output extension | ffmpeg options and extension
modes=(
  "16-bit 44.1k|--bits=16 wav|-ar 44100 -c:a pcm_s16le wav"
  "24-bit 88.2k|--bits=24 --rate=88200 wav|-ar 88200 -c:a pcm_s24le wav"
  "24-bit 176.4k|--bits=24 --rate=176400 wav|-ar 176400 -c:a pcm_s24le wav"
  "steep 24-bit|--filter=steep --bits=24 wav|-ar 44100 -c:a pcm_s24le wav"
  "steep float|--filter=steep --float wav|-ar 44100 -c:a pcm_f32le wav"
  "FLAC 16 44.1k|--bits=16 flac|-ar 44100 -sample_fmt s16 -c:a flac flac"
  "FLAC 24 88.2k|--bits=24 --rate=88200 flac|-ar 88200 -sample_fmt s32 -c:a flac flac"
)
echo
printf '%-14s %9s %9s %7s %9s %9s %7s %9s\n' mode sigmelt_s ffmpeg_s ratio sm_cpu_s ff_cpu_s ratio peak_MiB
in=$data/stereo-2.8M.dff
for m in "${modes[@]}"; do
  IFS='|' read -r name ours theirs <<<"$m"
  : > "$data/ours.txt"
  : > "$data/theirs.txt"
  for ((i = 0; i < runs; i++)); do
    # shellcheck disable=SC2086
    timed "$sigmelt" ${ours% *} "$in" "$data/out-sigmelt.${ours##* }" >> "$data/ours.txt"
    # shellcheck disable=SC2086
    timed ffmpeg -nostdin -v error -y -i "$in" ${theirs% *} "$data/out-ffmpeg.${theirs##* }" >> "$data/theirs.txt"
  done
  awk -v n="$name" -v a="$(cut -d' ' -f1 "$data/ours.txt" | median)" -v b="$(cut -d' ' -f1 "$data/theirs.txt" | median)" \
      -v c="$(cut -d' ' -f2 "$data/ours.txt" | median)" -v d="$(cut -d' ' -f2 "$data/theirs.txt" | median)" \
      -v r="$(cut -d' ' -f3 "$data/ours.txt" | sort -n | tail -1)" 'BEGIN {
    printf "%-14s %9.3f %9.3f %6.2fx %9.3f %9.3f %6.2fx %9.1f\n", n, a, b, b / a, c, d, d / c, r / 1024 }'
done

cat <<TEXT
Medians of $runs alternating runs per file and per mode. ratio = ffmpeg / sigmelt (above 1:
sigmelt faster), for wall time and for CPU time (user + system; steadier on a
busy machine). peak_MiB: largest resident set of sigmelt; main_ms/writer_ms:
CPU time of sigmelt's main and writer thread in one more run.
TEXT
