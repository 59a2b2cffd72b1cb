#!/bin/bash
# tandra-cli's bash completion as a shell uses it, with the built tandra-cli on the PATH: jobs,
# options, the device types it lists, files; each job's options the same as its help lists;
# and nothing worse than no answer when no tandra-cli can be run.
#   check-completion.sh COMPLETION TANDRA_CLI
set -u
. "$(dirname "$0")/help-text.sh"
completion=$1
cli=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
failed() { echo "FAILED: $*"; failures=$((failures + 1)); }

mkdir "$work/bin" "$work/files" "$work/empty"
ln -s "$cli" "$work/bin/tandra-cli"
touch "$work/files/image.hex" "$work/files/image.s19" "$work/files/other.bin"
# shellcheck source=/dev/null
source "$completion"
saved_path=$PATH
PATH=$work/bin:$PATH

# Completes a command line whose last word is the one completed, as bash would: `offered` is
# left holding the words offered, one a line, sorted. Bash splits a word at "=" for completion;
# the words are given as it splits them.
complete_line() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _tandra_cli 2>"$work/stderr"
  [ -s "$work/stderr" ] && failed "completing '$*' wrote: $(cat "$work/stderr")"
  offered=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort)
}
expect() {  # expect 'WORDS OFFERED' WORD...
  local want
  want=$(tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort)
  complete_line "${@:2}"
  [ "$offered" = "$want" ] || failed "completing '${*:2}' offers '${offered//$'\n'/ }', not '$1'"
}

expect "program" tandra-cli pro
expect "checksum compare convert" tandra-cli c
expect "--socket-image --sockets" tandra-cli program --so
expect "--socket" tandra-cli read --so
expect "27C256 27C2001" tandra-cli program -d 27C2
expect "27C512" tandra-cli verify --device = 27C5
expect "le be bcd ascii" tandra-cli program --sn-format ""
expect "$work/files/image.hex $work/files/image.s19" tandra-cli program "$work/files/im"
expect "$work/files/other.bin" tandra-cli program -n 5 --socket-image 2 = "$work/files/o"
expect "$work/files/image.s19" tandra-cli blank --trace "$work/files/image.s"
expect "" tandra-cli program --pulse ""
# Options before the job: their values, the jobs after them, and every option that may stand there.
expect "d2xx libftdi virtual" tandra-cli --driver ""
expect "d2xx libftdi virtual" tandra-cli --driver = ""
expect "program" tandra-cli --trace "$work/files/t.trace" -v pro
expect "-h --help --version -v --verbose --json --quiet --format --out-format --fill --pulse --vpp
  --update-firmware --serial --driver --virtual --virtual-chips --virtual-firmware --virtual-state
  --full-waits --trace --replay" tandra-cli -
complete_line tandra-cli program --format ""
format_words=$offered
complete_line tandra-cli --format ""
[ "$offered" = "$format_words" ] || failed "--format before the job offers '${offered//$'\n'/ }'"

# Every type tandra-cli lists, and only those.
want=$(tandra-cli devices | awk '{ print $1 }' | sort)
[ "$(echo "$want" | wc -l)" -gt 10 ] || failed "tandra-cli devices lists too few types: $want"
complete_line tandra-cli blank -d ""
[ "$offered" = "$want" ] || failed "-d does not offer the types tandra-cli devices lists"

# Each job's options are those its help lists: none missing, none that the job refuses.
jobs=$(tandra-cli --help | jobs_of)
complete_line tandra-cli ""
[ "$offered" = "$(echo "$jobs" | sort)" ] || failed "the jobs offered are not the jobs tandra-cli lists"
for job in $jobs; do
  want=$(tandra-cli "$job" --help | options_of | sort -u)
  complete_line tandra-cli "$job" -
  missing=$(comm -23 <(echo "$want") <(echo "$offered"))
  extra=$(comm -13 <(echo "$want") <(echo "$offered"))
  [ -z "$missing" ] || failed "tandra-cli $job: the completion lacks ${missing//$'\n'/ }"
  [ -z "$extra" ] || failed "tandra-cli $job: the completion offers what the job refuses: ${extra//$'\n'/ }"
done

# Without a tandra-cli on the PATH, the types come from the one typed, or there are none.
PATH=$work/empty:$saved_path
if command -v tandra-cli >/dev/null 2>&1; then
  echo "a tandra-cli is installed on this computer: the case without one is not checked"
else
  expect "" tandra-cli program -d 27C2
fi
expect "27C256 27C2001" "$cli" program -d 27C2
PATH=$work/bin:$saved_path

[ "$failures" -eq 0 ] && echo "all passed"
exit "$failures"
