#!/usr/bin/env bash
# Installs the Debian 12 packages that a make target needs, when they are missing.
# Usage: scripts/deps.sh run|check|bench|web|test
#
# Each list adds to the one before, so that installing any of them after another never removes a package.
# librtmidi-dev takes libjack-dev when nothing else is asked for, and libjack-dev conflicts with jackd2 (the
# JACK server the tests start): naming libjack-jackd2-dev beside it keeps both lists on the jackd2 side.
# As another user than root the script installs nothing: it prints one command that installs what every
# list needs (so that it makes every target work at once) and fails.
set -euo pipefail

# `make run`: the compiler, CMake, the terminal library, the MIDI library, windres for the resources and the
# JSON library of the settings files.
run_packages=(cmake g++ pkg-config libncurses-dev librtmidi-dev libjack-jackd2-dev binutils-mingw-w64-i686
              nlohmann-json3-dev)
# `make check`: the unit tests.
check_packages=("${run_packages[@]}" libgtest-dev)
# `make bench`: the upload benchmark, and the terminal program's figures in tmux.
bench_packages=("${check_packages[@]}" libbenchmark-dev tmux procps)
# `make web`: Emscripten, and the browser with node for its tests (npm is Debian's own package unless the
# installed node brings it).
web_packages=(cmake binutils-mingw-w64-i686 nlohmann-json3-dev emscripten chromium chromium-driver nodejs)
command -v npm >/dev/null || web_packages+=(npm)
# `make test`: formatting, the system tests (JACK, tmux), the fuzzer, the Windows build, Wine, the browser.
test_packages=("${bench_packages[@]}" "${web_packages[@]}" clang-format jackd2 clang libfuzzer-14-dev
               libclang-rt-14-dev g++-mingw-w64-i686 icoutils wine wine32:i386 xvfb xdotool x11-utils
               imagemagick)
# What a user without root is asked to install: every list above.
all_packages=("${test_packages[@]}")

case "${1:-}" in
  run) wanted=("${run_packages[@]}") ;;
  check) wanted=("${check_packages[@]}") ;;
  bench) wanted=("${bench_packages[@]}" "${web_packages[@]}") ;;
  web) wanted=("${web_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 run|check|bench|web|test" >&2; exit 2 ;;
esac

# The browser tests' driver, as tests/web/package-lock.json pins it.
npm_packages() {
  case "$1" in web | bench | test) ;; *) return 0 ;; esac
  local folder
  folder="$(dirname "$0")/../tests/web"
  [[ -d "$folder/node_modules/playwright-core" ]] || (cd "$folder" && npm ci --no-audit --no-fund)
}

installed() {
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" == "install ok installed" ]]
}
missing_from() {
  local package
  for package in "$@"; do installed "$package" || echo "$package"; done
}
mapfile -t missing < <(missing_from "${wanted[@]}" | sort -u)
if [[ ${#missing[@]} -eq 0 ]]; then
  npm_packages "$1"
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  mapfile -t all_missing < <(missing_from "${all_packages[@]}" | sort -u)
  i386=""
  [[ " ${all_missing[*]} " == *":i386 "* ]] && i386="dpkg --add-architecture i386 && "
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install what every make target needs as root with:" >&2
  echo "  ${i386}apt-get update && apt-get install -y --no-install-recommends ${all_missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
npm_packages "$1"
