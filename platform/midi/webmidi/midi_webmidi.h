// The Web MIDI back-end: the MIDI ports of a MIDIAccess that the page obtained with
// navigator.requestMIDIAccess({sysex: true}) and handed over as Module.vexaMidiAccess before the program
// started. Web MIDI lives on the page's main thread only: sends are passed to it, and what its inputs
// receive is handed from there to the layer's sinks. Outputs and inputs are listed in the order in which
// the page first saw them; a port whose state turns "disconnected" counts as an unplugged device.
#pragma once
#include "platform/midi/midi_backend.h"

const MidiBackend* midi_backend_webmidi();
