#!/usr/bin/env bash
# A second SIGTERM, SIGINT or SIGHUP ends the terminal program at once, with the terminal put back as the
# shell had it: in a private tmux server, the pane's modes (stty -a) before the program and after it must be
# the same, and tmux must see the pane off the alternate screen, with mouse reporting and the keypad's
# application modes off and the cursor shown, all of which the program had turned on.
# Usage: tui_second_signal.sh TMUX VEXA
set -uo pipefail
tmux_bin=$1
vexa=$2
command -v python3 >/dev/null || { echo "no python3 to send the signals: skipped"; exit 77; }

source "$(dirname "$0")/tmux_support.sh"

flags() {
  local flag line=""
  for flag in alternate_on mouse_any_flag mouse_sgr_flag cursor_flag keypad_cursor_flag keypad_flag; do
    line+="$flag=$(t display-message -p "#{$flag}") "
  done
  echo "$line"
}

# Sends signal $2 twice to process $1, to two of its threads at once (tgkill): sent to the process, the
# second would merge with the first while that one is still pending, and the first alone closes the program.
two_signals() {
  python3 - "$1" "$2" <<'PYTHON'
import ctypes, os, sys
pid, signal = int(sys.argv[1]), int(sys.argv[2])
threads = sorted(int(task) for task in os.listdir(f"/proc/{pid}/task"))[:2]
libc = ctypes.CDLL(None, use_errno=True)
sys.exit(len(threads) != 2 or any(libc.tgkill(pid, thread, signal) != 0 for thread in threads))
PYTHON
}

# Each signal with tmux's own terminal type, and one with xterm's, whose mouse reporting has SGR coordinates
# (its XM string).
for run in "TERM screen" "INT screen" "HUP screen" "TERM xterm-256color"; do
  signal=${run% *}
  term=${run#* }
  sgr=0
  [[ $term == xterm* ]] && sgr=1
  echo "=== two SIG$signal, TERM=$term"
  next_server
  rm -f "$work/before" "$work/after" "$work/exit"
  t -f /dev/null new-session -d -x 80 -y 24 "stty -a >'$work/before'; env TERM=$term VEXA_MIDI=sim LANG=C.UTF-8 '$vexa'; \
    echo \$? >'$work/exit'; stty -a >'$work/after'; sleep 600"
  wait_for 't capture-pane -p | grep -qF "Quorvanex vexa 3.1"' || fail "the dialog is not shown"
  running=$(flags)
  [[ $running == "alternate_on=1 mouse_any_flag=1 mouse_sgr_flag=$sgr cursor_flag=0 keypad_cursor_flag=1 keypad_flag=1 " ]] ||
    fail "while it runs: $running"
  pid=$(program_pid)
  [[ -n $pid ]] || fail "no program"
  two_signals "$pid" "$(kill -l "$signal")" || fail "the signals could not be sent"
  wait_for '[[ -s $work/after ]]' || fail "the program did not end"
  code=$(cat "$work/exit")
  [[ $code -eq $((128 + $(kill -l "$signal"))) ]] || fail "it ended with $code, not by the second signal"
  diff "$work/before" "$work/after" >&2 || fail "the terminal's modes differ from the shell's (above)"
  ended=$(flags)
  [[ $ended == "alternate_on=0 mouse_any_flag=0 mouse_sgr_flag=0 cursor_flag=1 keypad_cursor_flag=0 keypad_flag=0 " ]] ||
    fail "after it: $ended"
  t kill-server
done
echo "passed"
