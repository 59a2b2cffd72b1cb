#!/bin/sh
# tandra-make-update as someone meets it: --help is help, an option-like name is no file, and a
# file of N records has the size the programmer's update takes.
#   make-update-test.sh TANDRA_MAKE_UPDATE
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

"$tool" --help >help.txt 2>&1 || fail "--help exits $?"
grep -q "^usage: tandra-make-update FILE \[RECORDS\]" help.txt || fail "--help prints no usage"
for name in --help --version -x; do
  "$tool" "$name" 3 >/dev/null 2>&1 && fail "$name 3 was taken for a file"
  [ -e "./$name" ] && fail "a file named $name was written"
done
"$tool" update.bin 3 >/dev/null || fail "update.bin 3"
[ "$(wc -c <update.bin)" -eq $((16 + 3 * 74)) ] || fail "update.bin is not 3 records long"
"$tool" big.bin 125 >/dev/null 2>&1 && fail "125 records were taken"
[ "$failures" -eq 0 ] && echo "all passed"
exit "$failures"
