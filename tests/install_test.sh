#!/usr/bin/env bash
# install_test.sh CMAKE BUILD_DIR: `cmake --install` into a fresh prefix puts
# the three programs in PREFIX/bin and their manual pages in
# PREFIX/share/man/man1; the installed programs run, and the pages render
# without warnings, with their sections, and are found by man; each page
# names every option of its program's --help.
set -euo pipefail
prefix=$(mktemp -d "${TMPDIR:-/tmp}/dsdinstall.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
"$1" --install "$2" --prefix "$prefix" >/dev/null
for p in sigmelt chanfork chanfork2chx4; do
  page=$prefix/share/man/man1/$p.1
  [ -x "$prefix/bin/$p" ] && [ -f "$page" ] || fail "$p or its page missing"
  status=0; "$prefix/bin/$p" >"$prefix/out" 2>&1 || status=$?
  grep -q '^usage:' "$prefix/out" || fail "$p without arguments printed no usage text (status $status)"
  [ -z "$(groff -man -Tutf8 -ww -z "$page" 2>&1)" ] || fail "$p.1: groff warnings"
  [ "$(groff -man -Tutf8 -P-cbou "$page" | grep -cE '^(NAME|SYNOPSIS|DESCRIPTION|EXIT STATUS|EXAMPLES)$')" = 5 ] || fail "$p.1: sections"
  [ "$(MANPATH="$prefix/share/man" man -w "$p")" = "$page" ] || fail "man does not find $p"
done
"$prefix/bin/sigmelt" --version | grep -q '^usage:' || fail "sigmelt --version"
for p in sigmelt chanfork chanfork2chx4; do
  page=$(groff -man -Tutf8 -P-cbou "$prefix/share/man/man1/$p.1")
  for o in $("$prefix/bin/$p" --help | grep -oP '^\t\K--[a-z]+'); do grep -q -- "$o" <<<"$page" || fail "$p.1 lacks $o"; done
done
echo "installed and checked"
