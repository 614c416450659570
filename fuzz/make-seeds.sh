#!/usr/bin/env bash
# Makes the seed corpus with the test-signal generator: small well-formed
# DSDIFF and WSD files at every rate and channel count, and every malformed
# shape the generator knows.
#   fuzz/make-seeds.sh DSDGEN OUTDIR
set -euo pipefail
gen=$1
out=$2
mkdir -p "$out"
n=0
seed() {  # seed NAME ARGS...: one file; a refused shape is a fault here
  local name=$1
  shift
  "$gen" "$@" "$out/$name" >/dev/null
  n=$((n + 1))
}

for fmt in dff wsd; do
  for rate in 2822400 5644800 11289600; do
    for ch in 1 2 3 4 5 6 7 8 9 10; do
      seed "valid-$rate-$ch.$fmt" --format=$fmt --rate=$rate --channels=$ch --bytes=64 --random=all:$ch
    done
  done
  seed "rate-44100.$fmt" --format=$fmt --rate=44100 --bytes=64
  seed "rate-0.$fmt" --format=$fmt --rate=0 --bytes=64
  seed "tone.$fmt" --format=$fmt --channels=2 --bytes=96 --tone=all:1000:0.5
  seed "empty.$fmt" --format=$fmt --bytes=0
  seed "odd-bytes.$fmt" --format=$fmt --channels=3 --bytes=63
  seed "header-only.$fmt" --format=$fmt --bytes=64 --header-only
done

# DSDIFF shapes, each on a small stereo (or eight-channel) file.
d="--format=dff --bytes=64"
seed fver-none.dff $d --no-fver
seed fver-size8.dff $d --fver-size=8
seed fver-value.dff $d --fver-value=0x01040000
seed fs-none.dff $d --no-fs
seed fs-size8.dff $d --fs-size=8
seed chnl-none.dff $d --no-chnl
seed chnl-count0.dff $d --chnl-count=0
seed chnl-count11.dff $d --chnl-count=11
seed chnl-size12.dff $d --chnl-size=12
seed chnl8.dff $d --channels=8
seed ids-odd.dff $d --channels=3 '--ids=\x00AB,\xff\xfe\xfd\xfc,C0'
seed ids-same.dff $d --channels=3 --ids=SAME,SAME,DIFF
seed cmpr-none.dff $d --no-cmpr
seed cmpr-dst.dff $d '--cmpr-type=DST '
seed cmpr-bad.dff $d --cmpr-type=XXXX
seed cmpr-odd.dff $d --cmpr-name=odd
seed cmpr-empty.dff $d --cmpr-name=
seed abss.dff $d --abss
seed abss-size6.dff $d --abss --abss-size=6
seed lsco.dff $d --lsco
seed lsco-size4.dff $d --lsco --lsco-size=4
seed unknown-chunk.dff $d --unknown-chunk=COMT:5 --unknown-chunk=DIIN:0
seed unknown-prop.dff $d --unknown-prop=XYZW:3 --unknown-prop=ID3\ :0
seed trailing.dff $d --trailing-chunk=DIIN:7 --trailing-chunk=MANF:4
seed form-size0.dff $d --form-size=0
seed form-size-big.dff $d --form-size=0xFFFFFFFFFFFFFFF0
seed form-size-small.dff $d --form-size=40
seed prop-size-small.dff $d --prop-size=20
seed prop-size-big.dff $d --prop-size=0x8000000000000000
seed data-size-big.dff $d --data-size=100000
seed data-size-2e63.dff $d --data-size=0x8000000000000000
seed data-size-odd.dff $d --channels=3 --data-size=7
seed sound-dst.dff $d '--sound-id=DST '
seed sound-other.dff $d --sound-id=XDSD
seed dsti.dff $d --dsti
for cut in 4 12 16 30 60 100 140; do
  seed "truncated-$cut.dff" $d --truncate=$cut
done

# WSD shapes.
w="--format=wsd --bytes=64"
seed size-be64.wsd $w --wsd-size-order=be64
seed file-size0.wsd $w --wsd-file-size=0
seed file-size-big.wsd $w --wsd-file-size=0xFFFFFFFFFFFFFFFF
seed data-offset0.wsd $w --wsd-data-offset=0
seed data-offset1.wsd $w --wsd-data-offset=1
seed data-offset-far.wsd $w --wsd-data-offset=0xFFFFFFFF
seed channels0.wsd $w --wsd-channels=0
seed channels1.wsd $w --wsd-channels=1
seed channels11.wsd $w --wsd-channels=11
seed version.wsd $w --wsd-version=255
seed text-offset.wsd $w --wsd-text-offset=0
seed play-time.wsd $w --wsd-play-time=0xFFFFFFFF
seed assignment.wsd $w --wsd-assignment=0x44000000
for cut in 4 10 20 40 45 56 2047 2050; do
  seed "truncated-$cut.wsd" $w --truncate=$cut
done

echo "$n seed files in $out"
