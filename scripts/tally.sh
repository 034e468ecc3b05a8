# One tally of the checks that `make test` runs, sourced by the scripts that run them:
# scripts/test_all.sh counts each of its suites in it, tests/wine/run.sh each of its flows. A script run
# by another that keeps the tally (VEXA_TALLY names its file) adds to that one and leaves the count to it;
# run on its own, it keeps a tally of its own and prints the count itself.
#
#   source scripts/tally.sh
#   tally_run NAME COMMAND...       runs one check: exit code 0 passed, 77 skipped, anything else failed
#   tally_note RESULT NAME          counts a check as passed, failed or skipped without running it
#   tally_end                       the count (by the script that keeps the tally); fails when a check of
#                                   this script failed

if [[ -z ${VEXA_TALLY:-} ]]; then
  VEXA_TALLY=$(mktemp)
  export VEXA_TALLY
  tally_keeper=1
else
  tally_keeper=0
fi
# This script's checks are the lines from here on.
tally_first=$(($(wc -l <"$VEXA_TALLY") + 1))

tally_note() {
  echo "$1 $2" >>"$VEXA_TALLY"
}

tally_run() {
  local name=$1 start=$SECONDS code result
  shift
  echo "=== $name"
  "$@"
  code=$?
  case $code in
    0) result=passed ;;
    77) result=skipped ;;
    *) result=failed ;;
  esac
  tally_note "$result" "$name"
  echo "=== $name: $result ($((SECONDS - start)) s)"
  return "$code"
}

tally_end() {
  local own_failures
  own_failures=$(tail -n +"$tally_first" "$VEXA_TALLY" | grep -c '^failed ')
  if ((tally_keeper)); then
    local passed failed skipped
    passed=$(grep -c '^passed ' "$VEXA_TALLY")
    failed=$(grep -c '^failed ' "$VEXA_TALLY")
    skipped=$(grep -c '^skipped ' "$VEXA_TALLY")
    echo
    ((failed > 0)) && echo "failed: $(sed -n 's/^failed //p' "$VEXA_TALLY" | paste -sd, | sed 's/,/, /g')"
    echo "$passed passed, $failed failed, $skipped skipped"
    rm -f "$VEXA_TALLY"
  fi
  [[ $own_failures -eq 0 ]]
}
