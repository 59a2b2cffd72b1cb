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
# Waits until FILE holds COUNT (1 if not given) lines matching the extended regex PATTERN: what a
# job's trace or log shows it has got to. Fails after a minute without.
wait_for_lines() {  # wait_for_lines FILE PATTERN [COUNT]
  local _ found
  for _ in $(seq 600); do
    found=$(grep -c -E -- "$2" "$1" 2>/dev/null)
    [ "${found:-0}" -ge "${3:-1}" ] && return 0
    sleep 0.1
  done
  failed "$1 never held ${3:-1} lines like '$2'"
  return 1
}
# A trace's line for a command sent to the programmer: the job is at work.
sent=' > [0-9]+ [0-9]+ [0-9]+ '
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
# So is a trace that cannot be written; the record then names no trace.
out=$("$cli" blank -d 27C256 -n 1 --virtual --trace /dev/full --json 2>"$work/err")
[ $? -eq 2 ] && grep -q "the trace could not be written" <<<"$out" &&
  grep -q '"trace": null' <<<"$out" || failed "a trace on /dev/full is not an error: $out"
"$cli" checksum -d 27C256 "$work/image.bin" >&- 2>"$work/err"
[ $? -eq 2 ] && grep -q "standard output is closed" "$work/err" || failed "a closed stdout is not an error"
# A reader that goes away stops the job as a signal does.
"$cli" program -d 27C256 -n 5 "$work/image.bin" --virtual 2>&1 | head -1 >/dev/null
code=${PIPESTATUS[0]}
[ "$code" -eq 141 ] || failed "a reader gone gave exit code $code, not 141"
# So does one that goes away from an image written to standard output, as for other tools.
for job in "convert -d 27C256 $work/image.bin - --out-format intel" "read -d 27C2001 - --virtual" \
           "read -d 27C2001 /dev/stdout --virtual"; do
  $cli $job 2>"$work/err" | head -c 100 >/dev/null
  code=${PIPESTATUS[0]}
  [ "$code" -eq 141 ] || failed "$job | head -c 100 gave exit code $code, not 141: $(cat "$work/err")"
  grep -q "pipe" "$work/err" && failed "$job | head -c 100 said: $(cat "$work/err")"
done

# Signals in the middle of a program run of some ten seconds: sent once its trace shows it at
# work.
for signal in INT:130 TERM:143 HUP:129; do
  rm -f "$work/signal.trace"
  "$cli" program -d 27C256 -n 5 "$work/image.bin" --virtual --json --trace "$work/signal.trace" \
    >"$work/out" 2>"$work/err" &
  job=$!
  wait_for_lines "$work/signal.trace" "$sent"
  kill -"${signal%:*}" $job
  wait $job
  code=$?
  [ "$code" -eq "${signal#*:}" ] || failed "SIG${signal%:*} gave exit code $code"
  grep -q '"result": "passed"' "$work/out" && failed "a socket was reported passed after SIG${signal%:*}"
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
  --trace "$work/line.trace" --quiet <"$work/keys" >/dev/null 2>&1 &
job=$!
exec 4>"$work/keys"
printf '\n' >&4  # the second set starts at once after the first
# Killed once the first set's two lines are logged (after all it sent) and the second set has
# sent a command.
wait_for_lines "$work/line.log" '.' 2
commands=$(grep -c -E -- "$sent" "$work/line.trace")
wait_for_lines "$work/line.trace" "$sent" $((commands + 1))
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

# Ctrl-C in a script's loop stops the script, not only the job it was running: the program ends
# by the signal, as a shell expects.
cat >"$work/loop.sh" <<EOF
for run in 1 2 3; do
  "$cli" program -d 27C256 -n 5 "$work/image.bin" --virtual --quiet --trace "$work/loop.trace" \
    >/dev/null 2>&1
  echo "after run \$run"
done
EOF
# (A script run in the background ignores Ctrl-C; this one is started as from a terminal.)
/usr/bin/python3 -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.setsid()
os.execvp("bash", ["bash", sys.argv[1]])' "$work/loop.sh" >"$work/loop.out" 2>&1 &
loop=$!
wait_for_lines "$work/loop.trace" "$sent"
kill -INT -- -$loop
wait $loop
grep -q "after run" "$work/loop.out" && failed "the script went on after Ctrl-C: $(cat "$work/loop.out")"

# Two programs on one ledger and one log: every number once, every line whole. The log's lines
# have the shape their schema gives, in JSON and in CSV.
head -c 2040 /dev/urandom >"$work/code.bin"
expect 0 "$cli" serial "$work/line.ledger" --sn-start 1000
for side in a b; do
  printf '\n\n' | "$cli" program -d 2716 -n 5 "$work/code.bin" --virtual --repeat --sn-at 7F8 \
    --sn-ledger "$work/line.ledger" --log "$work/shared.log" --quiet >/dev/null 2>&1 &
done
wait
"$cli" program -d 2716 -n 2 "$work/code.bin" --virtual --log "$work/line.csv" --log-format csv \
  --quiet >/dev/null 2>&1
/usr/bin/python3 - "$(dirname "$schema")/tandra-log.schema.json" "$work/shared.log" "$work/line.csv" <<'EOF' || failed "the shared log"
import csv, json, sys
lines = [json.loads(line) for line in open(sys.argv[2])]
assert len(lines) == 30, "%d lines, not 30" % len(lines)
serials = [line["serial_number"] for line in lines]
assert len(set(serials)) == 30, "a serial number twice: %s" % sorted(serials)
assert sorted(int(s) for s in serials) == list(range(1000, 1030)), sorted(serials)
rows = list(csv.DictReader(open(sys.argv[3], newline="")))
assert [r["socket"] for r in rows] == ["1", "2"] and rows[0]["verified"] == "true", rows
try:
    import jsonschema
