#!/usr/bin/env bash
# Installs the Debian 12 packages that make targets need, when they are missing.
# Usage: scripts/deps.sh LIST...    LIST: run, check, bench, web, test, loc, install, deb or dist; several
# install in one step
#
# Each list adds to the one before, so that installing any of them after another never removes a package.
# The JACK that the build links and the tests start is the one installed: JACK 1 (jackd1, libjack0,
# libjack-dev) where it is there, JACK 2 (jackd2, libjack-jackd2-dev) otherwise. Both servers run
# `jackd -d dummy` with MIDI and librtmidi-dev takes either, while each conflicts with the other: naming the
# development files and the server of the one installed keeps every list on its side.
#
# It never removes a package. apt is asked first what the install would do (apt-get -s); where that removes
# an installed package (one that conflicts with a wanted one), it installs nothing, names both and prints the
# command that replaces them for whoever chooses to. The install itself runs with --no-remove too.
# As another user than root the script installs nothing: it prints one command that installs what every
# list needs (so that it makes every target work at once) and fails.
set -euo pipefail

installed() {
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" == "install ok installed" ]]
}
if installed libjack0 || installed jackd1 || installed libjack-dev; then
  jack_packages=(libjack-dev jackd1)
else
  jack_packages=(libjack-jackd2-dev jackd2)
fi

# `make run`: the compiler, CMake, the terminal library, the MIDI library with JACK's development files,
# windres for the resources and the JSON library of the settings files.
run_packages=(cmake g++ pkg-config libncurses-dev librtmidi-dev "${jack_packages[0]}" binutils-mingw-w64-i686
              nlohmann-json3-dev)
# `make check`: the unit tests, and the manual pages that they check against --help.
check_packages=("${run_packages[@]}" libgtest-dev help2man groff-base)
# `make bench`: the upload benchmark, and the terminal program's figures in tmux.
bench_packages=("${check_packages[@]}" libbenchmark-dev tmux procps)
# `make web`: Emscripten, the icon tools that make the site's icons, and the browsers with node for its
# tests: Chromium, Firefox, and WebKit's driver with its MiniBrowser, which needs an X server (npm is Debian's
# own package unless the installed node brings it).
web_packages=(cmake binutils-mingw-w64-i686 nlohmann-json3-dev emscripten icoutils imagemagick chromium chromium-driver
              firefox-esr webkit2gtk-driver xvfb nodejs)
command -v npm >/dev/null || web_packages+=(npm)
# `make loc`: the script that counts the lines of the sources git tracks.
loc_packages=(git python3)
# `make test`: formatting, the system tests (JACK, tmux), clang for the sanitizer builds and the fuzzers, the
# Windows build, Wine (and the 64-bit build under wine64 where 32-bit programs cannot run), the browser, the
# package and its lintian check, the release files.
test_packages=("${bench_packages[@]}" "${web_packages[@]}" "${loc_packages[@]}" clang-format "${jack_packages[1]}" clang
               libfuzzer-14-dev libclang-rt-14-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 icoutils wine
               wine32:i386 wine64 xvfb xdotool x11-utils imagemagick dpkg-dev lintian zip)
# `make install`: the manual pages are made from the programs' --help.
install_packages=("${run_packages[@]}" help2man)
# `make deb`: the package's dependencies are found by dpkg-shlibdeps.
deb_packages=("${install_packages[@]}" dpkg-dev)
# `make dist`: the package, the Windows program, the site and its zip, the source tarball.
dist_packages=("${deb_packages[@]}" "${web_packages[@]}" g++-mingw-w64-i686 zip git)
# What a user without root is asked to install: every list above.
all_packages=("${test_packages[@]}")

usage() {
  echo "usage: $0 run|check|bench|web|test|loc|install|deb|dist..." >&2
  exit 2
}

# The browser tests' driver, as tests/web/package-lock.json pins it, for the lists that run them.
npm_packages() {
  [[ " $* " == *" web "* || " $* " == *" bench "* || " $* " == *" test "* ]] || return 0
  local folder
  folder="$(dirname "${BASH_SOURCE[0]}")/../tests/web"
  [[ -d "$folder/node_modules/puppeteer-core" ]] || (cd "$folder" && npm ci --no-audit --no-fund)
}

