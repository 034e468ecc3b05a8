#!/usr/bin/env bash
# The terminal front end in a real terminal: the program runs with the built-in simulated unit inside a
# private tmux server, the test types keys (send-keys) and reads the screen (capture-pane). After each action
# it waits for its effect on the screen, up to 10 s. Then the program without a terminal, its options and
# signals. Everything started here is stopped on the way out, whatever happens.
# Usage: tui_tmux.sh TMUX VEXA
set -uo pipefail
tmux_bin=$1
vexa=$2

source "$(dirname "$0")/tmux_support.sh"

# Waits until the screen shows (or no longer shows) a text.
shows() {
  for _ in $(seq 200); do
    screen | grep -qF -- "$1" && return 0
    sleep 0.05
  done
  fail "\"$1\" is not shown"
}
hides() {
  for _ in $(seq 200); do
    screen | grep -qF -- "$1" || return 0
    sleep 0.05
  done
  fail "\"$1\" is still shown"
}
keys() { t send-keys "$@"; }
# Waits until the program has read every key sent so far: the terminal's input queue is empty and the
# screen has stopped changing.
settled() {
  local before after
  before=$(screen)
  for _ in $(seq 200); do
    sleep 0.05
    after=$(screen)
    [[ "$after" == "$before" ]] && return 0
    before=$after
  done
  fail "the screen keeps changing"
}

# Starts the program in a pane of the given size under a shell that keeps its exit status in a file (tmux
# may take its time to collect the status of a pane's own process).
# Arguments: columns, rows, then the MIDI back-end (sim unless given) and the locale (C.UTF-8 unless given).
start() {
  rm -f "$work/exit"
  next_server
  t -f /dev/null new-session -d -x "$1" -y "$2" \
    "env VEXA_MIDI=${3:-sim} LANG=${4:-C.UTF-8} '$vexa'; echo \$? > '$work/exit'; sleep 600"
}
program_pid() { ps -o pid= --ppid "$(t display-message -p '#{pane_pid}')" | tr -d ' '; }
# Waits until the program has ended and checks that it exited with 0.
ended_with_0() {
  for _ in $(seq 200); do
    [[ -s "$work/exit" ]] && break
    sleep 0.05
  done
  [[ -s "$work/exit" ]] || fail "the program did not end"
  [[ "$(cat "$work/exit")" == 0 ]] || fail "the program ended with $(cat "$work/exit")"
  t kill-server
}

