#include "platform/midi/choice/midi_choice.h"

#include <cstdlib>
#include <cstring>

#include "platform/midi/sim/midi_sim.h"
#ifdef VEXA_HAVE_RTMIDI
#include "platform/midi/rtmidi/midi_rtmidi.h"
#endif

const char* midi_choice_names() {
#ifdef VEXA_HAVE_RTMIDI
  return "sim|alsa|jack";
#else
  return "sim";
#endif
}

const MidiBackend* midi_backend_choose(const char* name, std::string& error) {
  if (std::strcmp(name, "sim") == 0) {
    // The program people run updates the unit again and again: a history would only grow.
    SimSetup setup;
    setup.unit.keep_history = false;
    return sim_start(setup);
  }
#ifdef VEXA_HAVE_RTMIDI
  if (std::strcmp(name, "alsa") == 0 || std::strcmp(name, "jack") == 0) {
    if (const MidiBackend* found = midi_backend_rtmidi(name)) return found;
    error = std::string("MIDI service \"") + name + "\" is not in this build's MIDI library";
    return nullptr;
  }
#endif
  error = std::string("unknown MIDI service \"") + name + "\": choose " + midi_choice_names();
  return nullptr;
}

const MidiBackend* midi_backend_from_environment(std::string& error) {
  const char* value = std::getenv("VEXA_MIDI");
  const MidiBackend* found = midi_backend_choose(value && *value ? value : "alsa", error);
  if (!found) error = "VEXA_MIDI: " + error;
  return found;
}

std::string midi_service_problem(const MidiBackend* backend) {
#ifdef VEXA_HAVE_RTMIDI
  if (backend && backend == midi_backend_rtmidi("alsa")) return rtmidi_service_problem(false);
  if (backend && backend == midi_backend_rtmidi("jack")) return rtmidi_service_problem(true);
#else
  (void)backend;
#endif
  return "";
}
