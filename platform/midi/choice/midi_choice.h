// The one place where a Linux host picks the MIDI back-end for the WINMM layer, by name.
#pragma once
#include <string>

#include "platform/midi/midi_backend.h"

// The names this build offers, for help texts and errors: "sim|alsa|jack" ("sim" alone without RtMidi).
const char* midi_choice_names();
// "sim" (the built-in simulated unit, keeping no history of what it receives, its time code input playing
// from 01:00:00:00 at 25 fps; VEXA_SIM_OPTIONS holds more of vexa-sim's options), "alsa" or "jack" (real
// devices through RtMidi). Null for any other name, with an error that names the choices in `error`.
const MidiBackend* midi_backend_choose(const char* name, std::string& error);
// The back-end that VEXA_MIDI names; alsa when it is unset or empty.
const MidiBackend* midi_backend_from_environment(std::string& error);
// Why the back-end's service cannot be reached ("JACK: no server running", "ALSA: no sequencer"); empty
// when it can, or for the simulated unit.
std::string midi_service_problem(const MidiBackend* backend);
