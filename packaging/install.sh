#!/usr/bin/env bash
# Installs what a Linux build folder made for people to use, or removes it again, under $DESTDIR$PREFIX
# (PREFIX is /usr/local unless given):
#   bin/vexa, bin/vexa-sim                               the programs, stripped
#   share/man/man1/vexa.1.gz, share/man/man1/vexa-sim.1.gz   their manual pages
#   share/bash-completion/completions/vexa, .../vexa-sim     their completion in bash
# Installing records every file and every folder it made in share/vexa/installed; uninstalling removes
# exactly those (a folder only once it is empty), so it leaves whatever was there before and nothing that
# installing added. NO_RECORD=1 installs without the record (the Debian package: dpkg keeps the list).
# Usage: install.sh install BUILD_DIR | install.sh uninstall
set -euo pipefail
prefix=${PREFIX:-/usr/local}
destdir=${DESTDIR:-}
record=$prefix/share/vexa/installed
[[ $prefix == /* ]] || { echo "install: PREFIX must be an absolute path, not $prefix" >&2; exit 2; }

# What goes where: source in the build folder, mode, path under the prefix.
files=(
  "vexa 755 bin/vexa"
  "vexa-sim 755 bin/vexa-sim"
  "packaging/vexa.1.gz 644 share/man/man1/vexa.1.gz"
  "packaging/vexa-sim.1.gz 644 share/man/man1/vexa-sim.1.gz"
  "packaging/completions/vexa 644 share/bash-completion/completions/vexa"
  "packaging/completions/vexa-sim 644 share/bash-completion/completions/vexa-sim"
)

# Entries of the record, "d PATH" or "f PATH", PATH as on the target system (without DESTDIR).
made=()
remember() {
  local entry
  for entry in "${made[@]}"; do [[ $entry == "$1" ]] && return 0; done
  made+=("$1")
}

# Makes a folder and those above it that are missing, remembering each.
make_folder() {
  [[ -d $destdir$1 ]] && return 0
  # DESTDIR itself is the caller's.
  [[ $1 == / ]] && { mkdir -p "$destdir"; return 0; }
  make_folder "$(dirname "$1")"
  mkdir -m 755 "$destdir$1"
  remember "d $1"
}

install_all() {
  local build=$1 entry source mode target
  [[ -f $destdir$record ]] && mapfile -t made <"$destdir$record"
  for entry in "${files[@]}"; do
    read -r source mode target <<<"$entry"
    [[ -f $build/$source ]] || { echo "install: $build/$source is missing (build it first)" >&2; exit 1; }
  done
  for entry in "${files[@]}"; do
    read -r source mode target <<<"$entry"
    make_folder "$(dirname "$prefix/$target")"
    install -m "$mode" "$build/$source" "$destdir$prefix/$target"
    # The programs stripped as Debian strips its packages' (dh_strip): no symbols, comment or debugging
    # information, a tenth of the size.
    [[ $target == bin/* ]] && strip --remove-section=.comment --remove-section=.note --strip-unneeded \
      "$destdir$prefix/$target"
    remember "f $prefix/$target"
    echo "installed $destdir$prefix/$target"
  done
  [[ ${NO_RECORD:-0} == 1 ]] && return 0
  make_folder "$(dirname "$record")"
  remember "f $record"
  printf '%s\n' "${made[@]}" >"$destdir$record"
  chmod 644 "$destdir$record"
}

uninstall_all() {
  local entry kind path
  if [[ ! -f $destdir$record ]]; then
    echo "uninstall: nothing was installed under $destdir$prefix (no $destdir$record)" >&2
    exit 1
  fi
  mapfile -t made <"$destdir$record"
  for entry in "${made[@]}"; do
    read -r kind path <<<"$entry"
    [[ $kind == f ]] || continue
    rm -f "$destdir$path"
    echo "removed $destdir$path"
  done
  # Deepest folders first; a folder that holds something else stays.
  while read -r path; do
    rmdir "$destdir$path" 2>/dev/null || true
  done < <(printf '%s\n' "${made[@]}" | sed -n 's/^d //p' | awk '{ print length, $0 }' | sort -rn | cut -d' ' -f2-)
}

case "${1:-}" in
  install) [[ $# -eq 2 ]] || { echo "usage: $0 install BUILD_DIR" >&2; exit 2; }; install_all "$2" ;;
  uninstall) uninstall_all ;;
  *) echo "usage: $0 install BUILD_DIR | $0 uninstall" >&2; exit 2 ;;
esac
