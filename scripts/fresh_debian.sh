#!/usr/bin/env bash
# The README's two commands on a bare Debian 12: builds a minimal bookworm root with debootstrap (only make
# and git added), clones this repository's committed HEAD into it and, as root inside it,
#   1. runs `make run` in a tmux pane of 80 x 24, waits until the dialog is shown, then quits with Ctrl+Q;
#   2. runs `make test`;
#   3. runs both dependency steps once more, which must then install nothing;
#   4. makes the Debian package (make deb), installs it with apt, runs `vexa --version` and
#      `vexa --midi sim list` (--list where vexa has no commands) from it and removes it, checking that
#      none of its files is left.
# It reports the packages each command installed and its wall time. It downloads several hundred MB and
# takes a quarter of an hour or more, so it is not part of `make test`.
#
# Usage (as root, with debootstrap and tmux installed):
#   scripts/fresh_debian.sh [work dir]       # default: a new folder under /var/tmp
# MIRROR overrides the Debian mirror (default: the first one in apt's own sources); KEEP=1 keeps the root.
# The root is the folder root/ in the work folder: the script refuses to start when it exists or anything is
# mounted under it, and at the end removes only the root that it made, on its own file system, once nothing
# is mounted in it.
set -uo pipefail

say() { echo "$*" | tee -a "$report"; }

