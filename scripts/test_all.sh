#!/usr/bin/env bash
# `make test`: every build and every suite, each a stage of the one tally (scripts/tally.sh), which ends
# with the table of the stages, the seconds each took, and the count of the checks. Each stage runs
# whatever happened to the one before.
#
# The order keeps both cores busy. The Wine and browser suites mostly wait (on pauses, browsers, the
# unit's replies): they run side by side, in the background from the moment their builds are there,
# while the other builds compile and their suites run; each writes a log of its own, printed when both
# are done. The sanitizer builds compile the layers' tests only (tests/CMakeLists.txt).
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
source scripts/tally.sh
logs=$(mktemp -d)

# The builds by their make goals, whose packages `make test` has installed.
build() { make --no-print-directory -o deps JOBS="$jobs" "$1"; }
suite() { ctest --test-dir "$1" --output-on-failure --no-tests=error -j"$jobs" "${@:2}"; }

# The background stages: each in a process group of its own, so that a stop ends all of it.
background=()
in_background() {
  local log
  log=$logs/$((${#background[@]} + 1)).log
  set -m
  tally_stage "$@" >"$log" 2>&1 &
  set +m
  background+=("$!:$log")
}
trap 'for job in "${background[@]}"; do kill -- "-${job%%:*}" 2>/dev/null; done; rm -rf "$logs"' EXIT
trap 'exit 130' INT TERM

# The Wine suite on the build that runs here (tests/wine/run.sh --choose): the 32-bit vexa.exe where the
# kernel runs 32-bit programs, else the 64-bit build under wine64; skipped, saying why, where neither runs.
wine_build=$(tests/wine/run.sh --choose 2>"$logs/wine-choice")
wine_suite() {
  [[ -n $wine_build ]] || { cat "$logs/wine-choice"; return 77; }
  tests/wine/run.sh "$wine_build"
}

tally_stage "format check" make --no-print-directory -o deps format-check
tally_stage "build (web)" build web
in_background "browser" tests/web/run.sh
tally_stage "build (windows)" build build-win
[[ $wine_build == build-win64 ]] && tally_stage "build (windows, 64-bit)" build build-win64
in_background "wine" wine_suite

# The Linux build runs everything: the system tests over real MIDI and the terminal, the release files'
# tests, the scripts' tests and the fuzzers; the sanitizer builds run the layers' tests.
tally_stage "build (linux)" build build
tally_stage "linux" suite build
tally_stage "exe resources" tests/program/check_exe_resources.sh build-win/vexa.exe
tally_stage "release files" tests/release/reproducible.sh --once
tally_stage "build (asan+ubsan)" build build-asan
tally_stage "asan+ubsan" suite build-asan
tally_stage "build (tsan)" build build-tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" tally_stage "tsan" suite build-tsan

for job in "${background[@]}"; do
  wait "${job%%:*}"
  cat "${job#*:}"
done
background=()
tally_end
