#include "platform/midi/choice/midi_choice.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/midi/sim/midi_sim.h"
#ifdef VEXA_HAVE_RTMIDI
#include "platform/midi/rtmidi/midi_rtmidi.h"
#endif

const MidiBackend* midi_backend_named(const char* name) {
  if (std::strcmp(name, "sim") == 0) return midi_backend_sim();
#ifdef VEXA_HAVE_RTMIDI
  if (std::strcmp(name, "alsa") == 0 || std::strcmp(name, "jack") == 0) return midi_backend_rtmidi(name);
#endif
  return nullptr;
}

const MidiBackend* midi_backend_from_environment() {
  const char* value = std::getenv("VEXA_MIDI");
  const char* name = value && *value ? value : "alsa";
  if (const MidiBackend* found = midi_backend_named(name)) return found;
  std::fprintf(stderr, "winmm: MIDI back-end \"%s\" is not available\n", name);
  return nullptr;
}
