// Browser entry point of the vexa utility. The runtime runs main() on a thread of its own (a Worker), so
// the program's WinMain runs there as on Linux's main thread, and that thread becomes its UI thread; the
// page's main thread stays free for drawing and Web MIDI. The first argument chooses the MIDI back-end:
// "sim" for the built-in simulated unit, otherwise Web MIDI.
#include <windows.h>

#include <emscripten/emscripten.h>

#include <cstring>

#include "hosts/web/web_host.h"
#include "platform/midi/sim/midi_sim.h"
#include "platform/midi/webmidi/midi_webmidi.h"
#include "platform/win32/user32_ext.h"
#include "platform/win32/winmm_ext.h"
#include "timecode/tap.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

namespace {

// The built-in unit, its time code input playing from 01:00:00:00 at 25 fps.
const MidiBackend* start_sim() {
  SimSetup setup;
  setup.unit.timecode = SimTimecodeInput{true, TimecodeRate::fps25, 90000, {}};
  return sim_start(setup);
}

}  // namespace

int main(int argc, char** argv) {
  const bool sim = argc > 1 && std::strcmp(argv[1], "sim") == 0;
  // The time code reader listens beside the program (the line below the dialog).
  winmm_use_backend(timecode_tap(sim ? start_sim() : midi_backend_webmidi()));
  web_watch_start(sim);
  user32_set_drawn(true);
  char command_line[] = "";
  const int result = WinMain(GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
  web_watch_stop();
  MAIN_THREAD_ASYNC_EM_ASM({ Module['vexaPage'].ended($0); }, result);
  return result;
}
