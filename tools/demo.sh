#!/usr/bin/env bash
# Builds the tools, makes a short stereo DSD test tone with the generator,
# converts it with sigmelt and shows what came out.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja
cmake --build build

echo
echo "== a 5 s stereo DSDIFF tone at 2.8224 MHz: 1 kHz at half scale left, 440 Hz at quarter scale right"
build/tools/dsdgen --seconds=5 --tone=0:1000:0.5 --tone=1:440:0.25 build/demo.dff
ls -l build/demo.dff

echo
echo "== sigmelt build/demo.dff build/demo.wav"
build/bin/sigmelt build/demo.dff build/demo.wav

echo "== the result"
build/tools/wavinfo build/demo.wav
