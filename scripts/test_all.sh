#!/usr/bin/env bash
# Runs every test suite after `make test` has built build/, build-asan/, build-tsan/, build-win/ and
# build-web/.
# Each suite runs whatever happened to the one before; the closing line counts the suites.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
passed=0
failed=0
skipped=0
failures=()

suite() {
  local name=$1
  shift
  echo "=== $name"
  local start=$SECONDS
  "$@"
  local code=$?
  if [[ $code -eq 0 ]]; then
    passed=$((passed + 1))
    echo "=== $name: passed ($((SECONDS - start)) s)"
  elif [[ $code -eq 77 ]]; then
    skipped=$((skipped + 1))
    echo "=== $name: skipped ($((SECONDS - start)) s)"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name: FAILED ($((SECONDS - start)) s)"
  fi
}

# The Linux build runs everything, the system tests over real MIDI, the terminal and the fuzzer included;
# the sanitizer builds run the unit and end-to-end tests of the program and the layer.
suite "linux" ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"
suite "asan+ubsan" ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$jobs" -LE "system|fuzz"
suite "tsan" env TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure --no-tests=error -j"$jobs" -LE "system|fuzz"
suite "exe resources" tests/check_exe_resources.sh build-win/vexa.exe
suite "browser" tests/web/run.sh
# vexa.exe, the package and the site's zip built a second time in another folder: the same bytes.
suite "release files built twice" tests/release/reproducible.sh
if [[ -x tests/wine/run.sh ]]; then
  suite "windows exe under wine" tests/wine/run.sh build-win
fi

echo
[[ ${#failures[@]} -gt 0 ]] && echo "failed suites: ${failures[*]}"
echo "$passed passed, $failed failed, $skipped skipped"
[[ $failed -eq 0 ]]
