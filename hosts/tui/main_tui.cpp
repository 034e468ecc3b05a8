// Linux entry point of the vexa utility: the program's WinMain runs on the main thread, which thus becomes
// its UI thread, and the terminal front end shows the dialog from a thread of its own. The exit code is
// WinMain's result. A hang-up of the terminal, SIGTERM or SIGINT closes the dialog like its close button; a
// second one ends the process at once, with the terminal put back as the shell had it.
//
// Its one option is --midi NAME (as VEXA_MIDI). Every other command line (a command such as vexa status,
// --list, --help, --version, or a wrong one) is the shell host's (hosts/shell), which needs no terminal; the
// dialog does, and without one the program ends at once.
#include <windows.h>

#include <unistd.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "hosts/shell/command_line.h"
#include "hosts/shell/shell.h"
#include "hosts/tui/frontend_tui.h"
#include "hosts/tui/terminal_restore.h"
#include "platform/midi/choice/midi_choice.h"
#include "platform/win32/kernel32_ext.h"
#include "platform/win32/user32_ext.h"
#include "platform/win32/winmm_ext.h"
#include "timecode/tap.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

namespace {

std::atomic<bool> stop_front_end{false};
std::atomic<bool> hangup{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void on_signal(int signal_number) {
  if (!hangup.exchange(true)) return;
  terminal_restore_now();
  _exit(128 + signal_number);
}

// The dialog in the terminal: WinMain on this thread, the front end on its own.
int run_dialog(const MidiBackend* backend) {
  std::string error;
  if (!tui_open_terminal(error)) {
    std::fprintf(stderr, "vexa: %s\n", error.c_str());
    return 1;
  }
  struct sigaction action = {};
  action.sa_handler = on_signal;
  // One handler at a time: a third signal waits while the second one restores the terminal.
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&action.sa_mask, signal_number);
  for (int signal_number : {SIGHUP, SIGTERM, SIGINT}) sigaction(signal_number, &action, nullptr);

  // Asked once the terminal is taken, which keeps the libraries' complaints off the screen.
  std::thread front_end(tui_run, std::cref(stop_front_end), std::cref(hangup), midi_service_problem(backend),
                        timecode_tap_line);
  // The log of pauses serves tests only.
  platform_log_sleeps(false);
  user32_set_drawn(true);
  char command_line[] = "";
  const int result = WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
  stop_front_end.store(true);
  user32_wake_watchers();
  front_end.join();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (shell_has_command(argc, argv)) return shell_main(argc, argv);
  // What is left is the dialog's own command line: nothing, or --midi NAME.
  CommandLine line;
  std::string error;
  parse_command_line(std::vector<std::string>(argv + 1, argv + argc), line, error);
  const MidiBackend* backend = line.midi.empty() ? midi_backend_from_environment(error)
                                                 : midi_backend_choose(line.midi.c_str(), error);
  if (!backend) {
    std::fprintf(stderr, "vexa: %s\n", error.c_str());
    return 2;
  }
  // The time code reader listens beside the program (the line below the dialog).
  winmm_use_backend(timecode_tap(backend));
  return run_dialog(backend);
}
