#!/usr/bin/env bash
# Cross-builds the programs and their tests for 64-bit ARM Linux
# (tools/aarch64-linux-gnu.cmake) in build-arm and runs the tests under
# qemu-user: the test programs and every program they start are the ARM
# builds. Then the ARM and host programs make the same files from the same
# sources, byte for byte: generator, converter (the host's best vector
# level against the portable one) and extractor. Installs what is missing
# first (tools/deps.sh arm). The install check is left out (it renders the
# manual pages with the host's groff and man); the fuzz run stays with the
# host build. There is no libFLAC for the target: sigmelt is built without
# FLAC output there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh arm
jobs=$(nproc 2>/dev/null || echo 2)
toolchain=$PWD/tools/aarch64-linux-gnu.cmake
gtest=$PWD/build-arm-gtest
t=$SECONDS
# GoogleTest for the target, from Debian's sources; built once.
if [ ! -f "$gtest/install/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$gtest" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$gtest/install" -DBUILD_GMOCK=OFF >/dev/null
  cmake --build "$gtest" -j "$jobs" --target install >/dev/null
fi
cmake -S . -B build-arm -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DGTest_DIR="$gtest/install/lib/cmake/GTest" -DDSD_BUILD_BENCH=OFF -DDSD_FLAC=OFF >/dev/null
cmake --build build-arm -j "$jobs"
echo "== arm build: $((SECONDS - t)) s"
t=$SECONDS
ctest --test-dir build-arm --output-on-failure -j "$jobs" -E '^install\.'
echo "== arm tests: $((SECONDS - t)) s"

t=$SECONDS
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs" --target sigmelt chanfork dsdgen >/dev/null
arm="/usr/bin/qemu-aarch64 -L /usr/aarch64-linux-gnu"
d=$(mktemp -d "${TMPDIR:-/tmp}/dsdarm.XXXXXX")
trap 'rm -rf "$d"' EXIT
same() {  # same FILE PROGRAM ARGS...: the host's and the ARM build's FILE after each runs PROGRAM
  build/$2 "${@:3}" >/dev/null && mv "$d/$1" "$d/host" && $arm build-arm/$2 "${@:3}" >/dev/null &&
    cmp "$d/host" "$d/$1" || { echo "$2 ${*:3}: the ARM build differs" >&2; exit 1; }
}
for src in "--channels=1 --format=wsd --order=9" "--channels=2 --tone=0:1000:0.5 --tone=1:440:0.25" \
    "--rate=5644800 --channels=6 --random=all:3" "--rate=11289600 --channels=10 --seconds=0.5 --tone=all:997:0.7 --random=3:9"; do
  # shellcheck disable=SC2086  # the generator's options, one word each
  same s.dff tools/dsdgen $src "$d/s.dff"
  same o.wav bin/sigmelt "$d/s.dff" "$d/o.wav"
  same o.wav bin/sigmelt --channels=0,0 "$d/s.dff" "$d/o.wav"
done
same p.wsd bin/chanfork "$d/s.dff" C002 C005 "$d/p.wsd"
echo "== arm and host write the same bytes: $((SECONDS - t)) s"
