#!/bin/sh
# Writes the Debian changelog from NEWS: one stanza per release, newest first, each release's
# lines as they stand in NEWS. A release is stamped at noon of its date; two releases on one
# day are an hour apart, so each stanza is newer than the one below it.
#   debian-changelog.sh NEWS OUT "MAINTAINER <address>"
set -eu
news=$1
out=$2
maintainer=$3
awk -v maintainer="$maintainer" '
  function close_stanza() {
    if (version == "") return
    sub(/\n+$/, "", body)
    hour = (date == last_date) ? hour - 1 : 12
    last_date = date
    cmd = sprintf("date -R -u -d \"%s %02d:00\"", date, hour)
    cmd | getline stamp
    close(cmd)
    printf "%standra-usb (%s-1) unstable; urgency=medium\n\n%s\n\n -- %s  %s\n", sep, version, body, maintainer, stamp
    sep = "\n"
  }
  /^Tandra USB [0-9.]+ \([0-9-]+\)$/ {
    close_stanza()
    version = $3
    date = $4
    gsub(/[()]/, "", date)
    body = ""
    next
  }
  version != "" && (body != "" || $0 != "") { body = body $0 "\n" }
  END { close_stanza() }
' "$news" >"$out"
