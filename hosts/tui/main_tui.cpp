// Linux entry point of the vexa utility: the program's WinMain runs on the main thread, which thus becomes
// its UI thread, and the terminal front end shows the dialog from a thread of its own. The exit code is
// WinMain's result. A hang-up of the terminal, SIGTERM or SIGINT closes the dialog like its close button; a
// second one ends the process at once, with the terminal put back as the shell had it.
//
// Options: --help, --version, --list (the MIDI devices and the pairing the program would make) and --midi
// NAME (as VEXA_MIDI). These need no terminal; the dialog does, and without one the program ends at once.
#include <windows.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "hosts/tui/frontend_tui.h"
#include "hosts/tui/terminal_restore.h"
#include "midi/midi.h"
#include "platform/midi/choice/midi_choice.h"
#include "platform/win32/kernel32_ext.h"
#include "platform/win32/winmm_ext.h"
#include "resource.h"

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

// The caption of the program's dialog template (" Quorvanex vexa 3.1"): it carries the program's version.
std::string dialog_caption() {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_MAIN), MAKEINTRESOURCEA(5));
  if (!found) return "";
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  const size_t size = SizeofResource(module, found);
  // DLGTEMPLATE (18 bytes), then the menu, the class and the caption, each an ordinal or a UTF-16 string.
  size_t at = 18;
  auto unit = [&](size_t i) {
    return i + 1 < size ? static_cast<unsigned>(bytes[i] | bytes[i + 1] << 8) : 0u;
  };
  for (int field = 0; field < 2 && at < size; ++field) {
    if (unit(at) == 0xFFFF) {
      at += 4;
    } else {
      while (at < size && unit(at) != 0) at += 2;
      at += 2;
    }
  }
  std::string caption;
  for (; at + 1 < size && unit(at) != 0; at += 2)
    caption += static_cast<char>(unit(at) < 0x80 ? unit(at) : '?');
  return caption;
}

// The version that the embedded firmware image carries: two digits after the product tag ("vexa 31-").
std::string firmware_version() {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, "FirmwareFile", "BINTYPE");
  if (!found || SizeofResource(module, found) < 7) return "none";
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  return std::string{bytes[5], '.', bytes[6]};
}

void print_help(std::FILE* to) {
  std::fprintf(
      to,
      "Usage: vexa [--midi sim|alsa|jack] [--list] [--help] [--version]\n"
      "\n"
      "Shows the vexa utility's dialog in the terminal: pair the unit's MIDI ports, read and change\n"
      "its settings, update its firmware.\n"
      "\n"
      "Options:\n"
      "  --midi NAME   the MIDI service: %s (as VEXA_MIDI)\n"
      "  --list        print the MIDI outputs and inputs that the service sees, with the pairing the\n"
      "                program would make, and exit\n"
      "  --version     print the program's and the firmware image's versions and exit\n"
      "  --help        print this and exit\n"
      "\n"
      "MIDI services:\n"
      "  alsa   real devices through the ALSA sequencer (the default)\n"
      "  jack   real devices through a running JACK server\n"
      "  sim    the built-in simulated unit (what `make run` uses); F9 puts it into update mode\n"
      "\n"
      "Keys:\n"
      "  Tab, Shift+Tab     next, previous control\n"
      "  underlined letter  go to that control (Alt+letter too)\n"
      "  F4, Alt+Down       open the port list; Up, Down and Enter choose, Esc closes it\n"
      "  Space              press a button, tick a box\n"
      "  arrows, PgUp/PgDn  move the slider, change the number\n"
      "  Enter, Esc         dismiss a message box\n"
      "  Ctrl+Q             quit (the window's close button)\n"
      "The mouse works too. The layout follows the terminal's size: the whole dialog from 55 x 47,\n"
      "two columns from 80 x 24, and below that a dialog that scrolls to the focused control.\n"
      "\n"
      "Environment:\n"
      "  VEXA_MIDI   the MIDI service when --midi is not given\n"
      "  LANG        a UTF-8 locale draws frames and the picture with line and block characters\n"
      "  TERM        the terminal type\n",
      midi_choice_names());
}

// The devices of the chosen service as the program sees them, and the input it would pair with each
// output.
int list_devices() {
  const UINT outputs = midiOutGetNumDevs();
  const UINT inputs = midiInGetNumDevs();
  std::printf("MIDI service: %s\n", winmm_backend() ? winmm_backend()->name : "none");
  const std::string problem = midi_service_problem(winmm_backend());
  if (!problem.empty()) std::printf("%s\n", problem.c_str());
  std::printf("Outputs: %u\n", outputs);
  for (UINT i = 0; i < outputs; ++i) {
    MIDIOUTCAPSA caps{};
    midiOutGetDevCapsA(i, &caps, sizeof caps);
    const int32_t input = find_matching_input(i);
    if (input >= 0)
      std::printf("  %u: %s  (paired with input %d)\n", i, caps.szPname, input);
    else
      std::printf("  %u: %s  (no input of that name: not a unit)\n", i, caps.szPname);
  }
  std::printf("Inputs: %u\n", inputs);
  for (UINT i = 0; i < inputs; ++i) {
    MIDIINCAPSA caps{};
    midiInGetDevCapsA(i, &caps, sizeof caps);
    std::printf("  %u: %s\n", i, caps.szPname);
  }
  return 0;
}

int usage_error(const char* text, const char* argument) {
  std::fprintf(stderr, "vexa: %s%s (see vexa --help)\n", text, argument);
  return 2;
}

void print_version() {
  // The caption starts with a blank.
  const std::string caption = dialog_caption();
  const size_t start = std::min(caption.find_first_not_of(' '), caption.size());
  std::printf("%s (Linux terminal), firmware image %s\n", caption.c_str() + start,
              firmware_version().c_str());
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
      print_help(stdout);
      return true;
    }
    if (std::strcmp(arg, "--version") == 0) {
      print_version();
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

// --list: the MIDI libraries' own complaints go nowhere, as the listing says what they mean.
int list_quietly() {
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  std::FILE* null = std::fopen("/dev/null", "w");
  if (null) dup2(fileno(null), STDERR_FILENO);
  const int result = list_devices();
  if (null) std::fclose(null);
  dup2(saved, STDERR_FILENO);
  close(saved);
  return result;
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
  std::thread front_end(tui_run, std::cref(stop_front_end), std::cref(hangup), midi_service_problem(backend));
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
  winmm_use_backend(backend);
  return options.list ? list_quietly() : run_dialog(backend);
}
