#include "platform/midi/choice/midi_choice.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>
#include <vector>

#include "platform/midi/sim/midi_sim.h"
#include "sim/unit/options.h"
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

namespace {

// The built-in unit as people try it: its time code input plays from 01:00:00:00 at 25 fps, and
// VEXA_SIM_OPTIONS changes it with vexa-sim's options.
const MidiBackend* start_sim(std::string& error) {
  SimSetup setup;
  // The program people run updates the unit again and again: a history would only grow.
  setup.unit.keep_history = false;
  setup.unit.timecode = SimTimecodeInput{true, TimecodeRate::fps25, 90000, {}};
  if (const char* options = std::getenv("VEXA_SIM_OPTIONS")) {
    std::istringstream split(options);
    std::vector<std::string> words{std::istream_iterator<std::string>(split), {}};
    std::vector<const char*> pointers;
    for (const std::string& word : words) pointers.push_back(word.c_str());
    std::string bad;
    const SimOptionResult result = sim_read_options(setup.unit, pointers, "--", {}, bad);
    if (result != SIM_OPTION_OK) {
      error = "VEXA_SIM_OPTIONS: " + bad + ": " + sim_option_problem(result) + " (see vexa-sim --help)";
      return nullptr;
    }
  }
  return sim_start(setup);
}

}  // namespace

const MidiBackend* midi_backend_choose(const char* name, std::string& error) {
  if (std::strcmp(name, "sim") == 0) return start_sim(error);
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
  // By name: a host may hand the back-end on wrapped (the time code reader's tap), under the same name.
  if (backend && std::strcmp(backend->name, "alsa") == 0) return rtmidi_service_problem(false);
  if (backend && std::strcmp(backend->name, "jack") == 0) return rtmidi_service_problem(true);
#else
  (void)backend;
#endif
  return "";
}
