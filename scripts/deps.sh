#!/usr/bin/env bash
# Installs the Debian packages that a build or test needs, when they are missing.
# Usage: scripts/deps.sh run|test
set -euo pipefail

run_packages=(binutils-mingw-w64-i686 librtmidi-dev libncurses-dev pkg-config)
test_packages=("${run_packages[@]}" clang-format tmux g++-mingw-w64-i686 icoutils xvfb xdotool imagemagick jackd2
               clang libfuzzer-14-dev libclang-rt-14-dev wine wine32:i386 x11-utils)

case "${1:-}" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

needs_i386=0
for package in "${missing[@]}"; do [[ "$package" == *:i386 ]] && needs_i386=1; done

if [[ $(id -u) -ne 0 ]]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them as root with:" >&2
  [[ $needs_i386 -eq 1 ]] && echo "  dpkg --add-architecture i386 &&" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
[[ $needs_i386 -eq 1 ]] && dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