missing_from() {
  local package
  for package in "$@"; do installed "$package" || echo "$package"; done
}
i386_missing() {
  [[ " $* " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386
}

# The command that installs packages "$@" as root. With --no-remove, apt stops rather than remove anything;
# without it (the packages conflict with installed ones), apt lists what it would remove and asks first.
install_command() {
  local options=$1
  shift
  local i386=""
  i386_missing "$@" && i386="dpkg --add-architecture i386 && "
  echo "${i386}apt-get update && apt-get install $options--no-install-recommends $*"
}

# What installing packages "$@" would do, as apt plans it (apt-get -s): "Inst NAME ..." and "Remv NAME ..."
# lines among others. Fails with apt's complaint when apt finds no plan.
install_plan() {
  apt-get -s -q install --no-install-recommends "$@" 2>&1
}

# Why each package that a plan on stdin removes has to go, one line each: a package to be installed
# conflicts with it or breaks it (or the other way round, by name or by a name the other provides), or it
# needs a package that goes.
removal_reasons() {
  local plan removals installs
  plan=$(cat)
  removals=$(awk '$1 == "Remv" { print $2 }' <<<"$plan")
  [[ -n $removals ]] || return 0
  installs=$(awk '$1 == "Inst" { print $2 }' <<<"$plan")
  # The installed packages' fields from dpkg, the new ones' from apt; word splitting makes the arguments.
  # shellcheck disable=SC2086
  awk -v removed="$(tr '\n' ' ' <<<"$removals")" -v wanted="$(tr '\n' ' ' <<<"$installs")" '
    # Names in a relation field ("a (>= 1), b:any | c"), without versions and architectures, between blanks.
    function names(field,    out, parts, n, i, name) {
      gsub(/\([^)]*\)/, "", field)
      n = split(field, parts, /[,|]/)
      out = " "
      for (i = 1; i <= n; i++) {
        name = parts[i]
        gsub(/[ \t]/, "", name)
        sub(/:.*/, "", name)
        if (name != "") out = out name " "
      }
      return out
    }
    FNR == 1 { side = FILENAME == ARGV[1] ? "old" : "new" }
    /^Package:/ { package = side " " $2; known[package] = " " $2 " " }
    /^Provides:/ { known[package] = known[package] names(substr($0, 11)) }
    /^(Conflicts|Breaks):/ { against[package] = against[package] names(substr($0, index($0, ":") + 1)) }
    /^(Depends|Pre-Depends):/ { needs[package] = needs[package] names(substr($0, index($0, ":") + 1)) }
    # Whether package a conflicts with or breaks package b.
    function clash(a, b,    parts, n, i) {
      n = split(against[a], parts, " ")
      for (i = 1; i <= n; i++) if (index(known[b], " " parts[i] " ")) return 1
      return 0
    }
    # A package name without its architecture, as the fields name it.
    function bare(name) {
      sub(/:.*/, "", name)
      return name
    }
    END {
      n = split(removed, gone, " ")
      m = split(wanted, new, " ")
      for (r = 1; r <= n; r++) {
        old = "old " bare(gone[r])
        said = 0
        for (i = 1; i <= m; i++) {
          if (!clash("new " bare(new[i]), old) && !clash(old, "new " bare(new[i]))) continue
          print new[i] " conflicts with " gone[r] " (installed)"
          said = 1
        }
        for (g = 1; g <= n && !said; g++) {
          if (g == r || !index(needs[old], " " bare(gone[g]) " ")) continue
          print gone[r] " (installed) needs " gone[g] ", which would go"
          said = 1
        }
        if (!said) print gone[r] " (installed) would go"
      }
    }' <(dpkg-query -s $removals 2>/dev/null) <(apt-cache show --no-all-versions $installs 2>/dev/null)
}

# Stops, installing nothing, when installing packages "$@" would remove any: names what conflicts and offers
# `command`, which replaces them. `for_whom` names the make targets. `lenient`: a plan apt cannot make (the
# stale package lists of a user without root) is no reason to stop.
refuse_removals() {
  local for_whom=$1 lenient=$2 command=$3
  shift 3
  local plan reasons
  if ! plan=$(install_plan "$@"); then
    [[ $lenient == 1 ]] && return 0
    echo "$plan" >&2
    echo "apt cannot install what $for_whom needs (above); nothing was installed." >&2
    return 1
  fi
  reasons=$(removal_reasons <<<"$plan")
  [[ -n $reasons ]] || return 0
  {
    echo "Installing what $for_whom needs would remove installed packages:"
    sed 's/^/  /' <<<"$reasons"
    echo "Nothing was installed or removed: scripts/deps.sh never removes a package. To replace yours with"
    echo "what the build needs, install it yourself as root (apt lists what it removes and asks first):"
    echo "  $command"
    echo "then run make again."
  } >&2
  return 1
}

main() {
  [[ $# -gt 0 ]] || usage
  local list wanted=() targets=""
  for list in "$@"; do
    case $list in
      run) wanted+=("${run_packages[@]}") ;;
      check) wanted+=("${check_packages[@]}") ;;
      bench) wanted+=("${bench_packages[@]}" "${web_packages[@]}") ;;
      web) wanted+=("${web_packages[@]}") ;;
      test) wanted+=("${test_packages[@]}") ;;
      loc) wanted+=("${loc_packages[@]}") ;;
      install) wanted+=("${install_packages[@]}") ;;
      deb) wanted+=("${deb_packages[@]}") ;;
      dist) wanted+=("${dist_packages[@]}") ;;
      *) usage ;;
    esac
    targets+="${targets:+, }\`make $list\`"
  done
  local missing
  mapfile -t missing < <(missing_from "${wanted[@]}" | sort -u)
  if [[ ${#missing[@]} -eq 0 ]]; then
    npm_packages "$@"
    return 0
  fi

  if [[ $(id -u) -ne 0 ]]; then
    local all_missing
    mapfile -t all_missing < <(missing_from "${all_packages[@]}" | sort -u)
    echo "Missing Debian packages: ${missing[*]}" >&2
    refuse_removals "every make target" 1 "$(install_command "" "${all_missing[@]}")" "${all_missing[@]}" ||
      return 1
    echo "Install what every make target needs as root with:" >&2
    echo "  $(install_command "-y --no-remove " "${all_missing[@]}")" >&2
    return 1
  fi

  local replace added_i386=0
  replace=$(install_command "" "${missing[@]}")
  if i386_missing "${missing[@]}"; then
    dpkg --add-architecture i386
    added_i386=1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  if ! refuse_removals "$targets" 0 "$replace" "${missing[@]}"; then
    # Back as it was: the architecture served only these packages.
    if [[ $added_i386 -eq 1 ]]; then dpkg --remove-architecture i386; fi
    return 1
  fi
  echo "Installing: ${missing[*]}"
  apt-get install -y -q --no-remove --no-install-recommends "${missing[@]}"
  npm_packages "$@"
}

# Sourced (by the tests), it only defines the lists and functions.
[[ ${BASH_SOURCE[0]} != "$0" ]] || main "$@"
