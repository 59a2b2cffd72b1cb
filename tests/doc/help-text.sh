# What a program's help text lists; sourced by the checks of the man pages and the completion.

# The options a help text on standard input lists: the first column of its lines that start
# with a dash (CLI11 writes "-d,--device TEXT", Qt "-h, --help").
options_of() {
  grep -E '^ +-' | sed -E 's/^ +//; s/ {2,}.*//' | sed -E 's/[ ,]+/\n/g' |
    grep -E '^--?[A-Za-z0-9][A-Za-z0-9-]*$'
}

# The jobs a help text on standard input lists: the first word of each line under "Subcommands:".
jobs_of() {
  sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }'
}
