// The shell host: `vexa list`, `status`, `get`, `set`, `backup`, `restore`, `update` and `diagnose`. Each
// command runs the program's own WinMain and dialog on the headless host's UI thread and acts at the dialog
// as a person would (the port list, the check boxes, the slider, the ID box, the update button), reading
// what the dialog shows; nothing of the unit's protocol is written again here. What the dialog never does
// is added beside it, with the program's own message table, send_sysex and shared state: reading settings
// back after a change (readback.cpp) and timing status queries (diagnose.cpp).
//
// A command needs no terminal and ends by itself; its exit code is one of exit_codes.h.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "platform/midi/midi_backend.h"

struct ShellStreams {
  std::FILE* out;        // results
  std::FILE* err;        // progress, notes and errors
  bool err_is_terminal;  // progress redraws one line instead of printing one per 10 %
};

// True when the command line is the shell's: a command (--list included), --help, --version, or a line that
// is wrong, which shell_main then runs or refuses. False for the dialog's own: nothing, or --midi NAME.
bool shell_has_command(int argc, char** argv);
// The executable's entry for a command line with a command: the MIDI service from --midi or VEXA_MIDI,
// standard output and error (the MIDI libraries' own complaints silenced), the program's pause log off.
int shell_main(int argc, char** argv);
// Runs one command line (without the program name) over `backend`, which takes the place of --midi when
// not null; for tests and the benchmark.
int shell_run(const std::vector<std::string>& args, const MidiBackend* backend, const ShellStreams& io);

// `vexa --help`, complete: the dialog's options and keys and every command, option, setting and exit code.
void shell_print_help(std::FILE* to);
