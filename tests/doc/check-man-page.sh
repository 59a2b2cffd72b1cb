#!/bin/bash
# A manual page that keeps up with its program: every option that `PROGRAM --help` (and, for a
# program with jobs, every `PROGRAM JOB --help`) lists is described under OPTIONS, every job
# under JOBS, every key of the JSON record under JSON RECORD, and groff formats the page
# without a warning. "Described" means the option heads an entry of its own (the line after a
# .TP), not that it is named in passing.
# With a README, its sentence "`PROGRAM --help` lists the jobs (...)" names the same jobs.
#   check-man-page.sh PAGE PROGRAM [RECORD_SCHEMA [README]]
set -u
page=$1
program=$2
schema=${3:-}
readme=${4:-}
name=$(basename "$page")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
failed() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The words that head the page's entries, one "SECTION<TAB>word" a line: roff's escapes for the
# hyphen, fonts and quotes taken out, the words split at blanks and commas.
awk '
  /^\.SH / { section = substr($0, 5); gsub(/"/, "", section); next }
  /^\.TP/ { tag = 1; next }
  tag {
    tag = 0
    line = $0
    sub(/^\.[A-Z]+ */, "", line)
    gsub(/\\-/, "-", line)
    gsub(/\\f[BIRP]/, "", line)
    gsub(/\\[&%]/, "", line)
    gsub(/"/, "", line)
    n = split(line, words, /[ ,]+/)
    for (i = 1; i <= n; i++) if (words[i] != "") print section "\t" words[i]
  }
' "$page" >"$work/entries"
described() {  # described SECTION WORD
  grep -qxF "$1"$'\t'"$2" "$work/entries"
}

. "$(dirname "$0")/help-text.sh"

if ! "$program" --help >"$work/help" 2>&1; then
  failed "$program --help"
  cat "$work/help"
fi
options_of <"$work/help" | sed "s/^/--help\t/" >"$work/options"
[ -s "$work/options" ] || failed "found no option in the help of $program"

jobs_of <"$work/help" >"$work/jobs"
while read -r job; do
  described JOBS "$job" || failed "$name: the job $job is not described under JOBS"
  if ! "$program" "$job" --help >"$work/help-$job" 2>&1; then
    failed "$program $job --help"
    cat "$work/help-$job"
  fi
  options_of <"$work/help-$job" | sed "s/^/$job --help\t/" >>"$work/options"
done <"$work/jobs"

if [ -n "$readme" ]; then
  # The words in backquotes from "lists the jobs (" to the closing parenthesis.
  tr '\n' ' ' <"$readme" | grep -o 'lists the jobs ([^)]*)' | grep -o '`[^`]*`' | tr -d '`' |
    sort >"$work/readme-jobs"
  [ -s "$work/readme-jobs" ] || failed "$readme: no sentence that lists the jobs"
  sort "$work/jobs" | diff - "$work/readme-jobs" >"$work/jobs-diff" ||
    failed "$readme lists other jobs than $(basename "$program") --help (<: help, >: README):
$(grep '^[<>]' "$work/jobs-diff")"
fi

while IFS=$'\t' read -r where option; do
  described OPTIONS "$option" ||
    failed "$name: $option (listed by $(basename "$program") $where) is not described under OPTIONS"
done < <(sort -t$'\t' -k2,2 -u "$work/options")

if [ -n "$schema" ]; then
  if ! python3 -c 'import json, sys; print("\n".join(json.load(open(sys.argv[1]))["properties"]))' \
      "$schema" >"$work/keys"; then
    failed "the keys of $schema cannot be read"
  fi
  [ -s "$work/keys" ] || failed "found no key in $schema"
  while read -r key; do
    described "JSON RECORD" "$key" || failed "$name: the record's key $key is not described under JSON RECORD"
  done <"$work/keys"
fi

# What man and lintian would complain of.
if command -v groff >/dev/null 2>&1; then
  groff -man -ww -z "$page" >"$work/groff" 2>&1
  if [ -s "$work/groff" ]; then
    failed "$name: groff warns"
    cat "$work/groff"
  fi
else
  echo "groff not found: the page's formatting is not checked"
fi

echo "$name: $(cut -f2 "$work/options" | sort -u | wc -l) options, $(wc -l <"$work/jobs") jobs checked"
[ "$failures" -eq 0 ] && echo "all passed"
exit "$failures"
