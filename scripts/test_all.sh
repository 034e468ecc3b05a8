#!/usr/bin/env bash
# Runs every test suite after `make test` has built build/, build-asan/, build-tsan/, build-win/ and
# build-web/.
# Each suite runs whatever happened to the one before; the closing line counts the checks of the one tally
# (scripts/tally.sh): each suite, and each flow of the Wine suite.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
source scripts/tally.sh

# The Linux build runs everything, the system tests over real MIDI, the terminal and the fuzzer included;
# the sanitizer builds run the unit and end-to-end tests of the program and the layer.
tally_run "linux" ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"
tally_run "asan+ubsan" ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$jobs" -LE "system|fuzz"
tally_run "tsan" env TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure --no-tests=error -j"$jobs" -LE "system|fuzz"
tally_run "exe resources" tests/program/check_exe_resources.sh build-win/vexa.exe
tally_run "browser" tests/web/run.sh
# vexa.exe, the package and the site's zip built a second time in another folder: the same bytes.
tally_run "release files built twice" tests/release/reproducible.sh
# The Windows program under Wine counts its flows itself.
if [[ -x tests/wine/run.sh ]]; then
  tests/wine/run.sh build-win
fi

tally_end
