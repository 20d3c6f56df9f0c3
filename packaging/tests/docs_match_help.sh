#!/usr/bin/env bash
# The README and the man pages say what the programs' --help says: every orvo
# command is in the README's table and has its synopsis (the first line of its
# --help) on one line of orvo(1), and every option a --help names is in the
# man page, within its command's entry for orvo's commands.
#   docs_match_help.sh BIN_DIR SOURCE_DIR
set -uo pipefail
bin=$1
src=$2
faults=0
fault() {
  echo "docs_match_help: $*" >&2
  faults=$((faults + 1))
}
render() {
  LC_ALL=C.UTF-8 MANWIDTH=1000 man -l "$1" 2>/dev/null | sed 's/\xe2\x80\x90/-/g'
}
# The long options a --help text names, one a line.
options() { grep -o -E -- '(^|[^[:alnum:]-])--[a-z][a-z-]*' | sed -E 's/^[^-]*//' | sort -u; }

page=$(render "$src/packaging/man/orvo.1")
[ -n "$page" ] || fault "orvo.1 does not render"
commands=$("$bin/orvo" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || fault "orvo --help lists no commands"
for c in $commands; do
  help=$("$bin/orvo" "$c" --help) || fault "orvo $c --help fails"
  synopsis=$(printf '%s\n' "$help" | sed -n '1s/^Usage: orvo //p')
  [ -n "$synopsis" ] || { fault "orvo $c --help does not start with its usage"; continue; }
  grep -q -F "\`orvo $c" "$src/README.md" || fault "the README does not name orvo $c"
  # The command's entry: its synopsis line up to the next entry.
  entry=$(printf '%s\n' "$page" | awk -v s="$synopsis" '
    { line = $0; sub(/^ +/, "", line) }
    on && /^       [^ ]/ { exit }
    on { print }
    line == s && /^       [^ ]/ { on = 1; print }')
  if [ -z "$entry" ]; then
    fault "orvo.1 has no entry whose first line is \"$synopsis\""
    continue
  fi
  for o in $(printf '%s\n' "$help" | options); do
    [ "$o" = --help ] && continue
    grep -q -F -- "$o" <<<"$entry" || fault "orvo.1's entry for $c does not name $o"
  done
done

for program in orvo-updates Newsdesk; do
  text=$(render "$src/packaging/man/$program.1")
  [ -n "$text" ] || { fault "$program.1 does not render"; continue; }
  help=$("$bin/$program" --help 2>&1) || fault "$program --help fails"
  for o in $(printf '%s\n' "$help" | options); do
    grep -q -F -- "$o" <<<"$text" || fault "$program.1 does not name $o, which $program --help gives"
  done
done

for program in Gatherer Bookbinder Timekeeper orvo-try-mask; do
  "$bin/$program" --help >/dev/null 2>&1 || fault "$program --help fails"
done

if [ "$faults" -gt 0 ]; then
  echo "docs_match_help: $faults fault(s)"
  exit 1
fi
echo "docs_match_help: the README and the man pages match --help"
