#!/usr/bin/env bash
# tools/deps.sh build|test|arm: makes sure the Debian packages for building
# the programs (build), for building and running every test (test) or for
# the cross build and emulated test run for 64-bit ARM (arm) are here.
# Missing ones are installed with apt-get when run as root; otherwise the
# command to run is printed and the script fails.
set -euo pipefail
# libFLAC for sigmelt's FLAC output, found through pkg-config.
packages=(g++ cmake ninja-build pkg-config libflac-dev)
if [ "${1:-build}" = test ]; then
  # GoogleTest; clang with its libFuzzer runtime; ffmpeg, flac and python's
  # soundfile for the interop checks; groff and man for the installed manual
  # pages.
  packages+=(libgtest-dev clang libclang-rt-14-dev ffmpeg flac python3-soundfile python3-numpy groff man-db)
elif [ "${1:-build}" = arm ]; then
  # The cross compiler and target C library, the emulator, and GoogleTest's
  # sources to build for the target. (No libFLAC for the target: Debian's
  # arm64 C library beside the cross one breaks the emulated threads.)
  packages+=(g++-aarch64-linux-gnu libc6-dev-arm64-cross qemu-user googletest)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages; run: sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
echo "installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
