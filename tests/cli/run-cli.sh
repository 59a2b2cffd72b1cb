#!/bin/bash
# tandra-cli as a script or a production line runs it: exit codes, pipes and names of standard
# input and output, outputs that fail, signals in the middle of programming, and every job's
# JSON record checked against the schema.
#   run-cli.sh TANDRA_CLI SCHEMA
set -u
cli=$1
schema=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
failed() { echo "FAILED: $*"; failures=$((failures + 1)); }
expect() {  # expect CODE COMMAND...
  want=$1; shift
  "$@" >"$work/out" 2>"$work/err"
  got=$?
  [ "$got" -eq "$want" ] || { failed "$* exited $got, not $want"; cat "$work/out" "$work/err"; }
}

head -c 32768 /dev/urandom >"$work/image.bin"
expect 0 "$cli" --version
grep -qx "tandra-cli [0-9.]*" "$work/out" || failed "--version says '$(cat "$work/out")'"
expect 2 "$cli" verify -d 27C999 "$work/image.bin" --virtual
expect 2 "$cli" verify -d 27C256 "$work/missing.bin" --virtual
expect 1 "$cli" verify -d 27C256 -n 2 "$work/image.bin" --virtual --quiet
grep -q "socket 2: Didn't Verify at 0x00000" "$work/out" || failed "no result line"
expect 0 "$cli" convert -d 27C256 "$work/image.bin" "$work/image.hex"

# One image, five ways in: a file, "-", a named pipe, /dev/stdin and a process substitution.
expect 0 "$cli" checksum -d 27C256 "$work/image.hex"
want=$(cat "$work/out" | head -1)
got=$(cat "$work/image.hex" | "$cli" checksum -d 27C256 - 2>/dev/null | head -1)
[ "$got" = "$want" ] || failed "'-' gives $got, the file $want"
got=$(cat "$work/image.hex" | "$cli" checksum -d 27C256 /dev/stdin 2>/dev/null | head -1)
[ "$got" = "$want" ] || failed "/dev/stdin gives $got, the file $want"
got=$("$cli" checksum -d 27C256 <(cat "$work/image.hex") 2>/dev/null | head -1)
[ "$got" = "$want" ] || failed "<(...) gives $got, the file $want"
mkfifo "$work/fifo"
(cat "$work/image.hex" >"$work/fifo" &)
got=$("$cli" checksum -d 27C256 "$work/fifo" 2>/dev/null | head -1)
[ "$got" = "$want" ] || failed "a named pipe gives $got, the file $want"
# A piped image programmed, and read back through standard output.
cat "$work/image.hex" | "$cli" program -d 27C256 -n 2 - --virtual >"$work/out" 2>&1 ||
  failed "a piped image does not program: $(cat "$work/out")"
want=$(sha256sum <"$work/image.bin" | cut -d' ' -f1)
for name in - /dev/stdout; do
  got=$("$cli" read -d 27C256 "$name" --virtual --virtual-chips "$work/image.bin" 2>/dev/null |
        sha256sum | cut -d' ' -f1)
  [ "$got" = "$want" ] || failed "read to $name does not give the chip's bytes"
done

# A record that cannot be written is an error, not a silent success.
"$cli" checksum -d 27C256 "$work/image.bin" >/dev/full 2>"$work/err"
[ $? -eq 2 ] && grep -q "could not be written" "$work/err" || failed "/dev/full is not an error"
"$cli" checksum -d 27C256 "$work/image.bin" --json >/dev/full 2>"$work/err"
[ $? -eq 2 ] || failed "/dev/full with --json is not an error"
"$cli" checksum -d 27C256 "$work/image.bin" >&- 2>"$work/err"
[ $? -eq 2 ] && grep -q "standard output is closed" "$work/err" || failed "a closed stdout is not an error"
# A reader that goes away stops the job as a signal does.
"$cli" program -d 27C256 -n 5 "$work/image.bin" --virtual 2>&1 | head -1 >/dev/null
code=${PIPESTATUS[0]}
[ "$code" -eq 141 ] || failed "a reader gone gave exit code $code, not 141"

