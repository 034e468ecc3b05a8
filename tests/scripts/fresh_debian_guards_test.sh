#!/usr/bin/env bash
# scripts/fresh_debian.sh's guards around its root, without debootstrap, in a mount namespace of its own
# (unshare) with scratch folders and tmpfs for the host's file systems. Run whole (its debootstrap only
# logs), it refuses a root/ that exists or has a mount under it, and keeps both. Its functions sourced: a
# signal right after the bind mount of "/dev" (a scratch folder) ends it, and the clean-up unmounts, removes
# the root and leaves the bound folder whole; when both unmounts fail it removes nothing; and when it
# cannot see a mount, rm stays on the root's file system.
# Usage: fresh_debian_guards_test.sh REPO
set -uo pipefail
repo=$1
script=$repo/scripts/fresh_debian.sh

if [[ ${FRESH_DEBIAN_GUARDS_NAMESPACE:-} != 1 ]]; then
  namespace=(unshare -m --propagation private)
  [[ $(id -u) -eq 0 ]] || namespace=(unshare -r -m --propagation private)
  "${namespace[@]}" true 2>/dev/null || { echo "no mount namespace of our own here: skipped"; exit 77; }
  FRESH_DEBIAN_GUARDS_NAMESPACE=1 exec "${namespace[@]}" "$0" "$@"
fi

work=$(realpath "$(mktemp -d)")
trap 'rm -rf --one-file-system "$work"' EXIT
fail() {
  printf 'FAIL: %s\n--- it printed:\n%s\n' "$*" "$(cat "$work/out" 2>/dev/null)" >&2
  exit 1
}
mkdir -p "$work/bin"
printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$work/debootstrap.log" >"$work/bin/debootstrap"
printf '#!/bin/sh\n' >"$work/bin/tmux"
chmod +x "$work/bin/debootstrap" "$work/bin/tmux"
# The host folder that the root's dev is bound to, with a file that must survive.
host=$work/host-dev
mkdir "$host" && echo keep >"$host/mine"

run_whole() { PATH=$work/bin:$PATH "$script" "$1" >"$work/out" 2>&1; }
# Runs bash commands "$1" with fresh_debian.sh's functions, its root made in a new folder $2 with dev and
# sys in it, and its mount of /dev bound to $host instead.
with_functions() {
  mkdir "$2" && bash -c 'source "$1"; root=$2/root; socket=$2/tmux.sock; host=$3; make_root || exit 2
    mkdir "$root/dev" "$root/sys"; mount() { [[ $1 != --rbind ]] || command mount --bind "$host" "$3"; }
    '"$1" _ "$script" "$2" "$host" >"$work/out" 2>&1
}

# refused FOLDER REASON: run whole on FOLDER, it stops with exit code 2 and REASON, before debootstrap, and
# FOLDER/root/dev/mine is still there.
refused() {
  mkdir -p "$1/root/dev" && echo keep >"$1/root/dev/mine"
  run_whole "$1"
  code=$?
  [[ $code -eq 2 ]] || fail "it exited with $code"
  grep -qF "$2" "$work/out" || fail "the reason is not given: $2"
  [[ -f $1/root/dev/mine ]] || fail "$1/root/dev/mine is gone"
  [[ ! -e $work/debootstrap.log ]] || fail "debootstrap ran"
}

echo "=== a root/ that exists in the work folder passed in is refused and kept"
refused "$work/exists" "$work/exists/root exists"

echo "=== something mounted under the root: refused, the mount kept"
mkdir -p "$work/mounted/root/dev"
mount -t tmpfs vexa-test "$work/mounted/root/dev" || fail "cannot mount a tmpfs"
refused "$work/mounted" "still mounted under $work/mounted/root (unmount first): $work/mounted/root/dev"
umount "$work/mounted/root/dev"

echo "=== a signal right after the bind mount: unmounted, the root removed, the bound folder whole"
with_functions '
  mount() { [[ $1 != --rbind ]] || { command mount --bind "$host" "$3" && kill -TERM $$; }; }
  mount_in_root dev
  sleep 5
  exit 3' "$work/signal"
code=$?
[[ $code -eq 1 ]] || fail "it exited with $code"
[[ -f $host/mine ]] || fail "the bound folder lost its file"
[[ -z $(findmnt -rn -o TARGET | grep -F "$work/signal") ]] || fail "still mounted: the mount was not recorded"
[[ ! -e $work/signal/root ]] || fail "the root was not removed"

echo "=== both unmounts fail: nothing removed"
with_functions '
  mount_in_root dev
  umount() { return 1; }
  exit 0' "$work/stuck"
grep -qF "not removing $work/stuck/root: still mounted there: $work/stuck/root/dev" "$work/out" ||
  fail "the clean-up does not say why it keeps the root"
[[ -f $host/mine ]] || fail "the bound folder lost its file"
[[ -d $work/stuck/root ]] || fail "the root was removed"
umount "$work/stuck/root/dev"

echo "=== a mount that the clean-up cannot see: rm stays on the root's file system"
with_functions '
  mount() { command mount -t tmpfs vexa-test "$root/sys"; }
  mount_in_root sys
  echo keep >"$root/sys/mine"
  umount() { return 1; }
  mounts_under() { :; }
  exit 0' "$work/unseen"
[[ -f $work/unseen/root/sys/mine ]] || fail "rm went into the tmpfs"
umount "$work/unseen/root/sys"
echo "passed"
