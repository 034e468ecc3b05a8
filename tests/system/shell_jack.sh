# The shell commands of `vexa` over JACK against vexa-sim, as a script runs them: each command, each exit
# code, a refused restore file that sends nothing (counted in vexa-sim's log), a backup and restore round
# trip, two units with and without --port, an update byte for byte and one with three NAKs, a command
# ended by SIGTERM while it sets, and vexa timecode of vexa-sim's time code.
# Sourced by jack_e2e.sh, which provides start_sim, stop, $sim_pid, $work and $VEXA_SIM_LOG; shell_tests
# takes the vexa executable and the source folder.

# Runs vexa with JACK; its output in $work/out and $work/err; fails unless it exits with `want`.
expect_exit() {
  local want=$1
  shift
  "$shell_vexa" --midi jack "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [[ $got -eq $want ]] && return 0
  echo "FAIL: vexa $* exited with $got, not $want" >&2
  cat "$work/out" "$work/err" >&2
  return 1
}

expect_out() {
  [[ "$(cat "$work/out")" == "$1" ]] && return 0
  echo "FAIL: vexa printed:" >&2
  cat "$work/out" >&2
  echo "instead of:" >&2
  echo "$1" >&2
  return 1
}

expect_err() {
  grep -qF -- "$1" "$work/err" && return 0
  echo "FAIL: \"$1\" not among:" >&2
  cat "$work/err" >&2
  return 1
}

received() { grep -c '^rx ' "$VEXA_SIM_LOG"; }

# The messages vexa-sim received from line $1 of its log on, in hex.
received_from() { tail -n +"$1" "$VEXA_SIM_LOG" | grep '^rx ' | sed 's/^rx //; s/ @.*//'; }

# Settings that all differ from the unit's below, as a settings file.
tour_file() {
  cat >"$work/tour.json" <<'JSON'
{"format": "vexa-settings", "version": 1, "firmware": "3.1", "settings": {
  "blank-leading-zero": false, "blank-frames": true, "stationary-ltc": false, "mtc-full-message": false,
  "mtc-mmc-locate": true, "infinite-flywheel": false, "ltc-hold-off": false, "trvx": true, "mmc-id": 7,
  "brightness": 2}}
JSON
}

running_unit_tests() {
  expect_exit 0 status && expect_out "running 3.1 on vexa" || return 1
  expect_exit 0 get && expect_out "blank-leading-zero=on
blank-frames=off
stationary-ltc=on
mtc-full-message=on
mtc-mmc-locate=off
infinite-flywheel=on
ltc-hold-off=on
trvx=off
mmc-id=42
brightness=9" || return 1
  expect_exit 0 get --json trvx brightness && expect_out $'{\n  "trvx": false,\n  "brightness": 9\n}' || return 1
  local mark
  mark=$(($(wc -l <"$VEXA_SIM_LOG") + 1))
  expect_exit 0 set brightness=3 trvx=on && expect_out $'trvx=on (was off)\nbrightness=3 (was 9)' || return 1
  # After the burst and the brightness echoed once: the two changes, then their read-backs.
  [[ "$(received_from "$mark" | tail -n 4)" == $'F0 2C 4D 5D 01 F7\nF0 2C 4D 56 03 F7\nF0 2C 4D 5D 7F F7\nF0 2C 4D 56 7F F7' ]] ||
    { echo "FAIL: the set's messages:" >&2; received_from "$mark" >&2; return 1; }

  expect_exit 0 backup "$work/backup.json" || return 1
  grep -q '"brightness": 3' "$work/backup.json" || { echo "FAIL: backup" >&2; cat "$work/backup.json" >&2; return 1; }
  expect_exit 0 set brightness=12 mmc-id=100 || return 1
  expect_exit 0 restore "$work/backup.json" && expect_out $'mmc-id=42 (was 100)\nbrightness=3 (was 12)' || return 1
  expect_exit 0 get mmc-id brightness && expect_out $'mmc-id=42\nbrightness=3' || return 1

  local before
  before=$(received)
  printf '{"format": "vexa-settings", "version": 1,\n "settings": {' >"$work/broken.json"
  expect_exit 2 restore "$work/broken.json" && expect_err "line 2" || return 1
  sed 's/"brightness": 3/"brightness": 16/' "$work/backup.json" >"$work/range.json"
  expect_exit 2 restore "$work/range.json" && expect_err '"settings.brightness" is 16, out of range (0..15)' || return 1
  expect_exit 2 set brightness=16 || return 1
  expect_exit 2 frobnicate || return 1
  [[ $(received) -eq $before ]] || { echo "FAIL: refused commands sent $(($(received) - before)) messages" >&2; return 1; }

  expect_exit 3 status --port "no such port" || return 1
  expect_exit 4 update && expect_err "runs its firmware 3.1" || return 1
  expect_exit 0 diagnose && grep -q "^Round trip of 20 status queries: min " "$work/out" || { cat "$work/out" >&2; return 1; }
  expect_exit 0 list && grep -q "^  [0-9]*: vexa  (paired with input [0-9]*)$" "$work/out" || { cat "$work/out" >&2; return 1; }
  two_units || return 1
  killed_restore
}

