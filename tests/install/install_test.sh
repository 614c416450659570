#!/usr/bin/env bash
# install_test.sh CMAKE BUILD_DIR
# `cmake --install` into a fresh prefix must put the three programs in
# PREFIX/bin and a manual page for each in PREFIX/share/man/man1; the
# installed programs must run, and the pages must be well-formed man pages
# that render with NAME, SYNOPSIS, DESCRIPTION, EXIT STATUS and EXAMPLES.
set -euo pipefail
cmake_bin=$1
build=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/dsdinstall.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cmake_bin" --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log"; rm -f "$prefix.log"; exit 1; }
rm -f "$prefix.log"

programs=(sigmelt chanfork chanfork2chx4)
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "$prefix/bin/$p missing or not executable"
  [ -f "$prefix/share/man/man1/$p.1" ] || fail "$prefix/share/man/man1/$p.1 missing"
done
[ "$failures" -eq 0 ] || exit 1

# The installed programs run: the usage texts and their statuses.
check_status() {  # check_status EXPECTED PROGRAM ARGS...
  local expected=$1 status=0
  shift
  "$@" >"$prefix/out" 2>&1 || status=$?
  [ "$status" -eq "$expected" ] || fail "$* ended with $status, expected $expected"
  grep -q '^usage:' "$prefix/out" || fail "$* printed no usage text"
}
check_status 0 "$prefix/bin/sigmelt" --version
check_status 213 "$prefix/bin/chanfork2chx4"
# The system keeps the low 8 bits of a status: 278 is seen as 22.
check_status 22 "$prefix/bin/chanfork"

for p in "${programs[@]}"; do
  page=$prefix/share/man/man1/$p.1
  upper=$(echo "$p" | tr '[:lower:]' '[:upper:]')
  # Well-formed source: a title line for this page, then a NAME section
  # whose line names the program.
  grep -q "^\.TH $upper 1 " "$page" || fail "$p.1: no .TH line for $upper"
  grep -A1 '^\.SH NAME$' "$page" | grep -q "^$p \\\\- " || fail "$p.1: NAME section does not name $p"
  for section in SYNOPSIS DESCRIPTION '"EXIT STATUS"|EXIT STATUS' EXAMPLES; do
    grep -Eq "^\.SH ($section)\$" "$page" || fail "$p.1: no $section section"
  done
  if command -v groff >/dev/null 2>&1; then
    # Renders without a single warning, and the sections come out.
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1) || fail "$p.1: groff failed"
    [ -z "$warnings" ] || fail "$p.1: groff warnings: $warnings"
    text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
    for heading in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
      grep -q "^$heading\$" <<<"$text" || fail "$p.1: rendered page has no $heading"
    done
    grep -Eq "^ +$p +- " <<<"$text" || fail "$p.1: rendered NAME line does not name $p"
  fi
  if command -v man >/dev/null 2>&1; then
    # man finds the page below the prefix.
    found=$(MANPATH="$prefix/share/man" man -w "$p" 2>/dev/null || true)
    [ "$found" = "$page" ] || [ "$found" = "$page.gz" ] || fail "man -w $p gave '$found'"
  fi
done

[ "$failures" -eq 0 ] || exit 1
echo "installed and checked: ${programs[*]}"
