#!/usr/bin/env bash
# Two builds of the same sources, in two folders and at two times, give the same bytes: vexa.exe, the
# Debian package and the site's zip. The first build is the one that `make test` has just made in this
# work tree (build/, build-win/, build-web/); the second is made here, after it, from a copy of the same
# sources (what git tracks or would track, as it is in the work tree) in a folder of another name and
# depth, under another umask, time zone and locale, through the same make targets (their package steps
# skipped: the packages are there). Both take the commit's time. A difference is shown file by file.
# Usage: reproducible.sh [SOURCE_DIR]
set -uo pipefail
source=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
version=$(head -1 "$source/VERSION")
jobs=${JOBS:-2}
for built in build/vexa build-win/vexa.exe build-web/site/index.html; do
  [[ -f $source/$built ]] || { echo "FAIL: $built is missing: make test builds it first" >&2; exit 1; }
done
work=$(mktemp -d /var/tmp/vexa-second-build.XXXXXX)
trap 'rm -rf "$work"' EXIT
SOURCE_DATE_EPOCH=$("$source/packaging/source_date.sh" "$source")
export SOURCE_DATE_EPOCH
files=(vexa.exe "vexa_${version}_amd64.deb" "vexa-web-$version.zip")

# release_files SOURCE OUT: the three files of the builds in SOURCE, as `make dist` takes them.
release_files() {
  mkdir -p "$2"
  cp "$1/build-win/vexa.exe" "$2/" &&
    "$1/packaging/deb.sh" "$1/build" "$1" "$2" >/dev/null &&
    "$1/packaging/web_zip.sh" "$1/build-web/site" "$1" "$2" >/dev/null
}
release_files "$source" "$work/first" || { echo "FAIL: the first build's release files" >&2; exit 1; }
first_time=$(date -r "$source/build-win/vexa.exe" '+%F %T')

copy=$work/second/sources-of-vexa-in-another-folder
mkdir -p "$copy"
(cd "$source" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [[ -e $file ]] && printf '%s\0' "$file"; done |
  tar --null -T - -cf -) | tar -C "$copy" -xf -
start=$SECONDS
echo "second build in $copy, from $(date '+%F %T') (the first: $first_time)"
(
  cd "$copy" && umask 077 && export TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 &&
    nice make -s -o deps JOBS="$jobs" deb build-win web >"$work/second.log" 2>&1 &&
    release_files "$copy" "$work/second/files"
) || { tail -40 "$work/second.log"; echo "FAIL: the second build" >&2; exit 1; }
echo "second build: $((SECONDS - start)) s"

# Where two files differ: for the package and the zip the members that differ.
explain() {
  local a=$1 b=$2
  cmp "$a" "$b" | head -1
  case $a in
    *.deb)
      mkdir -p "$work/x/a" "$work/x/b"
      dpkg-deb -R "$a" "$work/x/a" && dpkg-deb -R "$b" "$work/x/b"
      diff <(dpkg-deb -c "$a") <(dpkg-deb -c "$b")
      diff -r "$work/x/a" "$work/x/b"
      rm -rf "$work/x"
      ;;
    *.zip) diff <(unzip -Z -v "$a") <(unzip -Z -v "$b") | head -40 ;;
  esac
}
failed=0
for file in "${files[@]}"; do
  a=$work/first/$file b=$work/second/files/$file
  if cmp -s "$a" "$b"; then
    printf '  same: %-26s %9d bytes  sha256 %s\n' "$file" "$(stat -c %s "$a")" "$(sha256sum "$a" | cut -d' ' -f1)"
  else
    echo "FAIL: $file differs between the two builds" >&2
    explain "$a" "$b" >&2
    failed=1
  fi
done
[[ $failed -eq 0 ]] && echo "the two builds gave the same bytes"
exit $failed