# A second unit on the server, of a name that no other begins with: without --port the command stops with
# exit code 2 and names both; with it, the one named answers.
two_units() {
  local first=$sim_pid
  VEXA_SIM_LOG=$work/sim-b.log start_sim --name unit-b || { sim_pid=$first; return 1; }
  local second=$sim_pid
  sim_pid=$first
  local result=0
  expect_exit 2 status && expect_err 'several units answer: "vexa", "unit-b"; choose one with --port NAME' &&
    expect_exit 0 status --port unit-b && expect_out "running 3.1 on unit-b" &&
    expect_exit 0 get --port vexa brightness && expect_out "brightness=3" || result=1
  stop "$second"
  return $result
}

# SIGTERM once the first change has reached the unit: the command closes the ports and exits with 143.
killed_restore() {
  tour_file
  local mark
  mark=$(($(wc -l <"$VEXA_SIM_LOG") + 1))
  "$shell_vexa" --midi jack restore "$work/tour.json" >"$work/out" 2>"$work/err" &
  local pid=$!
  for _ in $(seq 500); do
    received_from "$mark" | grep -q '^F0 2C 4D 52 00 F7$' && break
    sleep 0.01
  done
  kill -TERM "$pid"
  wait "$pid"
  local code=$?
  [[ $code -eq 143 ]] || { echo "FAIL: the killed restore exited with $code" >&2; cat "$work/err" >&2; return 1; }
  expect_err "vexa: interrupted; the ports are closed" || return 1
  # The burst's ten read-backs, and not the ten of a restore that ran to its end.
  [[ $(received_from "$mark" | grep -c '7F F7$') -lt 20 ]] || { echo "FAIL: the restore ran to its end" >&2; return 1; }
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
    if line.startswith('rx F0 2C 4D 30 '):
        packet = line[3:line.index(' @')]
        if not taken or taken[-1] != packet:
            taken.append(packet)
sys.exit(0 if taken == packets else 1)
PY
}

# vexa timecode --json as a script reads it: JSON Lines of vexa-sim's time code, which plays, winds with full
# messages and MMC Locate to ID 5, and plays again.
timecode_json_is() {
  python3 - "$work/out" <<'PY'
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
assert all('event' in e and 'at' in e for e in events), events
assert events[0]['event'] == 'start' and events[0]['rate'] == '25' and events[0]['source'] == 'quarter-frame', events[0]
sources = {(e['source'], e.get('mmc_id')) for e in events if e['event'] == 'locate'}
assert ('full-message', None) in sources and ('mmc', 5) in sources, sources
assert [e['event'] for e in events].count('start') >= 2, 'no start after the wind'
summary = events[-1]
assert summary['event'] == 'summary' and summary['rate'] == '25' and summary['frames'] > 50, summary
assert set(summary['quarter_frame_ms']) == {'min', 'median', 'max'}, summary
PY
}

# SIGTERM ends the listening as --seconds does: exit code 0, the summary last.
timecode_ended_by_sigterm() {
  "$shell_vexa" --midi jack timecode >"$work/out" 2>"$work/err" &
  local pid=$!
  for _ in $(seq 100); do grep -q running "$work/out" && break; sleep 0.1; done
  kill -TERM "$pid"
  wait "$pid" || { echo "FAIL: vexa timecode ended by SIGTERM exited with $?" >&2; return 1; }
  tail -n 1 "$work/out" | grep -q "frames at 25 fps" || { echo "FAIL: no summary:" >&2; cat "$work/out" >&2; return 1; }
}

# Every unit started here is stopped again, whatever failed.
timecode_tests() {
  local result=0
  start_sim --timecode 01:00:00:00 25 --timecode-step play 1.5 --timecode-step 10 0.5 --timecode-step play 60 \
    --set 0x5C=1 --set 0x5A=1 --set 0x53=5 || return 1
  expect_exit 0 timecode --seconds 4 --json && timecode_json_is && timecode_ended_by_sigterm ||
    { cat "$work/out" >&2; result=1; }
  stop "$sim_pid"
  sim_pid=""
  start_sim || return 1
  expect_exit 1 timecode --seconds 1 --json && tail -n 1 "$work/out" | grep -q '"frames":0,"rate":null' || result=1
  stop "$sim_pid"
  sim_pid=""
  return $result
}

shell_tests() {
  shell_vexa=$1
  local source=$2
  local failed=0
  if start_sim --set 0x52=1 --set 0x53=42 --set 0x56=9 --set 0x59=1 --set 0x5B=1 --set 0x5C=1; then
    echo "--- shell commands, a running unit"
    running_unit_tests || failed=1
    stop "$sim_pid"
    sim_pid=""
  else
    failed=1
  fi
  echo "--- shell commands, time code"
  timecode_tests || failed=1
  echo "--- shell commands, no unit"
  expect_exit 3 status || failed=1
  expect_exit 3 timecode --seconds 1 || failed=1
  if start_sim --update-mode --erase-ms 300; then
    echo "--- shell commands, a unit in update mode"
    expect_exit 4 get && expect_err "is in update mode" || failed=1
    expect_exit 4 timecode --seconds 1 && expect_err "sends no time code" || failed=1
    expect_exit 0 update && expect_out "Programming successful: firmware 3.1 written to vexa" || failed=1
    update_was_exact "$source" || { echo "FAIL: the packets taken differ from the image" >&2; failed=1; }
    expect_exit 0 status && expect_out "running 3.1 on vexa" || failed=1
    stop "$sim_pid"
    sim_pid=""
  else
    failed=1
  fi
  if start_sim --update-mode --erase-ms 100 --packet-script 3 NNN; then
    echo "--- shell commands, three NAKs"
    expect_exit 1 update && expect_err "Checksum error" || failed=1
    stop "$sim_pid"
    sim_pid=""
  else
    failed=1
  fi
  return $failed
}
