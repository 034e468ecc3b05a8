# Sourced by the terminal program's tmux tests (after tmux_bin is set): a work folder, a private tmux
# server for each start (a server told to end may still be ending when the next one starts), the screen, the
# program in the pane, and a clean-up that stops every server started here, whatever ends the test.
work=$(mktemp -d)
servers=0
socket=$work/tmux.0.sock
t() { "$tmux_bin" -S "$socket" "$@"; }
cleanup() {
  local server
  for server in "$work"/tmux.*.sock; do "$tmux_bin" -S "$server" kill-server 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# The next start's server.
next_server() {
  servers=$((servers + 1))
  socket=$work/tmux.$servers.sock
}
screen() { t capture-pane -p; }
# The pid of the program that the pane's shell runs.
program_pid() { ps -o pid= --ppid "$(t display-message -p '#{pane_pid}')" | tr -d ' '; }
# Waits up to 10 s until the command given as text succeeds.
wait_for() {
  for _ in $(seq 200); do
    eval "$1" && return 0
    sleep 0.05
  done
  return 1
}
fail() {
  echo "FAIL: $*" >&2
  echo "--- screen:" >&2
  screen >&2
  exit 1
}
