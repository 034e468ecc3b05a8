#!/usr/bin/env bash
# Puts the release files of the committed sources into dist/ and prints their checksums:
#   vexa.exe                    the Windows program (build-win, linked stripped)
#   vexa-web-<version>.zip      the browser site (build-web/site)
#   vexa_<version>_amd64.deb    the Debian package (build)
#   vexa-<version>.tar.gz       the sources of the commit (git archive)
#   SHA256SUMS                  their SHA-256 checksums, as sha256sum -c reads them
# The builds are those of the work tree, so it must hold exactly the commit: nothing changed, nothing new.
# Usage: dist.sh   (from `make dist`, after the builds)
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(head -1 VERSION)
export LC_ALL=C TZ=UTC

changes=$(git status --porcelain --untracked-files=normal)
if [[ -n $changes ]]; then
  echo "dist: the work tree differs from its commit; commit or put aside these first:" >&2
  echo "$changes" >&2
  exit 1
fi
# The executable is linked with -s: a symbol table left in it would be a build that was not.
if i686-w64-mingw32-objdump -t build-win/vexa.exe | grep -q '^\[ *[0-9]'; then
  echo "dist: build-win/vexa.exe is not stripped" >&2
  exit 1
fi

rm -rf dist
mkdir dist
cp build-win/vexa.exe dist/vexa.exe
packaging/web_zip.sh build-web/site . dist >/dev/null
packaging/deb.sh build . dist >/dev/null
git archive --format=tar.gz --prefix="vexa-$version/" -o "dist/vexa-$version.tar.gz" HEAD
files=(vexa.exe "vexa-web-$version.zip" "vexa_${version}_amd64.deb" "vexa-$version.tar.gz")
(cd dist && sha256sum "${files[@]}" >SHA256SUMS)

echo "Release $version of $(git rev-parse --short HEAD) in dist/:"
(cd dist && ls -l "${files[@]}" | awk '{ printf "  %-28s %9d bytes\n", $9, $5 }')
echo "SHA256SUMS:"
sed 's/^/  /' dist/SHA256SUMS