except ImportError:
    sys.exit(0)
schema = json.load(open(sys.argv[1]))
jsonschema.Draft7Validator.check_schema(schema)
for line in lines:
    for error in jsonschema.Draft7Validator(schema).iter_errors(line):
        sys.exit("FAILED: a log line: %s at %s" % (error.message, list(error.path)))
# The image's fields are columns of their own, beside its name.
columns = list(schema["required"])
at = columns.index("image") + 1
columns[at:at] = ["image_size", "image_checksum", "image_sha256", "image_crc32"]
assert list(rows[0].keys()) == columns, "the CSV columns differ: %s" % list(rows[0].keys())
EOF

# A line the disk did not take (its fsync failed) is no line: the chip did not pass, the run
# stops with the log's exit code and names the chips the log lacks, and what went out is taken
# back.
# (LeakSanitizer cannot look for leaks in a program that strace follows: a sanitizer build's
# leak check stays off there.)
eio() {
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    strace -f -o /dev/null -e trace=fsync -e inject=fsync:error=EIO "$@"
}
if eio true 2>/dev/null; then
  eio "$cli" program -d 2716 -n 2 "$work/code.bin" --virtual --log "$work/eio.log" --json \
    >"$work/out" 2>"$work/err"
  code=$?
  [ "$code" -eq 2 ] && grep -q "not in it: set 1 socket 1, set 1 socket 2" "$work/out" &&
    ! grep -q '"passed"' "$work/eio.log" ||
    failed "a log line whose fsync failed: exit $code, $(grep error "$work/out")"
else
  echo "strace cannot inject faults here: a failing fsync of the log was not tried"
fi

# A file-size limit met in the middle of a save is an error, not a death: the old bytes stay
# under every name of a hard-linked target, and no temporary file is left behind. The limit
# is set, and SIGXFSZ left as a shell leaves it, by a small wrapper (a test run may have it
# ignored already, as Python does).
limited() {  # limited COMMAND...: files up to 40 KiB
  /usr/bin/python3 -c 'import os, resource, signal, sys
signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
resource.setrlimit(resource.RLIMIT_FSIZE, (40960, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
os.execv(sys.argv[1], sys.argv[1:])' "$@"
}
mkdir "$work/limit"
head -c 40 /dev/urandom >"$work/limit/linked.hex"
ln "$work/limit/linked.hex" "$work/limit/other-name.hex"
cp "$work/limit/linked.hex" "$work/limit/alone.hex"
old=$(sha256sum <"$work/limit/linked.hex")
for target in linked.hex alone.hex; do
  limited "$cli" convert -d 27C256 "$work/image.bin" "$work/limit/$target" >"$work/out" 2>"$work/err"
  code=$?
  [ "$code" -eq 2 ] && grep -q "File too large" "$work/err" ||
    failed "a save to $target past the size limit gave exit code $code: $(cat "$work/err")"
done
for name in linked.hex other-name.hex alone.hex; do
  [ "$(sha256sum <"$work/limit/$name")" = "$old" ] || failed "$name lost its bytes past the size limit"
done
[ "$(ls -A "$work/limit" | wc -l)" -eq 3 ] || failed "a save past the size limit left $(ls -A "$work/limit")"

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
record accept "$cli" accept -d 27C64 -n 2 --virtual --report "$work/accept.json" --trace "$work/accept.trace"
record program "$cli" program -d 27C256 -n 2 "$work/image.bin" --virtual
record verify "$cli" verify -d 27C256 -n 2 "$work/image.bin" --virtual
record blank "$cli" blank -d 2716 -n 3 --virtual
record compare "$cli" compare -d 27C256 "$work/image.hex" --virtual
record read "$cli" read -d 27C256 "$work/back.s19" --virtual
record checksum "$cli" checksum -d 27C256 "$work/image.bin"
record convert "$cli" convert -d 27C256 "$work/image.bin" "$work/image.s19"
record serial "$cli" serial "$work/line.ledger"
record usage "$cli" program -d 27C256 -n 9 "$work/image.bin"
record nofile "$cli" verify -d 27C256 "$work/missing.bin" --virtual
record traced "$cli" blank -d 2716 --virtual --trace "$work/blank.trace"
record replayed "$cli" blank -d 2716 --replay "$work/blank.trace"
if /usr/bin/python3 -c "import jsonschema" 2>/dev/null; then
  jobs=$("$cli" no-such-job 2>&1 | sed -n 's/.*the jobs are //p')
  /usr/bin/python3 - "$schema" "$jobs" "${records[@]}" <<'EOF' || failures=$((failures + 1))
import json, re, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft7Validator.check_schema(schema)
bad = 0
# The jobs tandra-cli knows, the record's command names and the records made here are one list.
jobs = set(re.split(r", | and ", sys.argv[2].strip()))
named = set(schema["properties"]["command"]["enum"]) - {None}
made = {json.load(open(path))["command"] for path in sys.argv[3:]} - {None}
for what, names in (("the schema's command names", named), ("the records made here", made)):
    if names != jobs:
        print("FAILED: %s differ from the jobs: %s" % (what, sorted(names ^ jobs)))
        bad += 1
for path in sys.argv[3:]:
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