# Signals a second into a program run of some ten seconds.
for signal in INT:130 TERM:143 HUP:129; do
  "$cli" program -d 27C256 -n 5 "$work/image.bin" --virtual --json >"$work/out" 2>"$work/err" &
  job=$!
  sleep 1.5
  kill -"${signal%:*}" $job
  wait $job
  code=$?
  [ "$code" -eq "${signal#*:}" ] || failed "SIG${signal%:*} gave exit code $code"
  grep -q '"passed"' "$work/out" && failed "a socket was reported passed after SIG${signal%:*}"
  grep -q "\"stopped_by\": \"SIG${signal%:*}\"" "$work/out" || failed "SIG${signal%:*} not in the record"
done

# Chips kept in a folder: programmed in one run, verified in the next, as on a real programmer.
head -c 2048 "$work/image.bin" >"$work/small.bin"
expect 0 "$cli" program -d 2716 -n 3 "$work/small.bin" --virtual --virtual-state "$work/chips" --quiet
expect 0 "$cli" verify -d 2716 -n 3 "$work/small.bin" --virtual --virtual-state "$work/chips" --quiet
expect 1 "$cli" blank -d 2716 -n 3 --virtual --virtual-state "$work/chips" --quiet

# A line's log holds every line written before a kill, each whole.
mkfifo "$work/keys"
"$cli" program -d 27C256 -n 2 "$work/image.bin" --virtual --repeat --log "$work/line.log" \
  --quiet <"$work/keys" >/dev/null 2>&1 &
job=$!
exec 4>"$work/keys"
printf '\n' >&4  # the second set starts at once after the first
for _ in $(seq 300); do
  [ -s "$work/line.log" ] && [ "$(wc -l <"$work/line.log")" -ge 2 ] && break
  sleep 0.1
done
sleep 1
kill -KILL $job
wait $job 2>/dev/null
exec 4>&-
/usr/bin/python3 -c '
import json, sys
lines = open(sys.argv[1]).read().split("\n")
assert lines[-1] == "", "a line cut short"
records = [json.loads(line) for line in lines[:-1]]
assert len(records) == 2 and [r["socket"] for r in records] == [1, 2], records
' "$work/line.log" || failed "the log after a kill is not two whole lines"

# Every job's record, and a usage error's, has the shape the schema gives.
records=()
record() {  # record NAME COMMAND...
  name=$1; shift
  "$@" --json >"$work/$name.json" 2>/dev/null
  records+=("$work/$name.json")
}
record list "$cli" list --virtual
record devices "$cli" devices
record doctor "$cli" doctor -d 2716 --virtual --trace "$work/doctor.trace"
record program "$cli" program -d 27C256 -n 2 "$work/image.bin" --virtual
record verify "$cli" verify -d 27C256 -n 2 "$work/image.bin" --virtual
record blank "$cli" blank -d 2716 -n 3 --virtual
record compare "$cli" compare -d 27C256 "$work/image.hex" --virtual
record read "$cli" read -d 27C256 "$work/back.s19" --virtual
record checksum "$cli" checksum -d 27C256 "$work/image.bin"
record convert "$cli" convert -d 27C256 "$work/image.bin" "$work/image.s19"
record usage "$cli" program -d 27C256 -n 9 "$work/image.bin"
record nofile "$cli" verify -d 27C256 "$work/missing.bin" --virtual
record traced "$cli" blank -d 2716 --virtual --trace "$work/blank.trace"
record replayed "$cli" blank -d 2716 --replay "$work/blank.trace"
if /usr/bin/python3 -c "import jsonschema" 2>/dev/null; then
  /usr/bin/python3 - "$schema" "${records[@]}" <<'EOF' || failures=$((failures + 1))
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft7Validator.check_schema(schema)
bad = 0
for path in sys.argv[2:]:
    for error in jsonschema.Draft7Validator(schema).iter_errors(json.load(open(path))):
        print("FAILED: %s: %s at %s" % (path, error.message, list(error.path)))
        bad += 1
sys.exit(1 if bad else 0)
EOF
else
  echo "python3-jsonschema is missing: the records were not checked against the schema"
fi

[ "$failures" -eq 0 ] && echo "all passed"
exit $failures
