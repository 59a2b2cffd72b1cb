#!/bin/sh
# Runs a Windows program of the build under Wine, as ctest and gtest's test listing run them:
#   wine-run.sh PROGRAM.exe ARGUMENT...
# Wine keeps its own Windows folder (TANDRA_WINEPREFIX, or one in the user's cache shared by every
# build), made once; a second run waits for the first to finish making it. Wine's own messages
# are left out. Exit code 77 when Wine is not installed.
set -u
wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine=$candidate
    break
  fi
done
if [ -z "$wine" ]; then
  echo "Wine is not installed: the Windows programs cannot run here (./build.sh test-all installs it)"
  exit 77
fi

WINEPREFIX=${TANDRA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tandra-usb/wine}
WINEDEBUG=-all
# Wine offers to install its .NET and HTML engines when it makes a prefix: none is needed.
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "making the Wine folder $WINEPREFIX (once)" >&2
      "$wine" wineboot.exe --init >/dev/null 2>&1
      wineserver -w 2>/dev/null || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

# A test program's list of its cases is read by CMake line by line: without the carriage
# returns that Windows' text mode puts before each line feed.
for argument in "$@"; do
  if [ "$argument" = --gtest_list_tests ]; then
    listing=$(mktemp)
    "$wine" "$@" >"$listing"
    status=$?
    tr -d '\r' <"$listing"
    rm -f "$listing"
    exit $status
  fi
done

# Wine's server stays up between the programs ctest starts one after another: one that went away
# as the next program reached it would fail that program's start ("wine client error").
command -v wineserver >/dev/null 2>&1 && wineserver -p 60 </dev/null >/dev/null 2>&1

# On a loaded machine Wine now and then fails to start a program at all: it ends at once, having
# written nothing to standard output (a test program always does). Such a start is tried again,
# once.
out=$(mktemp)
err=$(mktemp)
for try in 1 2; do
  "$wine" "$@" >"$out" 2>"$err"
  status=$?
  [ "$status" -eq 0 ] || [ -s "$out" ] || [ "$try" -eq 2 ] || continue
  break
done
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
