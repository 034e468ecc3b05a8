#!/usr/bin/env bash
# Figures of `vexa` as people run it (`make run`): the program in a tmux pane of 80 x 24 with the built-in
# simulated unit, its time code at 30 fps. Prints
#   - the CPU time that the connected, idle program takes over 30 s (utime + stime from /proc/PID/stat)
#     while the time code arrives and its line below the dialog is kept current, as a share of one core;
#   - its resident memory before and after 20 firmware updates in a row (F9, the port chosen, the update
#     button), with its threads and open files.
# Usage: bench/tui_figures.sh TMUX VEXA [idle seconds] [updates]
set -uo pipefail
tmux_bin=$1
vexa=$2
idle_seconds=${3:-30}
updates=${4:-20}

work=$(mktemp -d)
socket=$work/tmux.sock
t() { "$tmux_bin" -S "$socket" "$@"; }
cleanup() {
  t kill-server 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "tui figures: $*" >&2
  t capture-pane -p >&2
  exit 1
}
shows() {
  for _ in $(seq 600); do
    t capture-pane -p | grep -qF -- "$1" && return 0
    sleep 0.05
  done
  fail "\"$1\" is not shown"
}
choose_port() {
  t send-keys F4
  shows "│vexa "
  t send-keys Down Enter
}
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
memory() {
  echo "RSS $(awk '/^VmRSS/ {print $2, $3}' "/proc/$pid/status"), $(awk '/^Threads/ {print $2}' \
    "/proc/$pid/status") threads, $(ls "/proc/$pid/fd" | wc -l) open files"
}

t -f /dev/null new-session -d -x 80 -y 24 \
  "env VEXA_MIDI=sim VEXA_SIM_OPTIONS='--timecode 01:00:00:00 30' LANG=C.UTF-8 '$vexa'; sleep 600"
shows "F4: ports"
pid=$(ps -o pid= --ppid "$(t display-message -p '#{pane_pid}')" | tr -d ' ')
[[ -n $pid ]] || fail "the program did not start"
choose_port
shows "Firmware 3.1"
shows "30 fps running"
sleep 2

hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$idle_seconds"
after=$(ticks)
used=$((after - before))
awk -v t="$used" -v hz="$hz" -v s="$idle_seconds" \
  'BEGIN { printf "Idle and connected, 30 fps time code arriving, %d s: %d ticks of 1/%d s = %.3f %% of a core\n", s, t, hz, 100 * t / hz / s }'

echo "Before $updates updates: $(memory)"
for i in $(seq "$updates"); do
  t send-keys F9
  choose_port
  shows "vexa in update mode"
  t send-keys u
  shows "Programming successful"
  shows "vexa not found"
  [[ $i -eq 1 ]] && first=$(memory)
done
echo "After 1 update:     $first"
echo "After $updates updates:  $(memory)"
