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

// Faults that no device shows by itself, for the transmitter's and the receiver's tests. Cleared by
// winmm_use_backend.
struct WinmmOutputFaults {
  MMRESULT prepare_result = MMSYSERR_NOERROR;   // non-zero: midiOutPrepareHeader answers this
  bool never_done = false;                      // midiOutLongMsg sends but never sets MHDR_DONE
  MMRESULT long_msg_result = MMSYSERR_NOERROR;  // non-zero: midiOutLongMsg answers this and sends nothing
  int unprepare_busy = 0;  // midiOutUnprepareHeader of a prepared header answers 65 this many times first
};
void winmm_set_output_faults(const WinmmOutputFaults& faults);
// Input calls that fail once with MMSYSERR_NOMEM: n means the nth such call from now (0: none).
struct WinmmInputFaults {
  int prepare_fails_at = 0;     // midiInPrepareHeader
  int add_buffer_fails_at = 0;  // midiInAddBuffer, after its header checks
  int start_fails_at = 0;       // midiInStart of an open input
};
void winmm_set_input_faults(const WinmmInputFaults& faults);

// Names of the WinMM functions called, in order, from every thread except the layer's own input threads
// (so a reply arriving meanwhile does not add the callback's midiInAddBuffer). Recording starts with the
// first winmm_clear_calls().
std::vector<std::string> winmm_calls();
void winmm_clear_calls();
// Called with the function's name at the start of every call that winmm_calls logs (whether or not it is
// recording), on the calling thread; NULL removes it.
void winmm_set_call_hook(void (*hook)(const char* name));

// timeBeginPeriod / timeEndPeriod calls so far (each returns TIMERR_NOERROR).
int winmm_time_begin_calls();
int winmm_time_end_calls();
