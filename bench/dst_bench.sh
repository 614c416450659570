#!/usr/bin/env bash
# DST-compressed sound, on a 60 s six-channel 2.8224 MHz tone file that the
# generator codes (and the same sound stored plain):
#   1. the decoder's real-time factor on one thread (dst_decode_bench);
#   2. sigmelt on the DST file against ffmpeg converting the same DST file to
#      16-bit 44.1 kHz wave (ffmpeg -i IN -ar 44100 -sample_fmt s16 OUT),
#      alternating runs; target: sigmelt at least 1.5 times faster;
#   3. sigmelt on the DST file against sigmelt on the plain one;
#   4. chanfork2chx4 splitting the DST file into four stereo WSD files,
#      against splitting the plain one.
# Medians of wall time and of CPU time (user + system) per program.
#
# usage: bash bench/dst_bench.sh [BUILD_DIR [RUNS]]   (default: build, 3 runs)
# Needs ffmpeg and GNU time (/usr/bin/time); about 300 MB below BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target sigmelt chanfork2chx4 dsdgen dst_decode_bench >/dev/null
command -v ffmpeg >/dev/null || { echo "ffmpeg is missing (apt-get install ffmpeg)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

data=$build/bench-dst
mkdir -p "$data"
sound=(--channels=6 --seconds=60 --tone=all:1000:0.5 --tone=1:3000:0.1 --tone=4:200:0.2)
if [ ! -s "$data/six.dff" ] || [ ! -s "$data/six-plain.dff" ]; then
  echo "making $data/six.dff (DST) and six-plain.dff" >&2
  /usr/bin/time -f "  dsdgen --dst: %e s wall, %U s user" "$build/tools/dsdgen" "${sound[@]}" --dst "$data/six.dff"
  "$build/tools/dsdgen" "${sound[@]}" "$data/six-plain.dff"
fi
printf 'DST file %d bytes, plain %d bytes (%.2f : 1)\n' "$(stat -c %s "$data/six.dff")" \
  "$(stat -c %s "$data/six-plain.dff")" \
  "$(awk -v a="$(stat -c %s "$data/six-plain.dff")" -v b="$(stat -c %s "$data/six.dff")" 'BEGIN { print a / b }')"
cat "$data/six.dff" "$data/six-plain.dff" >/dev/null  # into the page cache

echo "== 1. decoder on one thread"
"$build/bench/dst_decode_bench" "$data/six.dff" "$runs" | tail -1

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Appends "wall cpu" of one run of the command to the file $1.
timed() {
  local log=$1
  shift
  /usr/bin/time -f "%e %U %S" -o "$data/time.txt" "$@" >/dev/null 2>&1
  awk '{ printf "%s %.3f\n", $1, $2 + $3 }' "$data/time.txt" >> "$log"
}
# compare NAME_A NAME_B: medians of the two logs and the ratio B / A.
compare() {
  local wa wb ca cb
  wa=$(cut -d' ' -f1 "$data/$1.log" | median); ca=$(cut -d' ' -f2 "$data/$1.log" | median)
  wb=$(cut -d' ' -f1 "$data/$2.log" | median); cb=$(cut -d' ' -f2 "$data/$2.log" | median)
  awk -v a="$1" -v b="$2" -v wa="$wa" -v wb="$wb" -v ca="$ca" -v cb="$cb" 'BEGIN {
    printf "  %-22s wall %7.3f s  cpu %7.3f s\n  %-22s wall %7.3f s  cpu %7.3f s\n  ratio %s / %s: wall %.2f, cpu %.2f\n",
           a, wa, ca, b, wb, cb, b, a, wb / wa, cb / ca }'
}

rm -f "$data"/*.log
for ((i = 0; i < runs; i++)); do
  timed "$data/sigmelt-dst.log" "$build/bin/sigmelt" "$data/six.dff" "$data/out.wav"
  timed "$data/ffmpeg-dst.log" ffmpeg -nostdin -v error -y -i "$data/six.dff" -ar 44100 -sample_fmt s16 "$data/ff.wav"
  timed "$data/sigmelt-plain.log" "$build/bin/sigmelt" "$data/six-plain.dff" "$data/out.wav"
  for src in six six-plain; do
    rm -f "$data/${src}"_?.wsd
    timed "$data/chanfork2chx4-$src.log" "$build/bin/chanfork2chx4" C000 C001 C002 C003 C004 C005 C001 C004 "$data/$src.dff"
  done
done
rm -f "$data"/six_?.wsd "$data"/six-plain_?.wsd "$data/out.wav" "$data/ff.wav"
echo "== 2. sigmelt against ffmpeg, both converting the DST file ($runs runs each; target ratio >= 1.5)"
compare sigmelt-dst ffmpeg-dst
echo "== 3. sigmelt on the DST file against the same sound stored plain"
compare sigmelt-plain sigmelt-dst
echo "== 4. chanfork2chx4 splitting the DST file into four stereo WSD files, against the plain file"
compare chanfork2chx4-six-plain chanfork2chx4-six
