#!/usr/bin/env bash
# Installs the Debian packages that a build or test needs, when they are missing.
# Usage: scripts/deps.sh run|test|web
set -euo pipefail

run_packages=(binutils-mingw-w64-i686 librtmidi-dev libncurses-dev pkg-config)
test_packages=("${run_packages[@]}" clang-format tmux g++-mingw-w64-i686 icoutils xvfb xdotool imagemagick jackd2
               clang libfuzzer-14-dev libclang-rt-14-dev wine wine32:i386 x11-utils)

# The browser build and its tests: Emscripten, the browser and, from npm, the pinned driver (tests/web).
web_packages=(binutils-mingw-w64-i686 emscripten chromium chromium-driver nodejs)

case "${1:-}" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  web) wanted=("${web_packages[@]}") ;;
  *) echo "usage: $0 run|test|web" >&2; exit 2 ;;
esac

# The browser tests' driver, as tests/web/package-lock.json pins it (npm comes with nodejs).
npm_packages() {
  [[ "$1" == web ]] || return 0
  local folder
  folder="$(dirname "$0")/../tests/web"
  [[ -d "$folder/node_modules/playwright-core" ]] || (cd "$folder" && npm ci --no-audit --no-fund)
}

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -eq 0 ]]; then
  npm_packages "$1"
  exit 0
fi

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
npm_packages "$1"
