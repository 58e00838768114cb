#!/bin/sh
# cmake --install of a build: the installed tarnel finds its plug-in in
# ../lib/tarnel/, round-trips a file from another folder, and says so when
# it is copied away from it; the manual page renders without warnings; the
# bash completion completes commands, options and an archive's members,
# and never runs what a member name holds.
#   install_test.sh BUILD-FOLDER
set -eu
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnel-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "install test: FAILED: $*" >&2
  exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  fail "cmake --install"
}
for file in bin/tarnel lib/tarnel/tarnel.wcx lib/tarnel/SFMpq.dll share/man/man1/tarnel.1 \
  share/bash-completion/completions/tarnel; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
[ -x "$prefix/bin/tarnel" ] || fail "bin/tarnel cannot be run"
# Whatever the archive library runs beside it goes with it.
if [ -f "$build/out/sfmpq-engine" ]; then
  [ -x "$prefix/lib/tarnel/sfmpq-engine" ] || fail "lib/tarnel/sfmpq-engine is not installed"
fi

export HOME="$work/home"
mkdir -p "$HOME" "$work/src" "$work/elsewhere"
printf 'hello\n' >"$work/src/hello.txt"
printf 'dollar\n' >"$work/src/\$(touch pwned)"
cd "$work/elsewhere"
"$prefix/bin/tarnel" add "$work/a.mpq" -C "$work/src" . || fail "add through the installed tarnel"
"$prefix/bin/tarnel" extract "$work/a.mpq" -C "$work/out" hello.txt || fail "extract"
cmp "$work/src/hello.txt" "$work/out/hello.txt" || fail "the round trip changed hello.txt"

cp "$prefix/bin/tarnel" "$work/alone"
if "$work/alone" list "$work/a.mpq" 2>"$work/alone.err"; then
  fail "tarnel without its plug-in succeeded"
fi
grep -q "cannot find the plug-in" "$work/alone.err" || fail "tarnel alone: $(cat "$work/alone.err")"

if command -v groff >/dev/null; then
  groff -t -man -ww -z -Tutf8 "$prefix/share/man/man1/tarnel.1" 2>"$work/groff.err" || true
  [ ! -s "$work/groff.err" ] || fail "the manual page: $(cat "$work/groff.err")"
fi

PATH="$prefix/bin:$PATH" bash -c '
  . "$1"
  complete_line() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _tarnel
    printf "%s\n" "${COMPREPLY[@]}"
  }
  [ "$(complete_line tarnel ex)" = extract ] || exit 1
  complete_line tarnel extract a.mpq --ke | grep -qx -- --keep-old-files || exit 2
  [ -z "$(complete_line tarnel list a.mpq --ke)" ] || exit 3
  [ "$(complete_line tarnel extract "$2" -C out he)" = hello.txt ] || exit 4
  [ "$(complete_line tarnel delete -v "$2" "\$")" = "\$(touch pwned)" ] || exit 5
' sh "$prefix/share/bash-completion/completions/tarnel" "$work/a.mpq" ||
  fail "bash completion, check $?"
[ ! -e pwned ] || fail "the completion ran a member name"
echo "install test: passed"
