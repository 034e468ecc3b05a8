// Linux entry point of the vexa utility: the program's WinMain runs on the main thread, which thus becomes
// its UI thread, and the terminal front end shows the dialog from a thread of its own. The exit code is
// WinMain's result. A hang-up of the terminal, SIGTERM or SIGINT closes the dialog like its close button.
#include <windows.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <thread>

#include "hosts/tui/frontend_tui.h"
#include "platform/midi/choice/midi_choice.h"
#include "platform/win32/winmm_ext.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

namespace {

std::atomic<bool> stop_front_end{false};
std::atomic<bool> hangup{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void on_signal(int) { hangup.store(true); }

}  // namespace

int main() {
  std::setlocale(LC_ALL, "");
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGHUP, SIGTERM, SIGINT}) sigaction(signal_number, &action, nullptr);

  winmm_use_backend(midi_backend_from_environment());
  std::thread front_end(tui_run, std::cref(stop_front_end), std::cref(hangup));
  char command_line[] = "";
  const int result = WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
  stop_front_end.store(true);
  front_end.join();
  return result;
}
