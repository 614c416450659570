#!/usr/bin/env bash
# Times chanfork2chx4 splitting an 8-channel DSDIFF source of about 1 GB into
# four stereo WSD files against a plain `cp` of the same source, page cache
# warm for both, in alternating runs. Prints the median of each and their
# ratio (target: at most 2). Then times chanfork copying the three pairs of a
# 60 s 6-channel DST source at --threads=1 and --threads=2, alternating, and
# prints their medians and ratio.
#
# usage: bench/extract_bench.sh [BUILD_DIR [RUNS [CASES]]]
#   (default: build, 3 runs, CASES "split dst"; making the DST source takes
#   about 20 s)
# Needs about 3.3 GB free below $TMPDIR (or /tmp), 300 MB for the DST case
# alone; everything is removed after.
set -euo pipefail

build=${1:-build}
runs=${2:-3}
cases=${3:-split dst}
gen=$build/tools/dsdgen
split=$build/bin/chanfork2chx4
fork=$build/bin/chanfork
for exe in "$gen" "$split" "$fork"; do
  [[ -x $exe ]] || { echo "missing $exe: build first" >&2; exit 1; }
done
gen=$(realpath "$gen")
split=$(realpath "$split")
fork=$(realpath "$fork")

base=${TMPDIR:-/tmp}
need_kb=$([[ " $cases " == *" split "* ]] && echo $((3300 * 1024)) || echo $((300 * 1024)))
avail_kb=$(df -Pk "$base" | awk 'NR == 2 { print $4 }')
if (( avail_kb < need_kb )); then
  echo "need about $((need_kb / 1024)) MB free in $base, have $((avail_kb / 1024)) MB" >&2
  exit 1
fi

work=$(mktemp -d "$base/extract_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

if [[ " $cases " == *" split "* ]]; then
  # 8 channels x 128 MiB of random bytes: 1 GiB of sound data.
  bytes=$((128 * 1024 * 1024))
  "$gen" --channels=8 --bytes=$bytes --random=all:1 src.dff
  size=$(stat -c %s src.dff)
  cat src.dff > /dev/null  # warm the page cache

  cp_times=()
  split_times=()
  for ((i = 0; i < runs; ++i)); do
    sync
    t0=$(now)
    cp src.dff copy.dff
    t1=$(now)
    cp_times+=("$(elapsed "$t0" "$t1")")
    rm -f copy.dff
    sync

    t0=$(now)
    "$split" C000 C001 C002 C003 C004 C005 C006 C007 src.dff
    t1=$(now)
    split_times+=("$(elapsed "$t0" "$t1")")
    rm -f src_0.wsd src_1.wsd src_2.wsd src_3.wsd
  done

  cp_med=$(median "${cp_times[@]}")
  split_med=$(median "${split_times[@]}")
  printf 'source: %d bytes, 8 channels; %d alternating runs\n' "$size" "$runs"
  printf 'cp            runs: %s\n' "${cp_times[*]}"
  printf 'chanfork2chx4 runs: %s\n' "${split_times[*]}"
  printf 'median cp %.3f s, chanfork2chx4 %.3f s, ratio %.2f (target <= 2)\n' \
    "$cp_med" "$split_med" "$(awk -v a="$split_med" -v b="$cp_med" 'BEGIN { print a / b }')"
  rm -f src.dff
fi

if [[ " $cases " == *" dst "* ]]; then
  "$gen" --channels=6 --seconds=60 --tone=all:1000:0.5 --dst dst.dff
  cat dst.dff > /dev/null
  declare -A dst_times=([1]="" [2]="")
  for ((i = 0; i < runs; ++i)); do
    for t in 1 2; do
      t0=$(now)
      "$fork" --threads=$t dst.dff C000 C001 a.wsd C002 C003 b.wsd C004 C005 c.dff
      t1=$(now)
      dst_times[$t]+=" $(elapsed "$t0" "$t1")"
      rm -f a.wsd b.wsd c.dff
    done
  done
  # shellcheck disable=SC2086  # the lists of times split into words
  one=$(median ${dst_times[1]}) two=$(median ${dst_times[2]})
  printf 'DST source: %d bytes, 6 channels, 60 s; %d alternating runs\n' "$(stat -c %s dst.dff)" "$runs"
  printf 'chanfork --threads=1 runs:%s\nchanfork --threads=2 runs:%s\n' "${dst_times[1]}" "${dst_times[2]}"
  printf 'median --threads=1 %.3f s, --threads=2 %.3f s, speed-up %.2f\n' "$one" "$two" \
    "$(awk -v a="$one" -v b="$two" 'BEGIN { print a / b }')"
fi
