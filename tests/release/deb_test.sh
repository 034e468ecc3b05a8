#!/usr/bin/env bash
# The Debian package that `make deb` makes (packaging/deb.sh) from a build folder:
#   - its name, and the fields Package, Version (VERSION) and Architecture;
#   - Depends names the package of every library that the programs name (found here with readelf, ldd
#     and dpkg -S, not as dpkg-shlibdeps finds them), RtMidi's and ncurses' among them, and no -dev package;
#   - exactly the files it should hold, root's, with their modes; the programs stripped; the manual
#     pages compressed without a name or a time; the programs as unpacked run;
#   - lintian finds no error (its whole output is printed).
# Usage: deb_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
version=$(head -1 "$source/VERSION")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
command -v lintian >/dev/null || { echo "lintian is not installed (scripts/deps.sh test installs it)"; exit 77; }

package=$("$source/packaging/deb.sh" "$build" "$source" "$work") || { echo "FAIL: deb.sh failed" >&2; exit 1; }
[[ $(basename "$package") == "vexa_${version}_amd64.deb" ]] || fail "the package is named $(basename "$package")"
field() { dpkg-deb -f "$package" "$1"; }
[[ $(field Package) == vexa ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version), not $version"
[[ $(field Architecture) == amd64 ]] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
echo "Depends: $depends"
[[ $depends == *librtmidi* && $depends == *libncursesw* ]] || fail "Depends names no RtMidi or ncurses library"
[[ $depends != *-dev* ]] || fail "Depends names a -dev package"
# The package names in Depends, without versions.
depended=$(tr ',|' '\n\n' <<<"$depends" | sed -E 's/\(.*\)//; s/ //g')

unpacked=$work/unpacked
dpkg-deb -x "$package" "$unpacked"
for program in vexa vexa-sim; do
  # The libraries the program names itself (not those that they load in turn), where ldd finds them.
  needed=$(readelf -d "$unpacked/usr/bin/$program" | sed -nE 's/.*Shared library: \[(.*)\]/\1/p')
  [[ -n $needed ]] || fail "$program names no libraries"
  while read -r library path; do
    grep -qxF "$library" <<<"$needed" || continue
    owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -1 | cut -d: -f1)
    [[ -n $owner ]] || owner=$(dpkg -S "$path" 2>/dev/null | head -1 | cut -d: -f1)
    [[ -n $owner ]] || { fail "$program: no package holds $library ($path)"; continue; }
    grep -qxF "$owner" <<<"$depended" ||
      fail "$program needs $library of $owner, which Depends does not name"
  done < <(ldd "$unpacked/usr/bin/$program" | sed -nE 's/^\s*(\S+) => (\/\S+).*/\1 \2/p')
  readelf -S "$unpacked/usr/bin/$program" | grep -qE '\.(symtab|debug_)' && fail "$program is not stripped"
done
"$unpacked/usr/bin/vexa" --version | grep -qF "vexa $version" || fail "the packaged vexa --version does not name $version"
"$unpacked/usr/bin/vexa" --midi sim --list | grep -q "paired with" || fail "the packaged vexa --midi sim --list shows no unit"

# Path, mode and owner of every file and folder.
listing=$(dpkg-deb -c "$package" | awk '{ print $1, $2, $6 }' | sort -k3)
expected="drwxr-xr-x root/root ./
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/vexa
-rwxr-xr-x root/root ./usr/bin/vexa-sim
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/bash-completion/
drwxr-xr-x root/root ./usr/share/bash-completion/completions/
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vexa
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vexa-sim
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/vexa/
-rw-r--r-- root/root ./usr/share/doc/vexa/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/vexa/copyright
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/vexa-sim.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/vexa.1.gz"
[[ $listing == "$expected" ]] || fail "the package holds:
$listing
instead of:
$expected"
# gzip's header: flags (byte 3) without a name, time (bytes 4-7) zero.
for page in vexa vexa-sim; do
  header=$(od -An -tu1 -j3 -N5 "$unpacked/usr/share/man/man1/$page.1.gz" | tr -s ' ')
  [[ $header == " 0 0 0 0 0" ]] || fail "$page.1.gz carries a name or a time (header bytes 3-7:$header)"
done

echo "--- lintian $(basename "$package")"
lintian_output=$(lintian --tag-display-limit 0 "$package" 2>&1)
echo "${lintian_output:-(nothing)}"
echo "---"
grep -q '^E: ' <<<"$lintian_output" && fail "lintian reports errors"

[[ $failures -eq 0 ]] || { echo "$failures failures" >&2; exit 1; }
echo "the package is whole, declares what its programs load, and lintian finds no error"
