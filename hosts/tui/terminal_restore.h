// The terminal put back from a signal handler, for a program that has to end at once (a second SIGTERM,
// SIGINT or SIGHUP) without the front end's own clean-up: the shell gets its modes back (cooked, echo) and
// the main screen, with mouse reporting and the keypad's application mode off and the cursor shown.
#pragma once
#include <termios.h>

// Arms the restore for terminal `fd` once ncurses has taken it: `shell_modes` are its modes from before
// (NULL: none to set back); the sequences that undo what the front end turns on come from the terminal's
// description. Call before any handler can need it.
void terminal_restore_arm(int fd, const struct termios* shell_modes);
// The front end has given the terminal back itself (endwin): nothing is left to restore.
void terminal_restore_disarm();
// Writes the sequences and sets the shell's modes again, if armed. Async-signal-safe: write() and
// tcsetattr() on what terminal_restore_arm prepared.
void terminal_restore_now();
