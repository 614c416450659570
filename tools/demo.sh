#!/usr/bin/env bash
# Builds the converter, the generator and wavinfo (nothing else), makes a
# short stereo DSD test tone, converts it with sigmelt and shows what came
# out. Installs the build tools first when they are missing (tools/deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target sigmelt dsdgen wavinfo

echo
echo "== a 5 s stereo DSDIFF tone at 2.8224 MHz: 1 kHz at half scale left, 440 Hz at quarter scale right"
build/tools/dsdgen --seconds=5 --tone=0:1000:0.5 --tone=1:440:0.25 build/demo.dff
ls -l build/demo.dff

echo
echo "== sigmelt build/demo.dff build/demo.wav"
build/bin/sigmelt build/demo.dff build/demo.wav

echo "== the result"
build/tools/wavinfo build/demo.wav
