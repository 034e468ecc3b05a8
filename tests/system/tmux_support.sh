# Sourced by the terminal program's tmux tests (after tmux_bin is set): a work folder, a private tmux
# server for each start (a server told to end may still be ending when the next one starts), the screen, and
# a clean-up that stops every server started here, whatever ends the test.
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
fail() {
  echo "FAIL: $*" >&2
  echo "--- screen:" >&2
  screen >&2
  exit 1
}
