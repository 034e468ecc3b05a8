// The back-end for real MIDI devices on Linux: RtMidi with its ALSA sequencer or JACK interface.
#pragma once
#include <string>
#include <vector>

#include "platform/midi/midi_backend.h"

// api is "alsa" or "jack"; null when RtMidi was built without that API.
const MidiBackend* midi_backend_rtmidi(const char* api);

// Why the service cannot be reached: "ALSA: no sequencer (/dev/snd/seq)" or "JACK: no server running";
// empty when it can. Tries a client of its own once.
std::string rtmidi_service_problem(bool jack);

// Device names, exposed for their tests.

// The client name of the layer's own RtMidi clients; their ports are never listed as devices.
constexpr const char* RTMIDI_OWN_CLIENT = "vexa utility";

// One device: its place in RtMidi's port list and the name shown to the program (at most 31 characters).
struct RtmidiDevice {
  int index;
  std::string name;
};

// Names for the ports of one direction as RtMidi lists them ("client:port 128:0" on ALSA, "client:port" on
// JACK), own ports left out. A unit's output and input get the same name:
// - ALSA: the client name; the port name instead when the client has several ports in that direction.
// - JACK: the client name without the "-01" that JACK appends to a repeated client name; with several ports
//   in that direction, client and port name. Ports of the ALSA bridge "a2j" are named after the ALSA
//   device ("a2j:vexa [20] (capture): vexa MIDI 1" is "vexa"), the hardware ports "system:midi_capture_1"
//   and "system:midi_playback_1" are both "system midi 1".
// A name that is already taken gets " #2", " #3"... appended.
std::vector<RtmidiDevice> rtmidi_device_names(bool jack, const std::vector<std::string>& ports);
