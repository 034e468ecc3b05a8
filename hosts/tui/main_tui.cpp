// Linux entry point of the vexa utility: the program's WinMain runs on the main thread, which thus becomes
// its UI thread, and the terminal front end shows the dialog from a thread of its own. The exit code is
// WinMain's result. A hang-up of the terminal, SIGTERM or SIGINT closes the dialog like its close button; a
// second one ends the process at once, with the terminal put back as the shell had it.
//
// Options: --help, --version, --list (the MIDI devices and the pairing the program would make) and --midi
// NAME (as VEXA_MIDI). These need no terminal; the dialog does, and without one the program ends at once. A
// command line that names a command (vexa status, vexa get ...) is the shell host's (hosts/shell).
#include <windows.h>

#include <unistd.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "hosts/shell/program_info.h"
#include "hosts/shell/shell.h"
#include "hosts/tui/frontend_tui.h"
#include "hosts/tui/terminal_restore.h"
#include "platform/midi/choice/midi_choice.h"
#include "platform/win32/kernel32_ext.h"
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

// The devices of the chosen service as the program sees them, and the input it would pair with each
// output. The MIDI libraries' own complaints go nowhere: the listing says what they mean.
int list_devices() {
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  std::FILE* null = std::fopen("/dev/null", "w");
  if (null) dup2(fileno(null), STDERR_FILENO);
  print_listing(stdout, midi_listing());
  if (null) std::fclose(null);
  dup2(saved, STDERR_FILENO);
  close(saved);
  return 0;
}

int usage_error(const char* text, const char* argument) {
  std::fprintf(stderr, "vexa: %s%s (see vexa --help)\n", text, argument);
  return 2;
}

struct Options {
  const char* midi = nullptr;
  bool list = false;
};

// Reads the command line into `options`. True when it has said all there is to do (--help, --version, a
// wrong option), with the exit code in `exit_code`.
bool read_options(int argc, char** argv, Options& options, int& exit_code) {
  exit_code = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      shell_print_help(stdout);
      return true;
    }
    if (std::strcmp(arg, "--version") == 0) {
      print_version(stdout);
      return true;
    }
    if (std::strcmp(arg, "--list") == 0) {
      options.list = true;
    } else if (std::strcmp(arg, "--midi") == 0) {
      if (i + 1 >= argc) {
        exit_code = usage_error("--midi needs a name: ", midi_choice_names());
        return true;
      }
      options.midi = argv[++i];
    } else if (std::strncmp(arg, "--midi=", 7) == 0) {
      options.midi = arg + 7;
    } else {
      exit_code = usage_error("unknown option ", arg);
      return true;
    }
  }
  return false;
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
  Options options;
  int exit_code = 0;
  if (read_options(argc, argv, options, exit_code)) return exit_code;
  std::string error;
  const MidiBackend* backend =
      options.midi ? midi_backend_choose(options.midi, error) : midi_backend_from_environment(error);
  if (!backend) {
    std::fprintf(stderr, "vexa: %s\n", error.c_str());
    return 2;
  }
  // The time code reader listens beside the program (the line below the dialog).
  winmm_use_backend(timecode_tap(backend));
  return options.list ? list_devices() : run_dialog(backend);
}
