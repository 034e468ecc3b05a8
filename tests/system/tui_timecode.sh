#!/usr/bin/env bash
# The time code line below the dialog in a real terminal: the built-in unit's time code input plays for
# eight seconds from 01:00:00:00 and then stands. The line says there is none until the port is chosen,
# then runs, stays current, and says where the time code stopped.
# Usage: tui_timecode.sh TMUX VEXA
set -uo pipefail
tmux_bin=$1
vexa=$2

source "$(dirname "$0")/tmux_support.sh"

shows() {
  for _ in $(seq 200); do
    screen | grep -qE -- "$1" && return 0
    sleep 0.05
  done
  fail "\"$1\" is not shown"
}
timecode_line() { screen | grep -E '^ *Time code'; }

next_server
t -f /dev/null new-session -d -x 80 -y 24 \
  "env VEXA_MIDI=sim LANG=C.UTF-8 VEXA_SIM_OPTIONS='--timecode-step play 8 --timecode-step stop 1' '$vexa'; sleep 600"
shows "^ Time code: no time code$"
shows "F4: ports"
t send-keys F4
shows "│vexa "
t send-keys Down Enter
shows "^ Time code 01:00:0[0-7]:[0-2][0-9] 25 fps running, [0-9]+ drop-outs?$"
# Kept current: a frame later the line shows another time.
first=$(timecode_line)
sleep 0.2
[[ "$(timecode_line)" != "$first" ]] || fail "the time code line stands still at: $first"
shows "^ Time code 01:00:08:0[0-3] 25 fps stopped, locate 01:00:08:0[0-3], [0-9]+ drop-outs?$"
t send-keys C-q
echo "the time code line: none, running, kept current, stopped with its locate"
