#!/usr/bin/env bash
# Makes vexa-web-<version>.zip from the browser build's site folder: every file under vexa-web-<version>/,
# in name order, with the commit's time (packaging/source_date.sh, in UTC: zip stores local times), mode
# 644, and no extra fields (owner, other times), so that two builds of one commit give the same bytes.
# Usage: web_zip.sh SITE_DIR SOURCE_DIR OUTPUT_DIR     (prints the zip's path)
set -euo pipefail
[[ $# -eq 3 ]] || { echo "usage: $0 SITE_DIR SOURCE_DIR OUTPUT_DIR" >&2; exit 2; }
site=$1 source=$2 output=$3
here=$(cd "$(dirname "$0")" && pwd)
version=$(head -1 "$source/VERSION")
epoch=$("$here/source_date.sh" "$source")
name=vexa-web-$version
[[ -f $site/index.html ]] || { echo "web_zip: no site in $site (make web builds it)" >&2; exit 1; }
export LC_ALL=C TZ=UTC

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 755 "$work/$name"
cp -R "$site/." "$work/$name/"
find "$work/$name" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
find "$work/$name" -exec touch -d "@$epoch" {} +
mkdir -p "$output"
zip_path=$(cd "$output" && pwd)/$name.zip
rm -f "$zip_path"
(cd "$work" && find "$name" -type f | sort | zip -q -X -9 "$zip_path" -@)
echo "$zip_path"
