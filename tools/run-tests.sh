#!/usr/bin/env bash
# Builds and runs every test: an optimised build and its tests, the same
# under AddressSanitizer + UndefinedBehaviorSanitizer, the fuzz regression
# inputs and a short fuzz run of each target. Installs what is missing first
# (tools/deps.sh) and says how long each step took.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh test
# The fuzz build needs clang's libFuzzer runtime: find out now, not after the builds.
echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
  clang++ -fsanitize=fuzzer -x c++ - -o /dev/null || { echo "clang++ cannot link libFuzzer targets" >&2; exit 1; }
jobs=$(nproc 2>/dev/null || echo 2)
step() {  # step NAME COMMAND...
  local t=$SECONDS
  "${@:2}"
  echo "== $1: $((SECONDS - t)) s"
}
step "release build" bash -c "cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build build -j $jobs"
step "release tests" ctest --test-dir build --output-on-failure -j "$jobs"
step "sanitizer build" bash -c "cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDSD_SANITIZE=ON >/dev/null && cmake --build build-asan -j $jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "sanitizer tests" ctest --test-dir build-asan --output-on-failure -j "$jobs"
unset ASAN_OPTIONS UBSAN_OPTIONS
step "fuzzing" bash fuzz/run.sh
