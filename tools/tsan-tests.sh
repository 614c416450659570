#!/usr/bin/env bash
# The three programs and every test built with ThreadSanitizer (build-tsan),
# and the tests run: the programs that they start are instrumented too, so
# sigmelt's writer thread, its workers and the ring buffer between them, and
# the DST frames decoded ahead for the extractors, are all watched. Any
# report fails the run: the process stops at it with status 66, and the
# reports, also those of programs whose status a test does not look at, are
# collected and shown. Installs what is missing first (tools/deps.sh; g++
# brings the race detector's runtime along).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh test
jobs=$(nproc 2>/dev/null || echo 2)
build="build-tsan"
step() {  # step NAME COMMAND...
  local t=$SECONDS status=0
  "${@:2}" || status=$?
  echo "== $1: $((SECONDS - t)) s"
  return "$status"
}
step "thread sanitizer build" bash -c "cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDSD_TSAN=ON >/dev/null && cmake --build $build -j $jobs"
reports=$PWD/$build/tsan-reports
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:log_path=$reports/report"
status=0
step "thread sanitizer tests" ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?
if compgen -G "$reports/report.*" >/dev/null; then
  cat "$reports"/report.*
  echo "ThreadSanitizer reports: $(find "$reports" -name 'report.*' | wc -l) processes (above; kept in $reports)" >&2
  exit 1
fi
exit "$status"
