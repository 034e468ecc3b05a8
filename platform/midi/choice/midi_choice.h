// The one place where a Linux host picks the MIDI back-end for the WINMM layer, by name.
#pragma once
#include "platform/midi/midi_backend.h"

// "sim" (the built-in simulated unit), "alsa" or "jack" (real devices through RtMidi); null for another
// name or a service that this build cannot reach.
const MidiBackend* midi_backend_named(const char* name);
// The back-end that VEXA_MIDI names; alsa when it is unset. A name that gives no back-end is reported on
// stderr and gives null, which the layer takes as no devices.
const MidiBackend* midi_backend_from_environment();
