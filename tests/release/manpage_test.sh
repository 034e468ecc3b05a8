#!/usr/bin/env bash
# The manual pages against the programs' --help: every option that --help lists is an option of the page
# and the page has no other; every option that the page or --help names anywhere is one that --help
# lists; every entry of --help's other lists (keys, sub-commands, settings, exit codes, environment) is an
# entry of the page; the page has each section once, those a reader looks for among them, the version of
# VERSION, and groff reads it without a warning.
# Usage: manpage_test.sh SOURCE_DIR PAGES_DIR PROGRAM...     (the page of PROGRAM is PAGES_DIR/NAME.1.gz)
set -uo pipefail
source_dir=$1 pages=$2
shift 2
version=$(head -1 "$source_dir/VERSION")
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
  local program=$1 name help page heads entries missing option
  name=$(basename "$program")
  local file=$pages/$name.1.gz
  [[ -f $file ]] || { fail "$name: no manual page $file"; return; }
  help=$(LC_ALL=C "$program" --help) || { fail "$name --help failed"; return; }
  page=$(zcat "$file")
  heads=$(page_heads <<<"$page")

  local help_options page_options
  help_options=$(help_heads <<<"$help" | grep -E '^-' | options_of)
  page_options=$(grep -E '^-' <<<"$heads" | sed -E 's/ {2,}.*//' | options_of)
  [[ -n $help_options ]] || fail "$name: --help lists no options"
  missing=$(comm -23 <(echo "$help_options") <(echo "$page_options"))
  [[ -z $missing ]] || fail "$name: options in --help but not in the manual page: $(echo $missing)"
  missing=$(comm -13 <(echo "$help_options") <(echo "$page_options"))
  [[ -z $missing ]] || fail "$name: options in the manual page but not in --help: $(echo $missing)"
  missing=$(comm -13 <(echo "$help_options") <(plain <<<"$page" | long_options_in))
  [[ -z $missing ]] || fail "$name: the manual page names options that --help does not list: $(echo $missing)"
  missing=$(comm -13 <(echo "$help_options") <(long_options_in <<<"$help"))
  [[ -z $missing ]] || fail "$name: --help names options that it does not list: $(echo $missing)"

  entries=$(help_heads <<<"$help" | grep -vE '^-')
  while IFS= read -r entry; do
    [[ -z $entry ]] && continue
    grep -qxF -- "$entry" <<<"$heads" || fail "$name: \"$entry\" of --help is not an entry of the manual page"
  done <<<"$entries"

  local sections wanted heading
  sections=$(sed -nE 's/^\.SH "?([^"]*)"?$/\1/p' <<<"$page")
  while IFS= read -r heading; do
    [[ -z $heading ]] && continue
    grep -qxF -- "$heading" <<<"$sections" || fail "$name: --help's heading \"$heading\" is no section of the page"
  done < <(help_headings <<<"$help")
  missing=$(sort <<<"$sections" | uniq -d)
  [[ -z $missing ]] || fail "$name: sections more than once: $missing"
  wanted=(NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS")
  [[ $name == vexa ]] && wanted+=(KEYS ENVIRONMENT FILES)
  for option in "${wanted[@]}"; do
    grep -qE "^$option( |$)" <<<"$sections" || fail "$name: the manual page has no section $option"
  done
  grep -qE "^\.TH \"?${name^^}\"? \"?1\"? .*\"$name $version\"" <<<"$page" ||
    fail "$name: the title line does not name version $version: $(grep '^\.TH' <<<"$page")"
  local warnings
  warnings=$(groff -man -Tutf8 -ww -z <<<"$page" 2>&1)
  [[ -z $warnings ]] || fail "$name: groff warns: $warnings"
  echo "$name: $(wc -l <<<"$help_options") options, $(grep -c . <<<"$entries") other entries of --help, $(wc -l <<<"$sections") sections"
}

for program in "$@"; do check_page "$program"; done
[[ $failures -eq 0 ]] || { echo "$failures failures" >&2; exit 1; }
echo "the manual pages agree with --help"
