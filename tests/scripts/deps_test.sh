#!/usr/bin/env bash
# scripts/deps.sh against the real apt on a made-up machine: a dpkg database and a package archive of its
# own in a scratch folder (APT_CONFIG, DPKG_ADMINDIR), and in place of dpkg a stub that only logs what apt
# asks of it. Nothing on this machine is installed, removed or fetched.
#   - With an installed package that conflicts with a wanted one, `deps.sh test` installs nothing, names
#     both sides of each conflict, prints the command that replaces them and leaves the architectures as
#     they were.
#   - With JACK 1 installed (jackd1, libjack0, libjack-dev), `deps.sh test` installs the rest beside it and
#     nothing of JACK 2.
#   - With neither, `deps.sh run` installs its list with JACK 2's development files, with --no-remove.
# As root deps.sh takes its install path; as another user it prints what to install, which is checked.
# Usage: deps_test.sh REPO
set -uo pipefail
repo=$1
deps=$repo/scripts/deps.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  printf -- '--- dpkg was asked:\n%s\nFAIL: %s\n--- deps.sh printed:\n%s\n' "$(cat "$work/dpkg.log" 2>/dev/null)" "$*" \
    "$(cat "$work/out" 2>/dev/null)" >&2
  exit 1
}

root=$work/root
admin=$root/var/lib/dpkg
mkdir -p "$work/archive" "$admin" "$root/etc/apt/apt.conf.d" "$root/etc/apt/preferences.d" \
  "$root/var/lib/apt/lists/partial" "$root/var/cache/apt/archives/partial" "$root/var/log/apt"
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$work/dpkg.log" >"$work/dpkg"
chmod +x "$work/dpkg"
echo "deb [trusted=yes] file:$work/archive ./" >"$root/etc/apt/sources.list"
cat >"$work/apt.conf" <<EOF
Dir "$root/";
Dir::State::status "$admin/status";
Dir::Bin::dpkg "$work/dpkg";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
APT::Architecture "amd64";
APT::Architectures { "amd64"; "i386"; };
APT::Sandbox::User "root";
Acquire::Languages "none";
EOF
export APT_CONFIG=$work/apt.conf DPKG_ADMINDIR=$admin
# The browser tests' npm, which deps.sh runs after an install, only succeeds.
mkdir -p "$work/bin"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/npm"
chmod +x "$work/bin/npm"
export PATH=$work/bin:$PATH

# One entry of the archive's index, "name[:arch]" and then its relation fields, one a line. Every entry
# points at the same stand-in file: apt checks only its size and hash, and the stub dpkg never opens it.
# With the architecture "installed", an entry of dpkg's status instead.
package() {
  local name=${1%:*} arch=all
  [[ $1 == *:* ]] && arch=${1#*:}
  printf 'Package: %s\nVersion: 1\nArchitecture: %s\nMaintainer: vexa <vexa@localhost>\nDescription: -\n' "$name" \
    "${arch/installed/amd64}"
  if [[ $arch == installed ]]; then echo "Status: install ok installed"; else
    printf 'Filename: ./stand-in.deb\nSize: %s\nSHA256: %s\n' "$deb_size" "$deb_sha256"; fi
  shift
  printf '%s\n' "$@" ''
}
jack1_status() {
  package jackd1:installed "Provides: jack-daemon" "Conflicts: jack-daemon" "Depends: libjack0 (= 1)"
  package libjack0:installed
  package libjack-dev:installed "Depends: libjack0 (= 1)" "Provides: libjack0.100.0-dev"
}
# A tool that conflicts with CMake, and one that needs it.
conflicting_status() {
  package oldtool:installed "Conflicts: cmake"
  package oldtool-extras:installed "Depends: oldtool"
}

# The archive: every package in deps.sh's lists, the JACK 2 side with Debian's relations, the rest plain.
bash -c 'source "$1" && printf "%s\n" "${all_packages[@]}" npm' - "$deps" | sort -u >"$work/names" ||
  fail "deps.sh cannot be sourced"
echo stand-in >"$work/archive/stand-in.deb"
deb_size=$(stat -c %s "$work/archive/stand-in.deb")
deb_sha256=$(sha256sum "$work/archive/stand-in.deb" | cut -d' ' -f1)
jack2_library="Depends: libjack-jackd2-0 (= 1)"
while read -r name; do
  case $name in
    jackd2) package jackd2 "Provides: jack-daemon" "Conflicts: jack-daemon" "$jack2_library" ;;
    libjack-jackd2-dev) package libjack-jackd2-dev "Provides: libjack-dev" "Conflicts: libjack-dev" "$jack2_library" ;;
    librtmidi-dev) package librtmidi-dev "Depends: libjack-dev | libjack-jackd2-dev" ;;
    *) package "$name" ;;
  esac