# The same steps in every layout: the port list closed without a choice, then the unit chosen; a setting
# changed with its hot key and Space; a help box read whole; an update run after F9; Ctrl+Q.
for size in 80x24 100x30 55x47 40x15; do
  cols=${size%x*}
  rows=${size#*x}
  echo "=== $cols x $rows"
  start "$cols" "$rows"
  shows "F4: ports"
  shows "▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀"
  if [[ $rows -ge 24 ]]; then
    shows "╔═ Quorvanex vexa 3.1 ═"
    shows "[ ] Blank leading zero"
    shows "┌Brightness"
  fi

  echo "--- the port list closed without a choice, then the simulated unit chosen"
  keys F4
  shows "│vexa "
  keys Escape
  hides "│vexa "
  shows "vexa not found"
  keys F4
  shows "│vexa "
  keys Down Enter
  shows "Firmware 3.1"

  echo "--- a check box ticked with its hot key, then unticked with Space"
  keys b
  shows "[x] Blank leading zero"
  keys Space
  shows "[ ] Blank leading zero"

  echo "--- the brightness slider moved from the keyboard"
  # The slider's group letter goes to the slider; End moves it to the far right.
  keys r
  shows "Arrows PgUp PgDn Home End"
  keys End
  shows "─█  │"

  echo "--- a help box shown whole and dismissed"
  keys Tab Tab Space
  shows "═ Help ═"
  shows "[ OK ]"
  if [[ $rows -ge 24 ]]; then
    shows "Hold down both keys while connecting"
  fi
  keys Enter
  hides "═ Help ═"

  echo "--- a firmware update after F9"
  # The unit now starts in update mode, as if it had been plugged in with both keys held: the port is
  # chosen again.
  keys F9
  keys F4
  shows "│vexa "
  keys Down Enter
  shows "vexa in update mode"
  keys u
  shows "Programming successful"

  echo "--- Ctrl+Q closes the program with exit code 0"
  keys C-q
  ended_with_0
done

echo "=== resizing switches the layout live"
start 55 47
shows "╔═ Quorvanex vexa 3.1 ═"
t resize-window -x 80 -y 24
shows "[ ] Blank leading zero            [?]"
t resize-window -x 40 -y 15
hides "Blank leading zero"
shows "[ Update firmware ]        [?] ║"
t resize-window -x 55 -y 47
shows "╔═ Quorvanex vexa 3.1 ═"
keys C-q
ended_with_0

echo "=== without UTF-8: ASCII frames, the picture still drawn"
start 80 24 sim C
shows "+= Quorvanex vexa 3.1 ="
# The picture's cells are blanks with a background colour: escape sequences in the captured pane.
t capture-pane -p -e | grep -q $'\e\\[[0-9;]*4[0-9;]*m     ' || fail "the picture is not drawn"
keys C-q
ended_with_0

echo "=== a hang-up of the terminal closes it, even with a message box open"
start 80 24
shows "╔═ Quorvanex vexa 3.1 ═"
keys Tab Space
shows "═ Help ═"
kill -HUP "$(program_pid)"
ended_with_0

# Only where the ALSA sequencer is missing (as in a container) is "no MIDI device at all" certain.
if [[ ! -e /dev/snd/seq ]]; then
  echo "=== no MIDI device at all: ALSA without a sequencer, said on the help line"
  start 80 24 alsa
  shows "ALSA: no sequencer"
  keys F4
  shows "═ Warning ═"
  shows "No MIDI outputs available"
  keys Enter
  hides "═ Warning ═"
  keys Escape
  shows "vexa not found"
  keys C-q
  ended_with_0
fi

echo "=== options, without a terminal"
out=$("$vexa" --help </dev/null 2>&1) || fail "--help failed"
for text in "--midi" "--list" "--version" "VEXA_MIDI" "Ctrl+Q" "jack"; do
  grep -qF -- "$text" <<<"$out" || fail "--help does not mention $text"
done
out=$("$vexa" --version </dev/null 2>&1) || fail "--version failed"
grep -qE "vexa 3\.1 .*firmware image 3\.1" <<<"$out" || fail "--version printed: $out"
out=$(VEXA_MIDI=alsa "$vexa" --midi sim --list </dev/null 2>&1) || fail "--list failed"
grep -qF "0: vexa  (paired with input 0)" <<<"$out" || fail "--list printed: $out"
for wrong in "--bogus" "--midi jak" "--midi"; do
  # shellcheck disable=SC2086
  out=$("$vexa" $wrong </dev/null 2>&1)
  code=$?
  [[ $code -eq 2 ]] || fail "vexa $wrong exited with $code"
  [[ $(wc -l <<<"$out") -eq 1 ]] || fail "vexa $wrong printed more than one line: $out"
done
out=$(VEXA_MIDI=bogus "$vexa" </dev/null 2>&1)
[[ $? -eq 2 ]] || fail "VEXA_MIDI=bogus did not exit with 2"
grep -qF "sim|alsa|jack" <<<"$out" || grep -qF "choose sim" <<<"$out" || fail "VEXA_MIDI=bogus: $out"

echo "=== without a terminal the program ends at once with an error, every time"
for _ in $(seq 10); do
  VEXA_MIDI=sim timeout -s KILL 5 "$vexa" </dev/null >"$work/log" 2>&1
  code=$?
  [[ $code -ne 137 ]] || fail "vexa without a terminal hung"
  [[ $code -ne 0 ]] || fail "vexa without a terminal exited with 0"
  grep -qF "needs a terminal" "$work/log" || fail "vexa without a terminal printed: $(cat "$work/log")"
done

echo "=== SIGTERM, SIGINT and SIGHUP end it while it starts, runs and shows a box"
for signal in TERM INT HUP; do
  for delay in 0 0.05 0.3; do
    start 80 24
    sleep "$delay"
    pid=""
    for _ in $(seq 100); do
      pid=$(program_pid)
      [[ -n $pid ]] && break
      sleep 0.02
    done
    [[ -n $pid ]] || fail "the program did not start"
    kill -"$signal" "$pid"
    for _ in $(seq 200); do
      [[ -s "$work/exit" ]] && break
      sleep 0.05
    done
    [[ -s "$work/exit" ]] || fail "SIG$signal after $delay s did not end the program"
    t kill-server
  done
done
echo "passed"
