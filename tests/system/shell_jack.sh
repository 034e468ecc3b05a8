# The shell commands over JACK against vexa-sim, for what only a real MIDI service shows (tests/hosts/shell_*
# check the rest): two units on one server, a restore ended by SIGTERM, a whole update byte for byte, and
# vexa timecode of vexa-sim's time code (JSON Lines, a full message and MMC Locate, SIGTERM as its end).
# Sourced by jack_e2e.sh, which provides start_sim, stop, $sim_pid, $work and $VEXA_SIM_LOG; shell_tests
# takes the vexa executable and the source folder.

# Runs vexa with JACK, its output in $work/out and $work/err; fails unless it exits with `want` and, when
# given, its standard error holds `said`.
expect_exit() {
  local want=$1 said=$2
  shift 2
  "$shell_vexa" --midi jack "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [[ $got -eq $want ]] && { [[ -z $said ]] || grep -qF -- "$said" "$work/err"; } && return 0
  echo "FAIL: vexa $* exited with $got, not $want${said:+ with \"$said\"}" >&2
  cat "$work/out" "$work/err" >&2
  return 1
}

# The messages vexa-sim received from line $1 of its log on, in hex.
received_from() { tail -n +"$1" "$VEXA_SIM_LOG" | grep '^rx ' | sed 's/^rx //; s/ @.*//'; }

# A second unit on the server, of a name that no other begins with: without --port the command stops with
# exit code 2 and names both; with it, the one named answers.
two_units() {
  local first=$sim_pid result=0
  VEXA_SIM_LOG=$work/sim-b.log start_sim --name unit-b || { sim_pid=$first; return 1; }
  local second=$sim_pid
  sim_pid=$first
  expect_exit 2 'several units answer: "vexa", "unit-b"; choose one with --port NAME' status &&
    expect_exit 0 "" status --port unit-b && [[ $(cat "$work/out") == "running 3.1 on unit-b" ]] &&
    expect_exit 0 "" get --port vexa brightness && [[ $(cat "$work/out") == "brightness=9" ]] || result=1
  stop "$second"
  return $result
}

# SIGTERM once the first of ten changes has reached the unit: the ports are closed, exit 143, the rest unsent.
killed_restore() {
  sed 's/true/TRUE/; s/false/true/; s/TRUE/false/; s/"mmc-id": 0/"mmc-id": 7/; s/"brightness": 9/"brightness": 2/' \
    "$work/backup.json" >"$work/tour.json"
  local mark pid code
  mark=$(($(wc -l <"$VEXA_SIM_LOG") + 1))
  "$shell_vexa" --midi jack restore "$work/tour.json" >"$work/out" 2>"$work/err" &
  pid=$!
  for _ in $(seq 500); do
    received_from "$mark" | grep -q '^F0 2C 4D 52 01 F7$' && break
    sleep 0.01
  done
  kill -TERM "$pid"
  wait "$pid"
  code=$?
  [[ $code -eq 143 ]] && grep -qF "vexa: interrupted; the ports are closed" "$work/err" ||
    { echo "FAIL: the killed restore exited with $code" >&2; cat "$work/err" >&2; return 1; }
  [[ $(received_from "$mark" | grep -cv '7F F7$\|10 F7$') -lt 10 ]] ||
    { echo "FAIL: the restore went on to its end" >&2; return 1; }
}

# The packets that vexa-sim took, in order (a packet sent again after a lost reply counted once), against
# the image's.
update_was_exact() {
  python3 - "$1/res/firmware.bin" "$VEXA_SIM_LOG" <<'PY'
import sys
image = open(sys.argv[1], 'rb').read()
packets, start = [], image.index(0x0D) + 1
while image[start] == 0xF0:
    end = image.index(0xF7, start)
    packets.append(' '.join('%02X' % b for b in image[start:end + 1]))
    start = end + 2
taken = []
for line in open(sys.argv[2]):
    if line.startswith('rx F0 2C 4D 30 ') and (not taken or taken[-1] != line[3:line.index(' @')]):
        taken.append(line[3:line.index(' @')])
sys.exit(0 if taken == packets else 1)
PY
}

# vexa timecode --json as a script reads it: vexa-sim plays, winds with full messages and MMC Locate to ID 5,
# and plays again; then SIGTERM ends a listening that has no --seconds with exit code 0 and the summary.
timecode_tests() {
  start_sim --timecode 01:00:00:00 25 --timecode-step play 1.5 --timecode-step 10 0.5 --timecode-step play 60 \
    --set 0x5C=1 --set 0x5A=1 --set 0x53=5 || return 1
  expect_exit 0 "" timecode --seconds 4 --json && python3 - "$work/out" <<'PY' || return 1
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
assert events[0]['event'] == 'start' and events[0]['rate'] == '25' and events[0]['source'] == 'quarter-frame', events[0]
sources = {(e['source'], e.get('mmc_id')) for e in events if e['event'] == 'locate'}
assert ('full-message', None) in sources and ('mmc', 5) in sources, sources
assert [e['event'] for e in events].count('start') >= 2, 'no start after the wind'
summary = events[-1]
assert summary['event'] == 'summary' and summary['rate'] == '25' and summary['frames'] > 50, summary
assert set(summary['quarter_frame_ms']) == {'min', 'median', 'max'}, summary
PY
  "$shell_vexa" --midi jack timecode >"$work/out" 2>"$work/err" &
  local pid=$!
  for _ in $(seq 100); do grep -q running "$work/out" && break; sleep 0.1; done
  kill -TERM "$pid"
  wait "$pid" && tail -n 1 "$work/out" | grep -q "frames at 25 fps" ||
    { echo "FAIL: vexa timecode ended by SIGTERM" >&2; cat "$work/out" "$work/err" >&2; return 1; }
}

shell_tests() {
  shell_vexa=$1
  local source=$2 failed=0
  if start_sim --set 0x56=9; then
    echo "--- shell commands, a running unit"
    expect_exit 0 "" backup "$work/backup.json" && two_units && killed_restore || failed=1
    stop "$sim_pid"
  else
    failed=1
  fi
  if start_sim --update-mode --erase-ms 300; then
    echo "--- shell commands, a unit in update mode"
    expect_exit 0 "" update && update_was_exact "$source" && expect_exit 0 "" status ||
      { echo "FAIL: the update" >&2; failed=1; }
    stop "$sim_pid"
  else
    failed=1
  fi
  echo "--- shell commands, time code"
  timecode_tests || failed=1
  stop "$sim_pid"
  sim_pid=""
  return $failed
}
