#!/usr/bin/env bash
# The release files as `make dist` takes them from this work tree's builds (as `make test` leaves them):
# vexa.exe, the Debian package and the site's zip.
#   --once (`make test`): the package's members and the zip's files carry the commit's time and no other
#     (gzip headers none), the zip's files mode 644 (the package's modes are deb_test.sh's), no file names
#     the checkout (nor a build folder in it), the exe no link time.
#   without it (`make check-release`): the same, and a second build of the same sources (what git tracks
#     or would track, as it is) in a folder of another name and depth, later, under another umask, time
#     zone and locale, through the same make targets, gives the same bytes.
# Usage: reproducible.sh [--once] [SOURCE_DIR]
set -uo pipefail
once=0
[[ ${1:-} == --once ]] && once=1 && shift
source=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
version=$(head -1 "$source/VERSION")
work=$(mktemp -d /var/tmp/vexa-release-files.XXXXXX)
trap 'rm -rf "$work"' EXIT
SOURCE_DATE_EPOCH=$("$source/packaging/source_date.sh" "$source")
export SOURCE_DATE_EPOCH
files=(vexa.exe "vexa_${version}_amd64.deb" "vexa-web-$version.zip")
failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}

# release_files SOURCE OUT: the three files of the builds in SOURCE, as `make dist` takes them.
release_files() {
  mkdir -p "$2"
  cp "$1/build-win/vexa.exe" "$2/" &&
    "$1/packaging/deb.sh" "$1/build" "$1" "$2" >/dev/null &&
    "$1/packaging/web_zip.sh" "$1/build-web/site" "$1" "$2" >/dev/null
}

# check_files DIR SOURCE: the three files in DIR, built from the checkout SOURCE.
check_files() {
  local dir=$1 exe=$1/vexa.exe deb=$1/${files[1]} zip=$1/${files[2]} header others
  header=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
  [[ $(od -An -tu4 -j$((header + 8)) -N4 "$exe" | tr -d ' ') == 0 ]] || fail "vexa.exe carries its link time"
  # Every time, in UTC: the zip's are local times, in steps of 2 s, and web_zip.sh writes them in UTC.
  others=$({ dpkg-deb --fsys-tarfile "$deb" | tar -tv --full-time --utc; dpkg-deb --ctrl-tarfile "$deb" |
    tar -tv --full-time --utc; } | awk '{ print $4, $5 }'
    zipinfo -T "$zip" | sed -nE 's/^-.* ([0-9]{4})([0-9]{2})([0-9]{2})\.([0-9]{2})([0-9]{2})([0-9]{2}) .*/\1-\2-\3 \4:\5:\6/p')
  others=$(TZ=UTC date -f - +%s <<<"$others" | sort -u | awk -v t="$SOURCE_DATE_EPOCH" '$1 < t - 1 || $1 > t + 1')
  [[ -z $others ]] || fail "members of the package or the zip carry other times than the commit's: $others"
  [[ -z $(zipinfo "$zip" | awk '/^-/ && $1 != "-rw-r--r--"') ]] || fail "the zip holds files of another mode than 644"
  local look=$work/look gz
  mkdir -p "$look" && cp "$exe" "$look/" && dpkg-deb -x "$deb" "$look/deb" && unzip -q "$zip" -d "$look/zip" ||
    fail "cannot unpack the files of $dir"
  # gzip's header: flags (byte 3) without a name, time (bytes 4-7) zero.
  while IFS= read -r gz; do
    [[ $(od -An -tu1 -j3 -N5 "$gz" | tr -s ' ') == " 0 0 0 0 0" ]] || fail "${gz#"$look"/} holds a name or a time"
  done < <(find "$look" -name '*.gz')
  find "$look" -name '*.gz' -exec gunzip {} +
  local naming
  naming=$(grep -rlaF -- "$2" "$look" | sed "s|^$look/||" | paste -sd ' ')
  [[ -z $naming ]] || fail "files that name the checkout $2: $naming"
  rm -rf "$look"
}

release_files "$source" "$work/first" || { echo "FAIL: no release files of the builds (make test makes them)" >&2; exit 1; }
check_files "$work/first" "$source"
if ((once)); then
  ((failed)) || echo "the release files carry the commit's time, fixed modes, no path of the checkout"
  exit $failed
fi

copy=$work/second/sources-of-vexa-in-another-folder
mkdir -p "$copy"
(cd "$source" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [[ -e $file ]] && printf '%s\0' "$file"; done |
  tar --null -T - -cf -) | tar -C "$copy" -xf -
echo "second build in $copy, from $(date '+%F %T') (the first: $(date -r "$source/build-win/vexa.exe" '+%F %T'))"
(
  cd "$copy" && umask 077 && export TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 &&
    nice make -s -o deps JOBS="${JOBS:-2}" deb build-win web >"$work/second.log" 2>&1 &&
    release_files "$copy" "$work/second/files"
) || { tail -40 "$work/second.log"; echo "FAIL: the second build" >&2; exit 1; }

for file in "${files[@]}"; do
  a=$work/first/$file b=$work/second/files/$file
  if cmp -s "$a" "$b"; then
    printf '  same: %-26s %9d bytes  sha256 %s\n' "$file" "$(stat -c %s "$a")" "$(sha256sum "$a" | cut -d' ' -f1)"
  else
    fail "$file differs between the two builds: $(cmp "$a" "$b" | head -1) ($(stat -c %s "$a" "$b" | paste -sd/) bytes)"
  fi
done
((failed)) || echo "the two builds gave the same bytes"
exit $failed
