#!/bin/sh
# Runs one suite of the replay tests inside an umockdev testbed.
#   run-replay.sh BINARY SUITE [DEVICE_FILE IOCTL_FILE]
# Without the two files the testbed has no USB device at all. Exits 77, which the test is
# registered to count as skipped, where umockdev is not installed.
set -eu
if ! command -v umockdev-run >/dev/null 2>&1; then
  echo "umockdev-run not found: skipped"
  exit 77
fi
# umockdev works by preloading its library, which puts it ahead of the AddressSanitizer runtime
# in a sanitizer build; that order is harmless here.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
binary=$1
suite=$2
shift 2
if [ $# -eq 2 ]; then
  exec umockdev-run --device "$1" --ioctl "/dev/bus/usb/001/002=$2" -- \
    "$binary" --gtest_filter="$suite.*"
fi
exec umockdev-run -- "$binary" --gtest_filter="$suite.*"
