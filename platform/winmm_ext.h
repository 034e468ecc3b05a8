// Linux-only host and test API of the WINMM layer: choosing the MIDI back-end, driving the simulated
// unit and its devices, injecting raw input. Never included by the program.
#pragma once
#include <mmsystem.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "midi_backend.h"
#include "sim/unit.h"

// Chooses the back-end for every following WinMM call (all ports must be closed). Without a call the
// environment decides at the first WinMM call: VEXA_MIDI=sim, alsa or jack; unset means alsa when built.
void winmm_use_backend(const MidiBackend* backend);
const MidiBackend* winmm_backend();

// Output faults that no device shows by itself, for the transmitter's tests. Cleared by winmm_use_backend
// (and so by winmm_use_sim).
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

// One simulated device (an output or an input).
struct SimPortSpec {
  std::string name;
  bool unit = false;        // carries the vexa unit's traffic (the unit's output or input)
  int open_result = 0;      // non-zero: every open of this device fails with this MMSYSERR_* code
  int close_busy = 0;       // outputs: midiOutClose answers MIDIERR_STILLPLAYING this many times first
};

struct SimSetup {
  std::vector<SimPortSpec> outputs{{"vexa", true}};
  std::vector<SimPortSpec> inputs{{"vexa", true}};
  SimConfig unit;
  // Each reply caused by a send is delivered through the input callback before midiOutLongMsg returns
  // (latency and erase time are then not applied).
  bool answer_before_send_returns = false;
};

// Selects the simulated back-end and starts it afresh: new devices, a new unit, nothing pending. Ports
// still open from before behave as gone. Call it while no send or callback is in progress.
void winmm_use_sim(const SimSetup& setup = SimSetup());

// Runs fn on the unit under the back-end's lock (read or change its state or config at run time).
void sim_with_unit(const std::function<void(SimUnit&)>& fn);
// A copy of the unit's state: received messages, accepted packets, settings, mode.
SimUnit sim_unit_snapshot();
// The unit's devices are gone from now on: sends and midiInStart answer MMSYSERR_NODRIVER, no more input.
void sim_unplug();
bool sim_unplugged();
// Raw bytes arriving on the simulated input SimSetup::inputs[input] (if it is open and present), as if the
// device sent them; delivered on the back-end's timer thread after delay_us.
void sim_inject(int input, const std::vector<uint8_t>& bytes, uint32_t delay_us = 0);
// Waits until every reply and injection that is due within horizon_us from now (by default all that
// are queued) has gone through the input callback or was dropped; returns the number still queued.
int sim_flush(uint32_t horizon_us = UINT32_MAX);
// Messages sent to a simulated output that does not carry the unit, in order.
std::vector<std::vector<uint8_t>> sim_sent_to(int output);
