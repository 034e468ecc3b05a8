#!/usr/bin/env bash
# Builds the site of one revision of the project (a release's tag) from that revision's own sources, so
# that the site is pinned to its version: `make web REF=<tag>` runs it.
# Usage: scripts/web_release.sh <revision> <folder>; the sources go to <folder>/src/, the site to
# <folder>/site/.
set -euo pipefail
cd "$(dirname "$0")/.."
revision=$1
folder=$2
if ! commit=$(git rev-parse --verify --quiet "$revision^{commit}"); then
  echo "web_release.sh: $revision names no revision of this repository" >&2
  exit 2
fi
rm -rf "$folder/src"
mkdir -p "$folder/src"
git archive "$commit" | tar -x -C "$folder/src"
export NODE_PATH=/usr/share/nodejs
# shellcheck disable=SC2086  # CMAKE_FLAGS holds several flags
emcmake cmake -S "$folder/src" -B "$folder" ${CMAKE_FLAGS:-} >/dev/null
cmake --build "$folder" -j"${JOBS:-2}"
echo "The site of $revision (commit ${commit:0:12}, version $(head -n 1 "$folder/src/VERSION")): $folder/site/"
