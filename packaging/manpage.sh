#!/usr/bin/env bash
# Makes a program's manual page from its --help (help2man) and a file of what --help does not say, and
# compresses it as Debian's manual pages are (gzip -9n: no name, no time).
# Usage: manpage.sh PROGRAM INCLUDE VERSION SOURCE_DIR OUTPUT.gz
# The date on the page is the commit's (packaging/source_date.sh), in UTC and English whatever the locale.
# Each heading of --help ("Keys:", "Exit codes:") becomes a section of its own; help2man would otherwise
# file those after "Options:" under OPTIONS. A remark in brackets after a heading ("Options (before or after
# the command):") opens its section, and "Exit codes" is the section that man pages call EXIT STATUS. A
# heading that runs over two lines is read as one: help2man reads it through a program of the same name
# that joins them. The include file's sections that --help has a heading for are left out: --help says it.
set -euo pipefail
[[ $# -eq 5 ]] || { echo "usage: $0 PROGRAM INCLUDE VERSION SOURCE_DIR OUTPUT.gz" >&2; exit 2; }
program=$1 include=$2 version=$3 source=$4 output=$5
name=$(basename "$program")
command -v help2man >/dev/null || { echo "manpage: help2man is not installed (scripts/deps.sh install installs it)" >&2; exit 1; }
SOURCE_DATE_EPOCH=$("$(dirname "$0")/source_date.sh" "$source")
export SOURCE_DATE_EPOCH LC_ALL=C TZ=UTC
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# --help with each heading on one line: a paragraph in the first column after a gap whose next line, also
# in the first column, ends it with a colon.
mkdir "$work/bin"
cat >"$work/bin/$name" <<WRAPPER
#!/bin/sh
"$(cd "$(dirname "$program")" && pwd)/$name" "\$@" | awk '
  held != "" { if (/^[^ ].*:\$/) { print held " " \$0; held = ""; gap = 0; next } print held; held = "" }
  gap && /^[^ ]/ && !/:\$/ { held = \$0; gap = 0; next }
  { gap = (\$0 == ""); print }
  END { if (held != "") print held }'
WRAPPER
chmod 755 "$work/bin/$name"
# A section of the include file that --help has a heading for gives way to --help's own.
headings=$("$work/bin/$name" --help | sed -nE 's/^([A-Z][^ ].*):$/\1/p' | sed -E 's/ *\(.*//' |
  tr 'a-z' 'A-Z' | sed 's/^EXIT CODES$/EXIT STATUS/')
awk -v given="$headings" 'BEGIN { n = split(given, name, "\n"); for (i = 1; i <= n; i++) drop["[" name[i] "]"] = 1 }
  /^\[/ { keep = !($0 in drop) } keep' "$include" >"$work/include.h2m"
page=$(help2man --no-info --section=1 --include="$work/include.h2m" --version-string="$name $version" "$work/bin/$name")
printf '%s\n' "$page" |
  sed -E -e 's/^\.SS "([^"(]*[^ (]) +\(([^"]*)\):"$/.SH "\U\1\E"\n(\2)/' -e 's/^\.SS "([^"]*):"$/.SH "\U\1"/' \
    -e 's/^\.SH "EXIT CODES"$/.SH "EXIT STATUS"/' |
  gzip -9n >"$output.tmp"
mv "$output.tmp" "$output"
