#!/usr/bin/env bash
# End to end over JACK: a private JACK server (dummy driver, no realtime, a server name of its own), vexa-sim
# as the unit on it, and the program under the headless driver with VEXA_MIDI=jack (vexa_jack_e2e, one
# TEST per run), then with VEXA the shell commands (shell_jack.sh). Everything started here is stopped on
# the way out, whatever happens.
# Usage: jack_e2e.sh JACKD VEXA_SIM VEXA_JACK_E2E [VEXA]        Exit 77: JACK cannot run here (test skipped).
set -uo pipefail
jackd=$1
sim=$2
e2e=$3
vexa=${4:-}
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
server="vexa-e2e-$$-$RANDOM"
jack_pid=""
sim_pid=""

stop() {
  local pid=$1
  [[ -n "$pid" ]] || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
cleanup() {
  stop "$sim_pid"
  stop "$jack_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1 VEXA_MIDI=jack

# The unit's settings at the start of the running-unit test: every value differs from the defaults.
export VEXA_SIM_SETTINGS="0x52=1 0x53=42 0x55=0 0x56=9 0x58=0 0x59=1 0x5A=0 0x5B=1 0x5C=1 0x5D=0"
export VEXA_SIM_LOG=$work/sim.log

# Starts vexa-sim with the given options and waits until its ports are up; the server may still be
# starting, so a refused start is tried again.
start_sim() {
  for _ in $(seq 50); do
    "$sim" --api jack --log "$VEXA_SIM_LOG" "$@" >"$work/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 20); do
      grep -q "ready" "$work/sim.out" && return 0
      kill -0 "$sim_pid" 2>/dev/null || break
      sleep 0.1
    done
    stop "$sim_pid"
    sim_pid=""
    sleep 0.2
  done
  echo "vexa-sim did not come up:" >&2
  cat "$work/sim.out" >&2
  return 1
}

# The vexa-sim that a test has unplugged must have left, with 0.
sim_ended() {
  for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$sim_pid" 2>/dev/null; then
    echo "vexa-sim is still running" >&2
    stop "$sim_pid"
    sim_pid=""
    return 1
  fi
  wait "$sim_pid"
  local code=$?
  sim_pid=""
  [[ $code -eq 0 ]] || { echo "vexa-sim ended with $code" >&2; return 1; }
}

run_test() {
  echo "--- $1"
  VEXA_SIM_PID=$sim_pid "$e2e" --gtest_filter="$1" --gtest_brief=1
}

# JACK keeps a registry of its servers in /dev/shm. A server that had to be killed leaves its entries
# there, and once the registry is full it refuses new servers ("Too many servers already active"). With
# no JACK server of this user running, whatever is left there is stale.
uid=$(id -u)
if ! pgrep -u "$uid" -x jackd >/dev/null; then
  rm -rf /dev/shm/jack-shm-registry "/dev/shm/jack_db-$uid" "/dev/shm/jack-$uid-"* "/dev/shm/jack_sem.${uid}_"*
fi

# A small period keeps each exchange with the unit to a few milliseconds. JACK runs as people run it, in
# realtime mode, where the user may use realtime scheduling. Without it, a client that misses a cycle in
# the default asynchronous mode loses the MIDI events of that cycle (about one reply in 250 on a loaded
# machine): the program would recover (a packet sent again after its time-out), but a lost read-back reply
# leaves a setting unshown, so the server then runs in synchronous mode (-S). JACK 1's server (jackd1)
# knows no -S: it always runs its clients so.
if chrt -f 1 true 2>/dev/null; then
  jack_mode=(-R)
elif "$jackd" --version 2>/dev/null | grep -q jackdmp; then
  jack_mode=(-S --no-realtime)
else
  jack_mode=(--no-realtime)
fi
"$jackd" "${jack_mode[@]}" -n "$server" -d dummy -r 48000 -p 64 >"$work/jackd.log" 2>&1 &
jack_pid=$!
sleep 0.5
if ! kill -0 "$jack_pid" 2>/dev/null; then
  echo "jackd does not run here:" >&2
  cat "$work/jackd.log" >&2
  jack_pid=""
  exit 77
fi

failed=0
args=()
for setting in $VEXA_SIM_SETTINGS; do args+=(--set "$setting"); done
if start_sim "${args[@]}"; then
  run_test JackE2E.RunningUnit || failed=1
  sim_ended || failed=1
else
  failed=1
fi

if start_sim --update-mode --erase-ms 300; then
  run_test JackE2E.UpdateModeUnit || failed=1
else
  failed=1
fi
stop "$sim_pid"
sim_pid=""

if [[ -n "$vexa" ]]; then
  source "$here/shell_jack.sh"
  shell_tests "$vexa" "$here/../.." || failed=1
fi

exit $failed
