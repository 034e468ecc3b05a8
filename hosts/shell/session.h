// One command's run of the program: its dialog on the headless host's UI thread, with the shell as the
// person at it. Output and interrupts of the command are here too.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "hosts/shell/exit_codes.h"
#include "hosts/shell/settings_dialog.h"
#include "hosts/shell/shell.h"

// The command's streams.
void set_streams(const ShellStreams& io);
const ShellStreams& streams();
// "vexa: " and the text, a line on the error stream, with its control characters shown as '?'.
void note(const std::string& text);

// SIGINT, SIGTERM and SIGHUP while a command runs: the first one ends the command at its next step with
// the dialog's close (which closes the ports), a second one ends the process at once.
void catch_interrupts();
// While the command writes to the unit: a closed pipe on an output is a failed write, never the end of the
// process half-way (until release_interrupts).
void ignore_broken_pipes();
void release_interrupts();
bool interrupted();
int interrupted_exit();
// The same for a command interrupted before it started the program, which says so.
int interrupted_early();
// For a command that an interrupt ends normally (timecode): the interrupt is taken as done.
void forget_interrupt();

// Starts the program (`module` NULL: the executable's own resources) with its presence timer under the
// shell's control: the monitor's tick comes when the shell asks for it. EXIT_DONE or EXIT_UNIT_FAILED.
int program_start(HINSTANCE module);
// Chooses the unit's port in the dialog's port list: `port` by its exact name, or else the one output with
// an input of the same name whose unit answers. Waits for the status reply and, from a running unit, for
// the settings in `needed`, then lets the presence monitor tick and returns what it shows in `unit`.
// Prints why and returns the exit code when there is no unit to use.
int connect_unit(const std::string& port, const std::vector<int>& needed, ShownUnit& unit);
// The name of the output that connect_unit chose, as it may be printed.
std::string connected_port();
// One person input, waiting until the dialog has reacted.
int perform(const PersonInput& input);
// Dismisses the open message boxes, telling what each said; the exit code that the first one stands for,
// EXIT_DONE when none was open.
int dismiss_boxes();
// Closes the dialog as its close button does (WM_CLOSE closes the input port, then the output) and waits
// for WinMain to return. Returns `code`, or the interrupt's exit code after an interrupt.
int program_end(int code);
