#!/usr/bin/env bash
# The Makefile under -j: the Debian packages are installed in one step, before anything else starts. The
# real Makefile runs in a scratch folder where scripts/deps.sh, the test and benchmark runners, the
# packaging scripts and the tools that the recipes call (cmake, ctest, emcmake, git, clang-format, node,
# the program) are stubs that log when they start and end; the install stub takes a while, so that
# whatever does not wait for it starts inside it.
# Usage: make_order_test.sh MAKEFILE
set -uo pipefail
makefile=$(realpath "$1")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/log
fail() {
  echo "FAIL: $*" >&2
  echo "--- log:" >&2
  cat "$log" >&2
  exit 1
}

# A stub: its name, where it goes and how long it takes.
stub() {
  mkdir -p "$(dirname "$work/$2")"
  printf '#!/bin/sh\necho "start %s $*" >>"%s"\nsleep %s\n' "$1" "$log" "$3" >"$work/$2"
  printf 'echo "end %s" >>"%s"\n' "$1" "$log" >>"$work/$2"
  chmod +x "$work/$2"
}
stub deps scripts/deps.sh 1
stub test_all scripts/test_all.sh 0
stub vexa build/vexa 0
stub vexa_bench build/vexa_bench 0
stub vexa_shell_bench build/vexa_shell_bench 0
stub tui_figures bench/tui_figures.sh 0
for script in install deb dist; do stub "$script" "packaging/$script.sh" 0; done
for tool in cmake ctest emcmake clang-format node; do stub "$tool" "bin/$tool" 0.3; done
printf '#!/bin/sh\necho a.cpp\n' >"$work/bin/git"
chmod +x "$work/bin/git"

# The environment of an outer make (a jobserver, -j) stays out, but for the case that sets it on purpose.
unset MAKEFLAGS MFLAGS MAKELEVEL
# Runs make with arguments "$@" and checks the log: the one install, with lists $expected, came first and
# ended before anything else started.
check() {
  : >"$log"
  PATH=$work/bin:$PATH make -s -C "$work" -f "$makefile" "$@" >"$work/out" 2>&1 ||
    { cat "$work/out" >&2; fail "make $* failed"; }
  local installs
  installs=$(grep -c '^start deps' "$log")
  [[ $installs -eq 1 ]] || fail "make $*: $installs installs"
  [[ $(sed -n 1p "$log") == "start deps $expected" ]] || fail "make $*: not first, or not for $expected"
  [[ $(sed -n 2p "$log") == "end deps" ]] || fail "make $*: something started during the install"
}
# Whether two of the tools ran at once, as -j lets them.
overlapped() {
  awk '/^start/ { if (++running > most) most = running } /^end/ { running-- } END { exit most < 2 }' "$log"
}

echo "=== make -j4 test"
expected="test"
check -j4 test
overlapped || fail "make -j4 test ran nothing in parallel"
[[ $(tail -2 "$log" | head -1) == "start test_all " ]] || fail "the tests did not run last"

echo "=== MAKEFLAGS=-j4 make test"
MAKEFLAGS=-j4 check test
overlapped || fail "MAKEFLAGS=-j4 make test ran nothing in parallel"

echo "=== make -j4 run, and make -j4 alone"
expected="run"
check -j4 run
grep -q '^start vexa' "$log" || fail "make run did not start the program"
check -j4

echo "=== make -j4 check, make -j4 bench"
expected="check"
check -j4 check
expected="bench"
check -j4 bench

echo "=== make -j4 check web: both lists in the one install"
expected="check web"
check -j4 check web

echo "=== make -j4 install, deb, dist: dist's builds of the package, the exe and the site under the one install"
for goal in install deb dist; do
  expected=$goal
  check -j4 "$goal"
  grep -q "^start $goal" "$log" || fail "make $goal did not run packaging/$goal.sh"
done

echo "=== make -j4 build installs nothing"
: >"$log"
PATH=$work/bin:$PATH make -s -C "$work" -f "$makefile" -j4 build >/dev/null 2>&1 || fail "make build failed"
grep -q '^start deps' "$log" && fail "make build installed"
echo "passed"
