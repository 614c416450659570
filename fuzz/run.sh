#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer + UBSan) in
# build-fuzz, replays the regression corpus fuzz/regressions/<target>/, then
# runs every target for a bounded time over a fresh copy of the seed corpus
# that the test-signal generator makes. Exits non-zero on any finding; the
# inputs found are left in build-fuzz/findings/<target>/.
#   bash fuzz/run.sh                  30 s per target
#   FUZZ_SECONDS=300 bash fuzz/run.sh longer runs
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
build=build-fuzz
jobs=$(nproc 2>/dev/null || echo 2)
targets=(dsdiff_reader wsd_reader sigmelt chanfork chanfork2chx4)

cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}"
cmake --build "$build" -j "$jobs"

rm -rf "$build/seeds" "$build/corpus" "$build/findings"
bash fuzz/make-seeds.sh "$build/dsdgen" "$build/seeds"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
common=(-max_len=8192 -timeout=10 -rss_limit_mb=2048)
failed=()
summary=()

for t in "${targets[@]}"; do
  bin=$build/fuzz_$t
  mkdir -p "$build/findings/$t"
  regressions=(fuzz/regressions/"$t"/*)
  if [ -e "${regressions[0]}" ]; then
    echo "== $t: replaying ${#regressions[@]} regression inputs"
    if ! "$bin" "${common[@]}" -artifact_prefix="$build/findings/$t/" "${regressions[@]}"; then
      failed+=("$t (regression corpus)")
      continue
    fi
  fi

  echo "== $t: fuzzing for $seconds s"
  mkdir -p "$build/corpus/$t"
  cp "$build/seeds"/* "$build/corpus/$t/"
  log=$build/findings/$t.log
  # Standard error of the programs themselves is closed: their reports on
  # every refused input would drown the fuzzer's own lines.
  if "$bin" "${common[@]}" -max_total_time="$seconds" -close_fd_mask=2 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$t/" "$build/corpus/$t" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    summary+=("$t: ${runs:-?} executions, nothing found")
  else
    tail -n 40 "$log"
    failed+=("$t (see $log and $build/findings/$t/)")
  fi
done

echo
for line in "${summary[@]}"; do echo "fuzz $line"; done
if [ ${#failed[@]} -gt 0 ]; then
  for t in "${failed[@]}"; do echo "fuzz FINDING: $t"; done
  exit 1
fi
