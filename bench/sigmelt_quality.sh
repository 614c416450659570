#!/usr/bin/env bash
# Measures sigmelt's output modes on generator tones, as the converter's
# tests check them, and prints the figures: per input rate and mode the
# level of 1 kHz at 0.5 (-6.02 dBFS) and its THD+N from 20 Hz to 20 kHz, the
# level of 20 kHz at 0.5 against flat, and the tone at (output rate - 20 kHz
# + 1 kHz), at 0.25, at its alias of 19 kHz; then dither, gain and the
# steep float output beside ffmpeg's float conversion of the same file.
#
# usage: bash bench/sigmelt_quality.sh [BUILD_DIR [SECONDS]]
#   SECONDS  length of the tones (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-2}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target sigmelt dsdgen wavinfo >/dev/null
sigmelt=$build/bin/sigmelt
wavinfo=$build/tools/wavinfo
data=$build/bench-quality
mkdir -p "$data"

# The left side of a conversion: "LEVEL THD+N HARMONIC" at HZ.
measure() {  # measure HZ SIGMELT_ARGS...
  local hz=$1
  shift
  "$sigmelt" "$@" "$data/out.wav" >/dev/null
  "$wavinfo" "$data/out.wav" "$hz" | awk '/left:/ { print $5, $8, $15 }'
}

printf '%-9s %-26s %10s %9s %10s %12s\n' input mode level_dB THD+N_dB 20k_dB alias_dB
for rate in 2822400 5644800 11289600; do
  src=$data/tones-$rate.dff
  "$build/tools/dsdgen" --rate=$rate --channels=5 --seconds="$seconds" --tone=0:1000:0.5 --tone=1:20000:0.5 \
    --tone=2:69200:0.25 --tone=3:157400:0.25 --tone=4:25100:0.25 "$src"
  for mode in "--bits=24 --rate=88200:2" "--bits=24 --rate=176400:3" "--bits=24 --filter=steep:4" "--float --filter=steep:4"; do
    # shellcheck disable=SC2086
    read -r level noise _ < <(measure 1000 ${mode%:*} --channels=0,0 "$src")
    # shellcheck disable=SC2086
    read -r flat _ < <(measure 20000 ${mode%:*} --channels=1,1 "$src")
    # shellcheck disable=SC2086
    read -r alias _ < <(measure 19000 ${mode%:*} --channels="${mode#*:},0" "$src")
    awk -v r="$rate" -v m="${mode%:*}" -v l="$level" -v n="$noise" -v f="$flat" -v a="$alias" 'BEGIN {
      printf "%-9s %-26s %+10.4f %9.1f %+10.4f %12.1f\n", r, m, l + 6.0206, n, f + 6.0206, a + 12.0412 }'
  done
done
echo "level: re 0.5; 20k: re 0.5 (flat = 0); alias: re the 0.25 tone."
src=$data/tones-2822400.dff
echo
for mode in "" "--dither" "--gain=0 --bits=24" "--gain=6 --bits=24" "--float"; do
  # shellcheck disable=SC2086
  read -r level noise harmonic < <(measure 1000 $mode --channels=0,0 "$src")
  printf '%-20s 1 kHz at %+.4f dB re -6.0206 dBFS, THD+N %.1f dB, highest harmonic %.1f dB\n' "${mode:-(default)}" \
    "$(awk -v l="$level" 'BEGIN { print l + 6.0206 }')" "$noise" "$harmonic"
done
if command -v ffmpeg >/dev/null; then
  ffmpeg -nostdin -v error -y -i "$src" -af pan="stereo|c0=c0|c1=c0" -ar 44100 -c:a pcm_f32le "$data/ffmpeg.wav"
  printf '%-20s ' "ffmpeg float 44.1k"
  "$wavinfo" "$data/ffmpeg.wav" 1000 | awk '/left:/ { printf "1 kHz at %+.4f dB re -6.0206 dBFS, THD+N %.1f dB\n", $5 + 6.0206, $8 }'
fi
