#!/bin/bash
# The window, as a desktop session or a terminal stops it: SIGINT, SIGTERM and SIGHUP close it as
# its close button does, and its trace ends with the facts of how it ended.
#   window-signals.sh TANDRA_USB
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work"
failures=0
for signal in INT TERM HUP; do
  trace="$work/$signal.trace"
  "$program" --virtual --trace "$trace" &
  pid=$!
  # Until the start-up search has found the virtual programmer.
  for _ in $(seq 100); do
    grep -q "fact firmware" "$trace" 2>/dev/null && break
    sleep 0.1
  done
  kill -s "$signal" "$pid"
  wait "$pid"
  code=$?
  number=$(kill -l "$signal")
  expected=$((128 + number))
  if [ "$code" -ne "$expected" ]; then
    echo "FAILED: SIG$signal: exit code $code, not $expected"
    failures=$((failures + 1))
  fi
  for fact in "fact argument --virtual" "fact exit $expected" "fact run " "fact firmware 1.20"; do
    if ! grep -q "$fact" "$trace"; then
      echo "FAILED: SIG$signal: the trace has no '$fact'"
      failures=$((failures + 1))
    fi
  done
  # Let go as the close button does: the idle command went out last.
  if [ "$(grep ' > ' "$trace" | tail -1 | cut -d' ' -f6)" != "24" ]; then
    echo "FAILED: SIG$signal: the programmer was not idled last"
    failures=$((failures + 1))
  fi
done
echo "$((3 * 6 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
