# One tally of what `make test` runs, sourced by the scripts that run it: scripts/test_all.sh runs its
# stages (each build and each suite) through it, tests/wine/run.sh counts each of its flows in it. A script
# run by another that keeps the tally (VEXA_TALLY names its file) adds to that one and leaves the count to
# it; run on its own, it keeps a tally of its own and prints the count itself.
#
#   source scripts/tally.sh
#   tally_run NAME COMMAND...       runs one check: exit code 0 passed, 77 skipped, anything else failed
#   tally_note RESULT NAME          counts a check as passed, failed or skipped without running it
#   tally_title TITLE               names this script's checks in the count (the Wine suite: which build)
#   tally_stage NAME COMMAND...     runs a stage, timed, for the table: the checks that COMMAND counts
#                                   itself are the stage's, or else the stage is one check itself; stages
#                                   may run at once
#   tally_end                       the table of the stages, if any, and the count (by the script that
#                                   keeps the tally); fails when a check of this script failed

if [[ -z ${VEXA_TALLY:-} ]]; then
  VEXA_TALLY=$(mktemp)
  export VEXA_TALLY
  tally_keeper=1
  tally_started=${EPOCHREALTIME/./}
else
  tally_keeper=0
fi
# This script's checks are the lines from here on.
tally_first=$(($(wc -l <"$VEXA_TALLY") + 1))

tally_note() {
  echo "$1 $2" >>"$VEXA_TALLY"
}

tally_title() {
  echo "title $1" >>"$VEXA_TALLY"
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

# The checks of tally file $2 by result, "12 passed, 1 failed"; with $1 = all the results that none had too.
tally_counts() {
  awk -v all="$1" '{ n[$1]++ } END { split("passed failed skipped", r, " ")
      for (i = 1; i <= 3; i++) if (all || n[r[i]]) out = out (out ? ", " : "") n[r[i]] + 0 " " r[i]
      print out }' "$2"
}

# A stage's line in the table: when it started (microseconds into the run), how long it took, its name (or
# its checks' title) and its result, or its checks' counts.
tally_stage() {
  local name=$1 start=$SECONDS began=$((${EPOCHREALTIME/./} - ${tally_started:-0})) own code result title
  shift
  own=$(mktemp "$VEXA_TALLY.XXXXXX")
  echo "=== $name"
  VEXA_TALLY=$own "$@"
  code=$?
  title=$(sed -n 's/^title //p' "$own" | tail -n 1)
  if grep -qv '^title ' "$own"; then
    result=$(tally_counts "" "$own")
    grep -v '^title ' "$own" >>"$VEXA_TALLY"
  else
    case $code in
      0) result=passed ;;
      77) result=skipped ;;
      *) result=failed ;;
    esac
    tally_note "$result" "$name"
  fi
  rm -f "$own"
  name=${title:-$name}
  printf '%s\t%s\t%s\t%s\n' "$began" "$((SECONDS - start))" "$name" "$result" >>"$VEXA_TALLY.stages"
  echo "=== $name: $result ($((SECONDS - start)) s)"
  return "$code"
}

tally_end() {
  local own_failures title
  own_failures=$(tail -n +"$tally_first" "$VEXA_TALLY" | grep -c '^failed ')
  if ((tally_keeper)); then
    echo
    if [[ -s $VEXA_TALLY.stages ]]; then
      printf '%-36s %5s %7s  %s\n' stage start seconds result
      sort -t $'\t' -k1,1n "$VEXA_TALLY.stages" |
        awk -F '\t' '{ printf "%-36s %5d %7d  %s\n", $3, $1 / 1000000, $2, $4 }'
      printf '%-36s %5d %7d  %s\n' all 0 "$(((${EPOCHREALTIME/./} - tally_started) / 1000000))" \
        "$(tally_counts all "$VEXA_TALLY")"
    else
      title=$(sed -n 's/^title //p' "$VEXA_TALLY" | tail -n 1)
      echo "${title:+$title: }$(tally_counts all "$VEXA_TALLY")"
    fi
    ((own_failures == 0)) || echo "failed: $(sed -n 's/^failed //p' "$VEXA_TALLY" | paste -sd, | sed 's/,/, /g')"
    rm -f "$VEXA_TALLY" "$VEXA_TALLY".*
  fi
  [[ $own_failures -eq 0 ]]
}
