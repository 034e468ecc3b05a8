// The exit codes of the shell commands, with the one table of their meanings that `vexa --help` prints and
// the README repeats.
#pragma once

enum ExitCode : int {
  EXIT_DONE = 0,         // done, and confirmed by the unit
  EXIT_UNIT_FAILED = 1,  // the unit failed the operation
  EXIT_USAGE = 2,        // the command line, a file or an image is wrong; several units and no --port
  EXIT_NO_UNIT = 3,      // no paired port, or no answer
  EXIT_WRONG_MODE = 4,   // settings of a unit in update mode, an update of a running unit
  EXIT_NOT_WRITTEN = 5,  // the output (standard output, the backup file) could not be written
  // A command ended by a signal exits with this plus the signal's number, after closing the ports.
  EXIT_SIGNAL_BASE = 128,
};

struct ExitMeaning {
  const char* code;  // as printed: "0" ... "4", "128+N"
  const char* meaning;
};
extern const ExitMeaning EXIT_MEANINGS[7];
