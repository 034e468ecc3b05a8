#!/usr/bin/env bash
# Makes a program's manual page from its --help (help2man) and a file of what --help does not say, and
# compresses it as Debian's manual pages are (gzip -9n: no name, no time).
# Usage: manpage.sh PROGRAM INCLUDE VERSION SOURCE_DIR OUTPUT.gz
# The date on the page is the commit's (packaging/source_date.sh), in UTC and English whatever the locale.
# Each heading of --help ("Keys:", "Exit codes:") becomes a section of its own; help2man would otherwise
# file those after "Options:" under OPTIONS. A remark in brackets after a heading ("Options (before or after
# the command):") opens its section, and "Exit codes" is the section that man pages call EXIT STATUS. The
# include file's sections that --help has a heading for are left out: --help says it.
set -euo pipefail
[[ $# -eq 5 ]] || { echo "usage: $0 PROGRAM INCLUDE VERSION SOURCE_DIR OUTPUT.gz" >&2; exit 2; }
program=$1 include=$2 version=$3 source=$4 output=$5
name=$(basename "$program")
command -v help2man >/dev/null || { echo "manpage: help2man is not installed (scripts/deps.sh install installs it)" >&2; exit 1; }
SOURCE_DATE_EPOCH=$("$(dirname "$0")/source_date.sh" "$source")
export SOURCE_DATE_EPOCH LC_ALL=C TZ=UTC
# A section of the include file that --help has a heading for gives way to --help's own.
headings=$("$program" --help | sed -nE 's/^([A-Z][^ ].*):$/\1/p' | sed -E 's/ *\(.*//' | tr 'a-z' 'A-Z' |
  sed 's/^EXIT CODES$/EXIT STATUS/')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk -v given="$headings" 'BEGIN { n = split(given, name, "\n"); for (i = 1; i <= n; i++) drop["[" name[i] "]"] = 1 }
  /^\[/ { keep = !($0 in drop) } keep' "$include" >"$work/include.h2m"
page=$(help2man --no-info --section=1 --include="$work/include.h2m" --version-string="$name $version" "$program")
printf '%s\n' "$page" |
  sed -E -e 's/^\.SS "([^"(]*[^ (]) +\(([^"]*)\):"$/.SH "\U\1\E"\n(\2)/' -e 's/^\.SS "([^"]*):"$/.SH "\U\1"/' \
    -e 's/^\.SH "EXIT CODES"$/.SH "EXIT STATUS"/' |
  gzip -9n >"$output.tmp"
mv "$output.tmp" "$output"