# Mount points at or under folder $1, one a line, from the kernel's table: also those this script did not
# make.
mounts_under() {
  local target
  findmnt -rn -o TARGET | while read -r target; do
    target=$(printf '%b' "$target")
    [[ $target == "$1" || $target == "$1"/* ]] && echo "$target"
  done
}

# Makes the root folder and has cleanup run at the end, whatever ends the script. It refuses (2) while
# anything is mounted under the root or when the root exists: a root that this script did not make is never
# removed, and neither is anything mounted in it.
root_made=0
make_root() {
  local left
  left=$(mounts_under "$root")
  if [[ -n $left ]]; then
    echo "still mounted under $root (unmount first): ${left//$'\n'/ }" >&2
    return 2
  fi
  if [[ -e $root ]]; then
    echo "$root exists; this script removes only a root that it makes: move it or pick another folder" >&2
    return 2
  fi
  trap cleanup EXIT
  trap 'exit 1' INT TERM HUP
  mkdir "$root" || return 2
  root_made=1
}

# Mounts the host's proc, sys or dev into the root. The mount point is recorded first, so that an exit at
# any point leaves the clean-up none to miss.
mounted=()
mount_in_root() {
  mounted+=("$root/$1")
  case $1 in
    proc) mount -t proc proc "$root/proc" ;;
    sys) mount -t sysfs sys "$root/sys" ;;
    dev) mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" ;;
  esac
}

# Unmounts what mount_in_root mounted, then removes the root if this script made it, unless KEEP=1. It does
# not remove a root that something is still mounted in (the host's /dev would go with it), and removes on
# one file system only, whatever happens.
cleanup() {
  tmux -S "$socket" kill-server 2>/dev/null
  local i left
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    mountpoint -q "${mounted[i]}" || continue
    umount -R "${mounted[i]}" 2>/dev/null || umount -lR "${mounted[i]}"
  done
  [[ ${KEEP:-0} != 1 && $root_made == 1 ]] || return 0
  left=$(mounts_under "$root")
  if [[ -n $left ]]; then
    echo "not removing $root: still mounted there: ${left//$'\n'/ }" >&2
    return 1
  fi
  rm -rf --one-file-system "$root"
}

# Sourced by the tests of the functions above.
[[ ${BASH_SOURCE[0]} == "$0" ]] || return 0

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
[[ $(id -u) -eq 0 ]] || { echo "run as root (debootstrap and chroot need it)" >&2; exit 2; }
for tool in debootstrap tmux git; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

work=${1:-$(mktemp -d /var/tmp/vexa-fresh.XXXXXX)}
mkdir -p "$work"
# As the kernel's table of mounts names it.
work=$(cd "$work" && pwd -P)
root=$work/root
report=$work/report.txt
: >"$report"
mirror=${MIRROR:-$(grep -hoE '(URIs:|^deb) +https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null | head -1 | awk '{print $2}')}
mirror=${mirror:-http://deb.debian.org/debian}
socket=$work/tmux.sock

make_root || exit 2

# The shell a person gets with `su -` on a minimal system: no LANG, root's home, the usual PATH. Where this
# machine reaches https only through a proxy with its own certificate authority (NODE_EXTRA_CA_CERTS, as
# in a sandbox), npm in the root is given the same authority; a machine on the open network needs nothing.
extra_ca=()
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root TERM=${TERM_IN_ROOT:-screen} "${extra_ca[@]}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
packages() { in_root dpkg-query -W -f='${binary:Package}\n' | sort; }
# Packages installed since the list in file $1, as one line and their count.
new_packages() {
  local added
  added=$(comm -13 "$1" <(packages))
  echo "$(echo "$added" | grep -c .) packages: $(echo "$added" | tr '\n' ' ')"
}
# The packages that scripts/deps.sh asked apt for, from a log.
asked_for() { grep -h '^Installing: ' "$@" | sed 's/^Installing: //' | tr '\n' ' '; }

say "=== debootstrap --variant=minbase bookworm from $mirror into $root"
start=$SECONDS
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -20 "$work/debootstrap.log"; say "debootstrap failed"; exit 1; }
for fs in proc sys dev; do
  mount_in_root "$fs" || { say "mounting $fs in the root failed"; exit 1; }
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
if [[ -n ${NODE_EXTRA_CA_CERTS:-} && -f $NODE_EXTRA_CA_CERTS ]]; then
  cp "$NODE_EXTRA_CA_CERTS" "$root/root/proxy-ca.crt"
  extra_ca=(NODE_EXTRA_CA_CERTS=/root/proxy-ca.crt)
  say "npm in the root trusts this machine's proxy authority ($NODE_EXTRA_CA_CERTS)"
fi
in_root apt-get update -q >"$work/base.log" 2>&1 &&
  in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends make git \
    >>"$work/base.log" 2>&1 || { tail -20 "$work/base.log"; say "installing make and git failed"; exit 1; }
git clone -q --no-local "$repo" "$root/root/vexa" || { say "cloning $repo failed"; exit 1; }
say "root ready in $((SECONDS - start)) s: $(packages | wc -l) packages, $(git -C "$repo" rev-parse --short HEAD) cloned"

failed=0

say "=== make run in tmux at 80 x 24"
packages >"$work/before-run.txt"
start=$SECONDS
tmux -S "$socket" -f /dev/null new-session -d -x 80 -y 24 \
  "chroot '$root' /usr/bin/env -i HOME=/root TERM=screen PATH=/usr/sbin:/usr/bin:/sbin:/bin \
     sh -c 'cd /root/vexa && make run; echo \$? > /root/run-exit'; sleep 600"
tmux -S "$socket" pipe-pane -o "cat >> '$work/run.log'"
shown=0
while ((SECONDS - start < 3600)); do
  if tmux -S "$socket" capture-pane -p | grep -q "Quorvanex vexa 3.1"; then
    shown=1
    break
  fi
  [[ -s $root/root/run-exit ]] && break
  sleep 1
done
run_time=$((SECONDS - start))
tmux -S "$socket" capture-pane -p >"$work/run-screen.txt"
if [[ $shown -eq 1 ]]; then
  tmux -S "$socket" send-keys C-q
  for _ in $(seq 100); do
    [[ -s $root/root/run-exit ]] && break
    sleep 0.1
  done
  say "make run: the dialog is shown at 80 x 24 after $run_time s; exit code after Ctrl+Q: $(cat "$root/root/run-exit" 2>/dev/null || echo none)"
  [[ "$(cat "$root/root/run-exit" 2>/dev/null)" == 0 ]] || failed=1
else
  say "make run: FAILED, no dialog after $run_time s; the screen:"
  tee -a "$report" <"$work/run-screen.txt"
  failed=1
fi
tmux -S "$socket" kill-server 2>/dev/null
say "make run asked for: $(asked_for "$work/run.log")"
say "make run installed $(new_packages "$work/before-run.txt")"
cat "$work/run-screen.txt"

say "=== make test"
packages >"$work/before-test.txt"
start=$SECONDS
in_root sh -c 'cd /root/vexa && make test' >"$work/test.log" 2>&1
code=$?
test_time=$((SECONDS - start))
say "make test: exit code $code after $test_time s; $(grep -E '^[0-9]+ passed, ' "$work/test.log" | tail -1)"
grep -E '^=== .*: (passed|FAILED|skipped)' "$work/test.log" | tee -a "$report"
[[ $code -eq 0 ]] || { failed=1; tail -40 "$work/test.log"; }
say "make test asked for: $(asked_for "$work/test.log")"
say "make test installed $(new_packages "$work/before-test.txt")"

say "=== both dependency steps again"
packages >"$work/before-again.txt"
in_root sh -c 'cd /root/vexa && scripts/deps.sh run && scripts/deps.sh test' >"$work/again.log" 2>&1 || failed=1
again=$(comm -3 "$work/before-again.txt" <(packages) | wc -l)
say "changed packages: $again; $(cat "$work/again.log")"
[[ $again -eq 0 ]] || failed=1

# The Debian package as a person uses it: made with `make deb`, installed with apt, run from /usr/bin, and
# removed again without a file of it left.
say "=== make deb, then the package installed, run and removed"
in_root sh -c 'cd /root/vexa && make deb' >"$work/deb.log" 2>&1 || { failed=1; tail -20 "$work/deb.log"; }
deb=$(cd "$root/root/vexa/build" 2>/dev/null && ls vexa_*_amd64.deb 2>/dev/null | head -1)
if [[ -n $deb ]]; then
  say "$deb: $(stat -c %s "$root/root/vexa/build/$deb") bytes; Depends: $(dpkg-deb -f "$root/root/vexa/build/$deb" Depends)"
  packages >"$work/before-deb.txt"
  in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-remove "/root/vexa/build/$deb" \
    >>"$work/deb.log" 2>&1 || { failed=1; say "installing $deb failed"; tail -20 "$work/deb.log"; }
  say "installing it added $(new_packages "$work/before-deb.txt")"
  in_root dpkg -L vexa >"$work/deb-files.txt" 2>&1
  say "vexa --version: $(in_root sh -c 'cd / && vexa --version' 2>&1)"
  # The command `list` where the program has commands, else the option --list that it stands for.
  listing=list
  in_root sh -c 'vexa --help' | grep -qE '^  list ' || listing=--list
  in_root sh -c "cd / && vexa --midi sim $listing" >"$work/deb-list.txt" 2>&1
  code=$?
  say "vexa --midi sim $listing (exit code $code): $(tr '\n' ' ' <"$work/deb-list.txt")"
  [[ $code -eq 0 ]] || failed=1
  grep -q "paired with" "$work/deb-list.txt" || { failed=1; say "the packaged vexa lists no simulated unit"; }
  in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q vexa >>"$work/deb.log" 2>&1 || failed=1
  left=$(while read -r file; do [[ -f $root$file || -L $root$file ]] && echo "$file"; done <"$work/deb-files.txt")
  if in_root dpkg-query -W vexa >/dev/null 2>&1 || [[ -n $left ]]; then
    failed=1
    say "removing it FAILED: $(in_root dpkg-query -W vexa 2>&1) $left"
  else
    say "removed: no vexa package, none of its $(grep -c . "$work/deb-files.txt") paths' files left"
  fi
else
  failed=1
  say "make deb made no package; the log's end:"
  tail -20 "$work/deb.log" | tee -a "$report"
fi

say "=== $([[ $failed -eq 0 ]] && echo passed || echo FAILED); logs and report in $work"
exit $failed
