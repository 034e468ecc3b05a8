#!/usr/bin/env bash
# The Makefile under -j: the Debian packages that the goals need are installed in one step, before anything
# else starts, and each goal then runs what it stands for. The real Makefile runs in a scratch folder where
# what the recipes call are stubs that log when they start and end; the install stub takes a while, so
# that whatever does not wait for it starts inside it.
# Usage: make_order_test.sh REPO
set -uo pipefail
makefile=$(realpath "$1/Makefile")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/log
fail() {
  printf 'FAIL: %s\n--- log:\n%s\n' "$*" "$(cat "$log")" >&2
  exit 1
}

# stub NAME PATH SECONDS [OUTPUT]: logs its name and arguments, takes that long and prints OUTPUT.
stub() {
  mkdir -p "$(dirname "$work/$2")"
  printf '#!/bin/sh\necho "start %s $*" >>"%s"\nsleep %s\necho "end %s" >>"%s"\necho %s\n' "$1" "$log" "$3" "$1" \
    "$log" "${4:-}" >"$work/$2"
  chmod +x "$work/$2"
}
stub deps scripts/deps.sh 1
for runner in scripts/test_all.sh build/vexa build/vexa_bench build/vexa_shell_bench bench/tui_figures.sh \
  tests/release/reproducible.sh packaging/{install,deb,dist}.sh; do
  stub "$(basename "$runner" .sh)" "$runner" 0
done
for tool in cmake ctest emcmake clang-format node; do stub "$tool" "bin/$tool" 0.3; done
stub git bin/git 0 a.cpp
stub run.sh tests/wine/run.sh 0 build-win64  # the Wine suite's choice: the 64-bit build
# The environment of an outer make (a jobserver, -j) stays out, but for the case that sets it on purpose.
unset MAKEFLAGS MFLAGS MAKELEVEL

# Each case: the lists of the one install, a line that the log must hold after it, the environment and
# make's arguments.
while IFS='|' read -r lists ran environment arguments; do
  : >"$log"
  # shellcheck disable=SC2086
  env PATH="$work/bin:$PATH" $environment make -s -C "$work" -f "$makefile" $arguments >"$work/out" 2>&1 ||
    { cat "$work/out" >&2; fail "make $arguments failed"; }
  # The install first, for those lists, ended before anything else started, and never again.
  [[ $(head -2 "$log" | paste -sd '|') == "start deps $lists|end deps" && $(grep -c '^start deps' "$log") -eq 1 ]] ||
    fail "make $arguments: not one install for $lists, first and alone"
  grep -q "^start $ran" "$log" || fail "make $arguments: no $ran"
done <<'CASES'
test|test_all||-j4 test
run|vexa||-j4 run
run|vexa||-j4
check|ctest||-j4 check
bench|vexa_bench||-j4 bench
check web|emcmake||-j4 check web
install|install||-j4 install
deb|deb||-j4 deb
test|run.sh build-win64||-j4 check-wine
dist|reproducible||-j4 check-release
dist|dist|MAKEFLAGS=-j4|dist
CASES
# dist's builds of the package, the exe and the site run side by side.
awk '/^start/ { if (++running > most) most = running } /^end/ { running-- } END { exit most < 2 }' "$log" ||
  fail "MAKEFLAGS=-j4 make dist ran nothing in parallel"

: >"$log"
PATH=$work/bin:$PATH make -s -C "$work" -f "$makefile" -j4 build >/dev/null 2>&1 || fail "make build failed"
grep -q '^start deps' "$log" && fail "make build installed"
echo "passed"
