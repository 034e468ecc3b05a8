#!/bin/sh
# Prints the time that the release files carry (SOURCE_DATE_EPOCH, seconds since 1970): as given in the
# environment, else the time of the commit checked out in SOURCE_DIR, else the time of SOURCE_DIR/VERSION,
# which in a tarball made by git archive is that commit's time too. With STAMP it writes the time into
# that file instead, and only when it differs from what the file holds, so that what depends on the file
# is made again only then.
# Usage: source_date.sh SOURCE_DIR [STAMP]
set -eu
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  time=$SOURCE_DATE_EPOCH
else
  # Only a checkout of its own: a tarball unpacked inside another repository is not that repository's.
  top=$(git -C "$1" rev-parse --show-toplevel 2>/dev/null || true)
  if [ -n "$top" ] && [ "$(cd "$top" && pwd -P)" = "$(cd "$1" && pwd -P)" ]; then
    time=$(git -C "$1" log -1 --format=%ct)
  else
    time=$(stat -c %Y "$1/VERSION")
  fi
fi
if [ $# -lt 2 ]; then
  echo "$time"
elif [ "$(cat "$2" 2>/dev/null || true)" != "$time" ]; then
  echo "$time" >"$2"
fi
