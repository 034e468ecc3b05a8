#!/usr/bin/env bash
# The Debian package that `make deb` makes (packaging/deb.sh) from a build folder:
#   - its name and Version (VERSION);
#   - Depends (dpkg-shlibdeps's) names RtMidi's and ncurses' libraries, and no -dev package;
#   - exactly the files it should hold, root's, with their modes; the program, as unpacked, runs (the
#     times in it are reproducible.sh's, the version of --version docs_test.sh's);
#   - lintian finds no error, such as a program not stripped (its whole output is printed).
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
[[ $(dpkg-deb -f "$package" Version) == "$version" ]] || fail "Version: $(dpkg-deb -f "$package" Version), not $version"
depends=$(dpkg-deb -f "$package" Depends)
[[ $depends == *librtmidi* && $depends == *libncursesw* ]] || fail "Depends names no RtMidi or ncurses library"
[[ $depends != *-dev* ]] || fail "Depends names a -dev package"

unpacked=$work/unpacked
dpkg-deb -x "$package" "$unpacked"
"$unpacked/usr/bin/vexa" --midi sim --list | grep -q "paired with" || fail "the packaged vexa --midi sim --list shows no unit"

# Path, mode and owner of every file and folder: the programs and the folders rwxr-xr-x, the other files
# rw-r--r--, all root's, and nothing else.
listing=$(dpkg-deb -c "$package" | awk '{ print $1, $2, $6 }' | sort -k3)
expected=$(for file in bin/vexa bin/vexa-sim share/bash-completion/completions/vexa{,-sim} \
  share/doc/vexa/{changelog.gz,copyright} share/man/man1/vexa{,-sim}.1.gz; do
  path=./usr/$file mode=-rw-r--r--
  [[ $file == bin/* ]] && mode=-rwxr-xr-x
  echo "$mode root/root $path"
  while path=$(dirname "$path"); do
    echo "drwxr-xr-x root/root $path/"
    [[ $path != . ]] || break
  done
done | sort -u -k3)
[[ $listing == "$expected" ]] || fail "the package holds:
$listing
instead of:
$expected"

lintian_output=$(lintian --tag-display-limit 0 "$package" 2>&1)
printf -- '--- lintian %s\n%s\n---\n' "$(basename "$package")" "${lintian_output:-(nothing)}"
grep -q '^E: ' <<<"$lintian_output" && fail "lintian reports errors"

[[ $failures -eq 0 ]] || { echo "$failures failures" >&2; exit 1; }
echo "the package is whole and lintian finds no error"
