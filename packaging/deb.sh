#!/usr/bin/env bash
# Makes the Debian package vexa_<version>_amd64.deb from a Linux build folder: the two programs (stripped),
# their manual pages and bash completion (packaging/install.sh with PREFIX=/usr), the copyright and a
# changelog, and the run-time libraries they need as dependencies (dpkg-shlibdeps finds the packages).
# Two builds of one commit give the same bytes: every file carries the commit's time
# (packaging/source_date.sh), modes are set here whatever the umask, dpkg-deb stores the files in order
# with root as their owner and compresses on one thread.
# Usage: deb.sh BUILD_DIR SOURCE_DIR OUTPUT_DIR     (prints the package's path)
set -euo pipefail
[[ $# -eq 3 ]] || { echo "usage: $0 BUILD_DIR SOURCE_DIR OUTPUT_DIR" >&2; exit 2; }
build=$1 source=$2 output=$3
here=$(cd "$(dirname "$0")" && pwd)
version=$(head -1 "$source/VERSION")
epoch=$("$here/source_date.sh" "$source")
maintainer="vexa utility maintainers <maintainers@vexa.example>"
package=$output/vexa_${version}_amd64.deb
export LC_ALL=C TZ=UTC

# The files go into debian/vexa/ of a folder with a debian/control: where dpkg-shlibdeps looks for them.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/debian/vexa
mkdir -p "$root"
printf 'Source: vexa\n\nPackage: vexa\nArchitecture: amd64\n' >"$work/debian/control"
PREFIX=/usr DESTDIR=$root NO_RECORD=1 "$here/install.sh" install "$build" >/dev/null

doc=$root/usr/share/doc/vexa
install -d -m 755 "$doc"
install -m 644 "$here/copyright" "$doc/copyright"
{
  echo "vexa ($version) unstable; urgency=medium"
  echo
  echo "  * Release $version of the vexa utility."
  echo
  echo " -- $maintainer  $(date -u -R -d "@$epoch")"
} | gzip -9n >"$doc/changelog.gz"
chmod 644 "$doc/changelog.gz"

# dpkg-shlibdeps takes the package's root for the folder that holds DEBIAN.
install -d -m 755 "$root/DEBIAN"
depends=$(cd "$work" && dpkg-shlibdeps -O -edebian/vexa/usr/bin/vexa -edebian/vexa/usr/bin/vexa-sim |
  sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || { echo "deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

# Installed-Size as dpkg-gencontrol counts it: each file rounded up to a KiB, and a KiB for each folder.
size=$(find "$root" -mindepth 1 \( -type f -printf '%s\n' \) -o \( -type d -printf '1024\n' \) |
  awk '{ total += int(($1 + 1023) / 1024) } END { print total }')
cat >"$root/DEBIAN/control" <<CONTROL
Package: vexa
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $size
Depends: $depends
Section: sound
Priority: optional
Description: settings and firmware updates of the vexa MIDI timecode interface
 The vexa utility pairs the MIDI ports of a vexa, a USB MIDI timecode
 interface, reads back and changes the unit's settings and writes the
 firmware it carries into a unit in update mode. It shows its dialog in a
 terminal and talks to the unit through ALSA or JACK.
 .
 vexa-sim is a simulated unit as a MIDI device of its own on ALSA or JACK,
 to try the program without a unit.
CONTROL
(cd "$root" && find usr -type f | sort | xargs md5sum) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

find "$root" -type d -exec chmod 755 {} +
find "$root" -exec touch -h -d "@$epoch" {} +
mkdir -p "$output"
SOURCE_DATE_EPOCH=$epoch dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$root" "$package" >/dev/null
echo "$package"
