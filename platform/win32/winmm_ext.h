// Linux-only host and test API of the WINMM layer: choosing the MIDI back-end, output faults, a log of the
// calls. Never included by the program.
#pragma once
#include <mmsystem.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/midi/midi_backend.h"

// Chooses the back-end for every following WinMM call (all ports must be closed); the one chosen before is
// shut down. Null, and the state until a host chooses, means no devices (midi_backend_none).
void winmm_use_backend(const MidiBackend* backend);
const MidiBackend* winmm_backend();
// No devices at all.
const MidiBackend* midi_backend_none();

// Output faults that no device shows by itself, for the transmitter's tests. Cleared by winmm_use_backend.
struct WinmmOutputFaults {
  bool never_done = false;                      // midiOutLongMsg sends but never sets MHDR_DONE
  MMRESULT long_msg_result = MMSYSERR_NOERROR;  // non-zero: midiOutLongMsg answers this and sends nothing
  int unprepare_busy = 0;  // midiOutUnprepareHeader of a prepared header answers 65 this many times first
};
void winmm_set_output_faults(const WinmmOutputFaults& faults);

// Names of the WinMM functions called, in order, from every thread except the layer's own input threads
// (so a reply arriving meanwhile does not add the callback's midiInAddBuffer). Recording starts with the
// first winmm_clear_calls().
std::vector<std::string> winmm_calls();
void winmm_clear_calls();

// timeBeginPeriod / timeEndPeriod calls so far (each returns TIMERR_NOERROR).
int winmm_time_begin_calls();
int winmm_time_end_calls();
