#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) in build-fuzz,
# replays the regression inputs fuzz/regressions/<target>/, then runs each
# target for FUZZ_SECONDS (default 8) over seeds the generator makes: every
# rate and channel count, and each malformed shape it knows. Non-zero on any
# finding; what was found is left in build-fuzz/findings/<target>/.
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
b=build-fuzz
cmake -S fuzz -B $b -G Ninja -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}" >/dev/null
cmake --build $b -j "$(nproc)"
rm -rf $b/seeds $b/findings && mkdir -p $b/seeds
n=0
seed() { n=$((n + 1)); $b/dsdgen --bytes=64 "$@" "$b/seeds/$n.${fmt:-dff}" >/dev/null; }
for fmt in dff wsd; do
  for rate in 2822400 5644800 11289600 44100 0; do for ch in 1 2 3 8 10; do seed --format=$fmt --rate=$rate --channels=$ch --random=all:$ch; done; done
  for o in --bytes=0 --bytes=63 --header-only --truncate=4 --truncate=20 --truncate=45 --truncate=$([ $fmt = wsd ] && echo 2047 || echo 100); do seed --format=$fmt $o; done
done
fmt=dff
for o in --no-fver --fver-size=8 --no-fs --fs-size=8 --no-chnl --chnl-count={0,11} --chnl-size=12 '--ids=\x00AB,\xff\xfe' \
    --ids=SAME,SAME --no-cmpr '--cmpr-type=DST ' --cmpr-type=XXXX --cmpr-name={odd,} --abss '--abss --abss-size=6' --lsco \
    '--lsco --lsco-size=4' --unknown-chunk=COMT:5 --unknown-prop=XYZW:3 --trailing-chunk=DIIN:7 --form-size={0,0xFFFFFFFFFFFFFFF0,40} \
    --prop-size={20,0x8000000000000000} --data-size={100000,0x8000000000000000,7} '--sound-id=DST ' --sound-id=XDSD --dsti; do
  seed --channels=2 $o  # unquoted: some entries hold two options
done
for o in --diin=T:A --title=T '--id3-version=3 --title=T --artist=A --diin=X:Y' '--trailing-chunk=ID3\x20:20'; do seed --channels=2 $o; done
fmt=dsf  # 512 bytes a channel: one channel fits the programs' 8 KiB inputs, more are cut there (not in the reader's 32 KiB)
for rate in 2822400 5644800 11289600; do for ch in 1 2 3 6; do seed --format=dsf --rate=$rate --channels=$ch --random=all:$ch --bytes=512; done; done
for o in --dsf-field={version:2,format_id:1,channel_type:0,channel_type:8,channel_type:5,channels:3,rate:44100,bits:8,bits:2,block:2048} \
    --dsf-field={data_size:11,data_size:0xFFFFFFFFFFFFFFFF,samples:0,samples:4093,samples:0xFFFFFFFFFFFFFFFF,metadata:91,metadata:300} \
    --dsf-field={dsd_id:XXXX,dsd_size:0,fmt_id:XXXX,fmt_size:0,data_id:XXXX} '--title=T --artist=A' '--id3-version=3 --title=T' \
    --truncate={91,100,4188,8283} --header-only; do
  seed --format=dsf --channels=2 --bytes=512 $o
done
fmt=dff
for o in --dst=coded --dst=mix --dst=mix-coded --dst=plain --dstc --dsti-after --dst-subchunk=XYZW:3 --frte-count={0,2} \
    --dst-corrupt={plain-reserved,segmented,filter-method,table-method,short-coded,coefficient,probability,reserved,cut,overrun,huge}:0; do
  for ch in 1 3; do seed --bytes=4704 --channels=$ch --tone=0:1000:0.5 $([ "${o#--dst=}" = "$o" ] && echo --dst) $o; done
done
seed --bytes=4704 --channels=3 --dst --dst-corrupt=map:0
fmt=wsd
for o in --wsd-size-order=be64 --wsd-file-size={0,0xFFFFFFFFFFFFFFFF} --wsd-data-offset={0,1,0xFFFFFFFF} --wsd-channels={0,1,11}; do
  seed --format=wsd $o
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
status=0
for t in dsdiff_reader wsd_reader dsf_reader dst_frames sigmelt chanfork chanfork2chx4; do
  mkdir -p $b/findings/$t $b/corpus/$t && cp $b/seeds/* $b/corpus/$t/
  opts=(-max_len=$([ $t = dsf_reader ] && echo 32768 || echo 8192) -timeout=10 -rss_limit_mb=2048 -artifact_prefix=$b/findings/$t/)
  regressions=(fuzz/regressions/$t/*)
  [ ${#regressions[@]} -gt 0 ] && { $b/fuzz_$t "${opts[@]}" "${regressions[@]}" >$b/findings/$t.log 2>&1 || { tail -20 $b/findings/$t.log; status=1; continue; }; }
  # The programs' own reports on stderr are closed: they would drown the fuzzer's lines.
  if $b/fuzz_$t "${opts[@]}" -max_total_time="${FUZZ_SECONDS:-8}" -close_fd_mask=2 -print_final_stats=1 \
      $b/corpus/$t >$b/findings/$t.log 2>&1; then
    echo "fuzz $t: $(sed -n 's/^stat::number_of_executed_units: *//p' $b/findings/$t.log) runs, ${#regressions[@]} regressions, nothing found"
  else
    tail -40 $b/findings/$t.log; echo "fuzz $t: FINDING in $b/findings/$t/"; status=1
  fi
done
exit $status
