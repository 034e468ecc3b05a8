#!/usr/bin/env bash
# The terminal front end in a real terminal: the program runs with the built-in simulated unit inside a
# private tmux server, the test types keys (send-keys) and reads the screen (capture-pane). Everything
# started here is stopped on the way out, whatever happens.
# Usage: tui_tmux.sh TMUX VEXA
set -uo pipefail
tmux_bin=$1
vexa=$2

work=$(mktemp -d)
socket=$work/tmux.sock
t() { "$tmux_bin" -S "$socket" "$@"; }
cleanup() {
  t kill-server 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

screen() { t capture-pane -p; }
fail() {
  echo "FAIL: $*" >&2
  echo "--- screen:" >&2
  screen >&2
  exit 1
}
# Waits up to 10 s until the screen shows (or no longer shows) a text.
shows() {
  for _ in $(seq 100); do
    screen | grep -qF -- "$1" && return 0
    sleep 0.1
  done
  fail "\"$1\" is not shown"
}
hides() {
  for _ in $(seq 100); do
    screen | grep -qF -- "$1" || return 0
    sleep 0.1
  done
  fail "\"$1\" is still shown"
}
keys() {
  t send-keys "$@"
  sleep 0.3
}

# Starts the program in the pane under a shell that keeps its exit status in a file (tmux may take its
# time to collect the status of a pane's own process).
# The MIDI back-end is the first argument (sim unless given).
start() {
  rm -f "$work/exit"
  t -f /dev/null new-session -d -x 80 -y 50 \
    "env VEXA_MIDI=${1:-sim} LANG=C.UTF-8 '$vexa'; echo \$? > '$work/exit'; sleep 600"
}
program_pid() { ps -o pid= --ppid "$(t display-message -p '#{pane_pid}')" | tr -d ' '; }
# Waits until the program has ended and checks that it exited with 0.
ended_with_0() {
  for _ in $(seq 100); do
    [[ -s "$work/exit" ]] && break
    sleep 0.1
  done
  [[ -s "$work/exit" ]] || fail "the program did not end"
  [[ "$(cat "$work/exit")" == 0 ]] || fail "the program ended with $(cat "$work/exit")"
  t kill-server
}

start

echo "--- the dialog with its caption, its picture and the help line"
shows "╔═ Quorvanex vexa 3.1 ═"
shows "▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀"
shows "F4: ports  Ctrl+Q: quit"
shows "[ ] Blank leading zero"

echo "--- the port list closed without a choice"
keys F4
shows "│vexa "
keys Escape
shows "vexa not found"
hides "│vexa "

echo "--- the simulated unit chosen"
keys F4
shows "│vexa "
keys Down Enter
shows "Firmware 3.1"
shows "[vexa "
shows "[000]"

echo "--- a check box ticked with its hot key, then unticked with Space"
keys b
shows "[x] Blank leading zero"
keys Space
shows "[ ] Blank leading zero"

echo "--- a help box shown and dismissed"
# From the check box, Tab goes to the slider, the spin and then the first \"?\".
keys Tab Tab Tab Space
shows "═ Help ═"
shows "Hold down both keys while connecting the unit to the USB port of"
shows "Enter, Space or Esc: OK"
keys Enter
hides "═ Help ═"
shows "F4: ports  Ctrl+Q: quit"

echo "--- a terminal too small, then large enough again"
t resize-window -x 50 -y 30
shows "Terminal too small."
shows "55 x 47"
hides "Quorvanex"
t resize-window -x 80 -y 50
shows "╔═ Quorvanex vexa 3.1 ═"
shows "Firmware 3.1"

echo "--- Ctrl+Q closes the program with exit code 0"
keys C-q
ended_with_0

echo "--- a hang-up of the terminal closes it too, even with a message box open"
start
shows "╔═ Quorvanex vexa 3.1 ═"
keys Tab Space
shows "═ Help ═"
kill -HUP "$(program_pid)"
ended_with_0

# Only where the ALSA sequencer is missing (as in a container) is "no MIDI device at all" certain.
if [[ ! -e /dev/snd/seq ]]; then
  echo "--- no MIDI device at all: ALSA without a sequencer"
  start alsa
  shows "╔═ Quorvanex vexa 3.1 ═"
  keys F4
  shows "═ Warning ═"
  shows "No MIDI outputs available"
  keys Enter
  hides "═ Warning ═"
  shows "│No MIDI outputs available"
  keys Escape
  shows "vexa not found"
  keys C-q
  ended_with_0
fi
echo "passed"
