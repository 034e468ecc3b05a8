#!/usr/bin/env bash
# The terminal front end in a real terminal: the program runs with the built-in simulated unit inside a
# private tmux server, the test types keys (send-keys) and reads the screen (capture-pane). After each action
# it waits for its effect on the screen, up to 10 s. Then the program without a terminal, its options and
# signals. Everything started here is stopped on the way out, whatever happens. The keys and clicks in each
# layout are the layout tests' (tests/hosts/tui_layout_test.cpp); here they run once, in 80 x 24.
# Usage: tui_tmux.sh TMUX VEXA
set -uo pipefail
tmux_bin=$1
vexa=$2

source "$(dirname "$0")/tmux_support.sh"

# Wait until the screen shows a text, or no longer shows it.
shows() {
  local text=$1
  wait_for 'screen | grep -qF -- "$text"' || fail "\"$text\" is not shown"
}
hides() {
  local text=$1
  wait_for '! screen | grep -qF -- "$text"' || fail "\"$text\" is still shown"
}
keys() { t send-keys "$@"; }

# Starts the program in a pane of the given size under a shell that keeps its exit status in a file (tmux
# may take its time to collect the status of a pane's own process).
# Arguments: columns, rows, then the MIDI back-end (sim unless given) and the locale (C.UTF-8 unless given).
start() {
  rm -f "$work/exit"
  next_server
  t -f /dev/null new-session -d -x "$1" -y "$2" \
    "env VEXA_MIDI=${3:-sim} LANG=${4:-C.UTF-8} '$vexa'; echo \$? > '$work/exit'; sleep 600"
}
# Waits until the program has ended ($1 says how it was ended) and, unless $2 is "any", that it exited with 0.
ended() {
  wait_for '[[ -s $work/exit ]]' || fail "$1 did not end the program"
  [[ ${2:-} == any || "$(cat "$work/exit")" == 0 ]] || fail "$1: the program ended with $(cat "$work/exit")"
  t kill-server
}

echo "=== the port list closed without a choice, then the unit chosen; a setting, the slider, a help box"
start 80 24
shows "F4: ports"
shows "▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀"
keys F4; shows "│vexa "
keys Escape; hides "│vexa "
shows "vexa not found"
keys F4; shows "│vexa "
keys Down Enter; shows "Firmware 3.1"
keys b; shows "[x] Blank leading zero"  # the check box's hot key ticks it, Space unticks it
keys Space; shows "[ ] Blank leading zero"
keys r; shows "Arrows PgUp PgDn Home End"  # the group's letter goes to the slider, End to its far right
keys End; shows "─█  │"
keys Tab Tab Space; shows "Hold down both keys while connecting"
shows "[ OK ]"
keys Enter; hides "═ Help ═"
echo "--- after F9 the unit is in update mode: the port chosen again, a whole update, then Ctrl+Q"
keys F9 F4; shows "│vexa "
keys Down Enter; shows "vexa in update mode"
keys u; shows "Programming successful"
keys C-q; ended "Ctrl+Q"

echo "=== resizing switches the layout live"
start 55 47
shows "╔═ Quorvanex vexa 3.1 ═"
t resize-window -x 80 -y 24; shows "[ ] Blank leading zero            [?]"
t resize-window -x 40 -y 15; hides "Blank leading zero"
shows "[ Update firmware ]        [?] ║"
t resize-window -x 55 -y 47; shows "╔═ Quorvanex vexa 3.1 ═"
keys C-q; ended "Ctrl+Q"

echo "=== without UTF-8: ASCII frames, the picture still drawn"
start 80 24 sim C
shows "+= Quorvanex vexa 3.1 ="
# The picture's cells are blanks with a background colour: escape sequences in the captured pane.
t capture-pane -p -e | grep -q $'\e\\[[0-9;]*4[0-9;]*m     ' || fail "the picture is not drawn"
keys C-q; ended "Ctrl+Q"

echo "=== a hang-up of the terminal closes it, even with a message box open"
start 80 24
shows "F4: ports"
keys Tab Space; shows "═ Help ═"
kill -HUP "$(program_pid)"
ended "SIGHUP"

# Only where the ALSA sequencer is missing (as in a container) is "no MIDI device at all" certain.
if [[ ! -e /dev/snd/seq ]]; then
  echo "=== no MIDI device at all: ALSA without a sequencer, said on the help line"
  start 80 24 alsa
  shows "ALSA: no sequencer"
  keys F4; shows "═ Warning ═"
  shows "No MIDI outputs available"
  keys Enter; hides "═ Warning ═"
  keys C-q; ended "Ctrl+Q"
fi

echo "=== options, without a terminal"
# The command line (split into words), then a text that its output must hold.
prints() {
  # shellcheck disable=SC2086
  out=$(VEXA_MIDI=alsa "$vexa" $1 </dev/null 2>&1) || fail "vexa $1 failed: $out"
  grep -qF -- "$2" <<<"$out" || fail "vexa $1 printed: $out"
}
for text in "--midi" "--list" "--version" "VEXA_MIDI" "Ctrl+Q" "jack"; do prints --help "$text"; done
prints --version "vexa 3.1 "
prints --version "firmware image 3.1"
prints "--midi sim --list" "0: vexa  (paired with input 0)"
for wrong in "--bogus" "--midi jak" "--midi"; do
  # shellcheck disable=SC2086
  out=$("$vexa" $wrong </dev/null 2>&1)
  code=$?
  [[ $code -eq 2 && $(wc -l <<<"$out") -eq 1 ]] || fail "vexa $wrong exited with $code and printed: $out"
done
out=$(VEXA_MIDI=bogus "$vexa" </dev/null 2>&1)
[[ $? -eq 2 ]] && grep -qF "sim|alsa|jack" <<<"$out" || fail "VEXA_MIDI=bogus: $out"

echo "=== without a terminal the program ends at once with an error, every time"
for _ in $(seq 10); do
  VEXA_MIDI=sim timeout -s KILL 5 "$vexa" </dev/null >"$work/log" 2>&1
  code=$?
  [[ $code -ne 0 && $code -ne 137 ]] && grep -qF "needs a terminal" "$work/log" ||
    fail "vexa without a terminal ended with $code and printed: $(cat "$work/log")"
done

echo "=== SIGTERM, SIGINT and SIGHUP end it while it starts and while it runs"
for signal in TERM INT HUP; do
  for delay in 0 0.05 0.3; do
    start 80 24
    sleep "$delay"
    wait_for '[[ -n $(program_pid) ]]'
    kill -"$signal" "$(program_pid)" || fail "the program did not start"
    ended "SIG$signal after $delay s" any
  done
done
echo "passed"
