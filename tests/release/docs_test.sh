#!/usr/bin/env bash
# What the build makes from the programs' --help (packaging/manpage.sh, packaging/completion.sh), against
# that --help:
#   - the manual pages: the options of --help and no other; no option named anywhere that --help does not
#     list; every entry of --help's other lists (keys, sub-commands, settings, exit codes, environment);
#     each section once, --help's headings and those a reader looks for among them; the version of
#     VERSION; and groff reads them without a warning;
#   - the bash completion, run by bash as it completes a command line: the options; --midi's values (those
#     the program's error names); the units that the program lists as ports; vexa-sim's values; the
#     sub-commands, the setting names after `get` and `set`, on and off after a switch's NAME=; file names.
# Usage: docs_test.sh SOURCE_DIR PACKAGING_DIR VEXA VEXA_SIM    (the page of a program is
#        PACKAGING_DIR/NAME.1.gz, its completion PACKAGING_DIR/completions/NAME)
set -uo pipefail
source_dir=$1 packaging=$2 vexa=$3 vexa_sim=$4
version=$(head -1 "$source_dir/VERSION")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The heads of --help's entries (lines indented by one to four blanks, up to the first gap of two blanks),
# and the options among them.
help_heads() { grep -E '^ {1,4}[^ ]' | sed -E 's/^ +//; s/ {2,}.*//'; }
options_of() { grep -oE -- '(^|[ ,[])--?[A-Za-z0-9][A-Za-z0-9-]*' | sed -E 's/^[ ,[]//' | sort -u; }
long_options_in() { grep -oE -- '--[a-z][a-z0-9-]*' | sed -E 's/-+$//' | sort -u; }
# --help's headings as the page's sections: a paragraph in the first column, of one or two lines, that ends
# in a colon; without a remark in brackets, in capitals, "Exit codes" as EXIT STATUS.
help_headings() {
  awk '/^$/ { gap = 1; held = ""; next }
    /^[^ ]/ && (gap || held != "") { line = held == "" ? $0 : held " " $0; held = ""
      if (line ~ /:$/) print line; else if (gap) held = line; gap = 0; next }
    { gap = 0; held = "" }' | sed -E 's/ *\(.*//; s/:$//' | tr 'a-z' 'A-Z' | sed 's/^EXIT CODES$/EXIT STATUS/'
}
# The page as text: roff escapes for fonts and the hyphen undone.
plain() { sed -E 's/\\f[BIRP]//g; s/\\[,\/&]//g; s/\\-/-/g; s/\\\(co/(C)/g'; }
# The tags of the page's entries: the line after each .TP.
page_heads() { awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' | plain; }

check_page() {
  local program=$1 name help page heads entries missing file help_options page_options named sections section
  name=$(basename "$program")
  file=$packaging/$name.1.gz
  [[ -f $file ]] || { fail "$name: no manual page $file"; return; }
  help=$(LC_ALL=C "$program" --help) || { fail "$name --help failed"; return; }
  page=$(zcat "$file")
  heads=$(page_heads <<<"$page")

  help_options=$(help_heads <<<"$help" | grep -E '^-' | options_of)
  page_options=$(grep -E '^-' <<<"$heads" | sed -E 's/ {2,}.*//' | options_of)
  [[ -n $help_options ]] || fail "$name: --help lists no options"
  missing=$(comm -23 <(echo "$help_options") <(echo "$page_options"))
  [[ -z $missing ]] || fail "$name: options in --help but not in the manual page: $(echo $missing)"
  for named in "options of the manual page|$page_options" "options the page names|$(plain <<<"$page" | long_options_in)" \
    "options --help names|$(long_options_in <<<"$help")"; do
    missing=$(comm -13 <(echo "$help_options") <(echo "${named#*|}"))
    [[ -z $missing ]] || fail "$name: ${named%%|*} that --help does not list: $(echo $missing)"
  done

  entries=$(help_heads <<<"$help" | grep -vE '^-')
  missing=$(comm -23 <(sort -u <<<"$entries") <(sort -u <<<"$heads") | grep .)
  [[ -z $missing ]] || fail "$name: entries of --help that are no entry of the manual page: $missing"

  sections=$(sed -nE 's/^\.SH "?([^"]*)"?$/\1/p' <<<"$page")
  missing=$(comm -23 <(help_headings <<<"$help" | sort -u) <(sort -u <<<"$sections") | grep .)
  [[ -z $missing ]] || fail "$name: headings of --help that are no section of the page: $missing"
  missing=$(sort <<<"$sections" | uniq -d)
  [[ -z $missing ]] || fail "$name: sections more than once: $missing"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" $([[ $name == vexa ]] && echo KEYS ENVIRONMENT FILES); do
    grep -qE "^$section( |$)" <<<"$sections" || fail "$name: the manual page has no section $section"
  done
  grep -qE "^\.TH \"?${name^^}\"? \"?1\"? .*\"$name $version\"" <<<"$page" ||
    fail "$name: the title line does not name version $version: $(grep '^\.TH' <<<"$page")"
  missing=$(groff -man -Tutf8 -ww -z <<<"$page" 2>&1)
  [[ -z $missing ]] || fail "$name: groff warns: $missing"
}

for program in "$vexa" "$vexa_sim"; do check_page "$program"; done

# The completion, as bash runs it: the file sourced, the words of the line in COMP_WORDS. The replies come
# one a line; compopt (only allowed while bash completes) is recorded instead.
complete_line() {
  (cd "$work/files" && PATH=$(dirname "$vexa"):$PATH bash -c 'source "$1"; shift
    compopt() { echo "compopt $*" >>"'"$work"'/compopt"; }
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    $(complete -p "$1" | sed "s/.*-F \([^ ]*\) .*/\1/")
    printf "%s\n" "${COMPREPLY[@]}"' - "$packaging/completions/$1" "${@:2}")
}
# expect_words NAME "WORDS" LINE...: the completion of LINE offers exactly WORDS (in any order).
expect_words() {
  local got want
  got=$(complete_line "$1" "${@:3}" | sort | grep .)
  want=$(tr ' ' '\n' <<<"$2" | sort | grep .)
  [[ $got == "$want" ]] || fail "completing \"${*:3}\": offered [$(echo $got)], expected [$(echo $want)]"
}
mkdir "$work/files" && touch "$work/files/unit.log" "$work/files/settings.json"
help=$("$vexa" --help)
help_options=$(help_heads <<<"$help" | grep -E '^-' | options_of)
expect_words vexa "$help_options" vexa --
midi_names=$("$vexa" --midi no-such-service 2>&1 | sed -nE 's/.*choose ([a-z|]+).*/\1/p' | tr '|' ' ')
[[ -n $midi_names ]] || fail "vexa names no MIDI services in its error"
expect_words vexa "$midi_names" vexa --midi ""
expect_words vexa "$midi_names" vexa --midi =
ports=$("$vexa" --midi sim --list | sed -nE 's/^ +[0-9]+: (.*)  \(paired with.*/\1/p')
[[ -n $ports ]] || fail "vexa --midi sim --list shows no unit"
expect_words vexa "$ports" vexa --midi sim --port ""
expect_words vexa "$ports" vexa --midi = sim --port = ""
sim_help=$("$vexa_sim" --help)
expect_words vexa-sim "$(sed -nE 's/^ +--api ([a-z|]+)( .*)?$/\1/p' <<<"$sim_help" | tr '|' ' ')" vexa-sim --api ""
expect_words vexa-sim "unit.log" vexa-sim --log u
grep -q "compopt -o filenames" "$work/compopt" 2>/dev/null || fail "file names are not completed as file names"

# The sub-commands, under --help's heading "Commands:", and the settings, with their values on|off or a range.
commands=$(sed -nE '/^Commands:/,/^$/ s/^  ([a-z]+) .*/\1/p' <<<"$help")
settings=$(sed -nE 's/^  ([a-z][a-z0-9-]*) +(on\|off|[0-9]+\.\.[0-9]+) .*/\1/p' <<<"$help")
switch=$(sed -nE 's/^  ([a-z][a-z0-9-]*) +on\|off .*/\1/p' <<<"$help" | head -1)
number=$(sed -nE 's/^  ([a-z][a-z0-9-]*) +[0-9]+\.\.[0-9]+ .*/\1/p' <<<"$help" | head -1)
[[ -n $commands && -n $switch && -n $number ]] || fail "--help lists no sub-commands, or no on|off setting or range"
expect_words vexa "$commands" vexa ""
expect_words vexa "$settings" vexa get ""
expect_words vexa "$(grep -vx brightness <<<"$settings")" vexa --midi sim get brightness ""
expect_words vexa "$(sed 's/$/=/' <<<"$settings")" vexa set ""
grep -q "compopt -o nospace" "$work/compopt" || fail "NAME= of set is followed by a blank"
expect_words vexa "on off" vexa set "$switch" = ""
expect_words vexa "off" vexa set "$switch" = of
expect_words vexa "" vexa set "$number" = ""
expect_words vexa "settings.json" vexa backup s
expect_words vexa "settings.json" vexa --midi sim restore s
expect_words vexa "settings.json" vexa update --image s

[[ $failures -eq 0 ]] || { echo "$failures failures" >&2; exit 1; }
echo "the manual pages and the completion agree with --help"