done <"$work/names" >"$work/archive/Packages"
package libjack-jackd2-0 "Provides: libjack-0.125" "Conflicts: libjack-0.125, libjack0" \
  >>"$work/archive/Packages"
# With the index's hash, apt takes it as it is rather than look for every compressed form first.
printf 'Date: %s\nSHA256:\n %s %s Packages\n' "$(date -Ru)" "$(sha256sum "$work/archive/Packages" | cut -d' ' -f1)" \
  "$(stat -c %s "$work/archive/Packages")" >"$work/archive/Release"
apt-get update -q >"$work/update.log" 2>&1 || { cat "$work/update.log" >&2; fail "apt-get update failed"; }

as_root=$(($(id -u) == 0))

history=$root/var/log/apt/history.log
echo "=== a package in the way: deps.sh test stops and names both sides"
conflicting_status >"$admin/status"
echo amd64 >"$admin/arch"
: >"$work/dpkg.log"
"$deps" test >"$work/out" 2>&1 && fail "deps.sh test went on"
for text in "cmake conflicts with oldtool (installed)" "Nothing was installed or removed"; do
  grep -qF -- "$text" "$work/out" || fail "deps.sh does not say: $text"
done
# The command offered replaces them after apt has asked, on a machine as it was before.
replace='dpkg --add-architecture i386 && apt-get update && apt-get install --no-install-recommends .*cmake'
grep -qE "^  $replace" "$work/out" || fail "no command that replaces them, or one that does not ask"
if [[ $as_root -eq 1 ]]; then
  grep -qF "oldtool-extras (installed) needs oldtool, which would go" "$work/out" || fail "oldtool-extras not named"
  [[ ! -s $work/dpkg.log ]] || fail "deps.sh had dpkg run: $(cat "$work/dpkg.log")"
  [[ -z $(dpkg --print-foreign-architectures) ]] || fail "the i386 architecture was left added"
  cmp -s <(conflicting_status) "$admin/status" || fail "the dpkg status changed"
fi

echo "=== JACK 1 installed: deps.sh test installs the rest beside it"
jack1_status >"$admin/status"
: >"$work/dpkg.log"
"$deps" test >"$work/out" 2>&1
code=$?
grep -qE "jackd2|libjack-jackd2" "$work/out" "$history" 2>/dev/null && fail "JACK 2 was asked for"
if [[ $as_root -eq 1 ]]; then
  [[ $code -eq 0 ]] || fail "deps.sh test failed with $code"
  grep -qE "^Install: (.*, )?librtmidi-dev:" "$history" || fail "librtmidi-dev was not installed"
  grep -q -- "--remove\|--purge" "$work/dpkg.log" && fail "dpkg was asked to remove"
else
  grep -qF "conflicts with" "$work/out" && fail "a conflict is named where there is none"
fi
: >"$history"

echo "=== neither: deps.sh run installs its list with JACK 2, with --no-remove"
: >"$admin/status"
"$deps" run >"$work/out" 2>&1
code=$?
if [[ $as_root -eq 1 ]]; then
  [[ $code -eq 0 ]] || fail "deps.sh run failed with $code"
  for name in cmake libjack-jackd2-dev libjack-jackd2-0; do
    grep -qE "^Install: (.*, )?$name:" "$history" || fail "$name was not installed: $(cat "$history")"
  done
  grep -q -- "--unpack" "$work/dpkg.log" || fail "dpkg was not asked to unpack"
  grep -q -- "--remove\|--purge" "$work/dpkg.log" && fail "dpkg was asked to remove"
  grep -qE '^Commandline: apt-get install .*--no-remove' "$history" ||
    fail "apt-get install ran without --no-remove: $(grep Commandline "$history")"
else
  [[ $code -eq 1 ]] || fail "deps.sh run without root exited with $code"
  grep -qF "conflicts with" "$work/out" && fail "a conflict is named where there is none"
  grep -E '^  .*apt-get install -y --no-remove --no-install-recommends ' "$work/out" >/dev/null ||
    fail "the command offered does not keep apt from removing packages"
fi
echo "passed"
