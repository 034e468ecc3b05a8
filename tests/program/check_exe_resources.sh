#!/bin/sh
# Checks the resources linked into the Windows program: dialog 101, bitmap 113, icon group 120 with its
# seven icons, the firmware image "BINTYPE"/"FIRMWAREFILE" of 72761 bytes, nothing else, all in
# language 1031. Usage: check_exe_resources.sh vexa.exe
# (wrestool lists a string name as the type string; the --name filter still matches the real name.)

fail() {
    echo "check_exe_resources: $*" >&2
    exit 1
}

[ $# -eq 1 ] || fail "usage: $0 vexa.exe"
exe=$1
[ -f "$exe" ] || fail "no such file: $exe"
command -v wrestool >/dev/null 2>&1 || fail "wrestool (icoutils) is not installed"

listing=$(wrestool -l "$exe") || fail "wrestool cannot read the resources of $exe"
[ -n "$listing" ] || fail "$exe has no resources"

foreign=$(printf '%s\n' "$listing" | grep -v -e '--language=1031 ')
[ -z "$foreign" ] || fail "resources not in language 1031 (German, Germany):
$foreign"

count=$(printf '%s\n' "$listing" | wc -l)
[ "$count" -eq 11 ] || fail "expected 11 resources (dialog, bitmap, icon group, 7 icons, firmware), found $count:
$listing"

# expect_resource TYPE NAME [SIZE]: exactly one such resource, of SIZE bytes if given.
expect_resource() {
    found=$(wrestool -l --type="$1" --name="$2" "$exe")
    [ "$(printf '%s' "$found" | grep -c -e '--type')" -eq 1 ] || fail "resource type $1 name $2 missing"
    if [ $# -eq 3 ]; then
        printf '%s\n' "$found" | grep -q -e " size=$3\]" || fail "resource type $1 name $2 is not $3 bytes: $found"
    fi
}

expect_resource 5 101
expect_resource 2 113
expect_resource 14 120 104
expect_resource BINTYPE FIRMWAREFILE 72761

icons=$(wrestool -x --raw --type=14 --name=120 "$exe" | od -An -tu2 -j4 -N2 | tr -d ' ')
[ "$icons" = 7 ] || fail "icon group 120 lists ${icons:-no} images instead of 7"
for id in 1 2 3 4 5 6 7; do
    expect_resource 3 "$id"
done

echo "check_exe_resources: $exe has the expected resources"
