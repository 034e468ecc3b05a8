// The simulated back-end: the vexa unit of sim/unit behind MIDI devices of its own, registered with the
// WINMM layer exactly as a real back-end is. Hosts and tests choose its devices and faults here, drive the
// unit and inject raw input.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/midi/midi_backend.h"
#include "sim/unit/unit.h"

// One simulated device (an output or an input).
struct SimPortSetup {
  std::string name;
  bool unit = false;    // carries the vexa unit's traffic (the unit's output or input)
  int open_result = 0;  // non-zero: every open of this device fails with this MMSYSERR_* code
  int close_busy = 0;   // outputs: midiOutClose answers MIDIERR_STILLPLAYING this many times first
};

struct SimSetup {
  std::vector<SimPortSetup> outputs{{"vexa", true}};
  std::vector<SimPortSetup> inputs{{"vexa", true}};
  SimConfig unit;
  // Each reply caused by a send is delivered through the input callback before midiOutLongMsg returns
  // (latency and erase time are then not applied).
  bool answer_before_send_returns = false;
};

// The back-end itself, with the setup it was last started with (by default one unit named "vexa").
const MidiBackend* midi_backend_sim();
// Starts the back-end afresh: new devices, a new unit, nothing pending; returns it for winmm_use_backend.
// Ports still open from before behave as gone. Call it while no send or callback is in progress.
const MidiBackend* sim_start(const SimSetup& setup = SimSetup());

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
