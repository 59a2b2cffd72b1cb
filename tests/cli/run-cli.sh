#!/bin/sh
# tandra-cli as a script or a production line runs it: exit codes, the JSON document, and
# Ctrl-C (SIGINT) in the middle of programming.
#   run-cli.sh TANDRA_CLI
set -u
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
expect() {  # expect CODE COMMAND...
  want=$1; shift
  "$@" >"$work/out" 2>"$work/err"
  got=$?
  if [ "$got" -ne "$want" ]; then
    echo "FAILED: $* exited $got, not $want"; cat "$work/out" "$work/err"
    failures=$((failures + 1))
  fi
}

head -c 32768 /dev/urandom >"$work/image.bin"
expect 0 "$cli" --version
expect 2 "$cli" verify -d 27C999 "$work/image.bin" --virtual
expect 2 "$cli" verify -d 27C256 "$work/missing.bin" --virtual
expect 1 "$cli" verify -d 27C256 -n 2 "$work/image.bin" --virtual --quiet
grep -q "socket 2: Didn't Verify at 0x00000" "$work/out" || { echo "FAILED: no result line"; failures=$((failures + 1)); }
expect 0 "$cli" convert -d 27C256 "$work/image.bin" "$work/image.hex"
expect 0 "$cli" checksum -d 27C256 "$work/image.hex" --json
grep -q '"checksum"' "$work/out" || { echo "FAILED: no checksum in the JSON"; failures=$((failures + 1)); }

# Ctrl-C two seconds into a program run of some thirteen seconds.
"$cli" program -d 27C256 -n 5 "$work/image.bin" --virtual --json >"$work/out" 2>"$work/err" &
job=$!
sleep 2
kill -INT $job
wait $job
code=$?
if [ "$code" -ne 130 ]; then
  echo "FAILED: Ctrl-C gave exit code $code, not 130"; cat "$work/out" "$work/err"
  failures=$((failures + 1))
fi
if grep -q '"passed"' "$work/out"; then
  echo "FAILED: a socket was reported passed after Ctrl-C"; failures=$((failures + 1))
fi
grep -q '"stopped": true' "$work/out" || { echo "FAILED: the stop is not in the JSON"; cat "$work/out"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "all passed"
exit $failures
