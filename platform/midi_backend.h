// The narrow interface between the WINMM layer (winmm.cpp) and whatever carries MIDI bytes on Linux: the
// simulated unit (midi_sim.cpp) or real ALSA/JACK ports (midi_rtmidi.cpp). Device numbers are the back-end's
// own, 0 up to the count minus one, outputs and inputs counted separately. Ports are the back-end's small
// integer ids for open devices. The layer never holds its own lock while it calls into a back-end.
#pragma once
#include <chrono>
#include <cstdint>

struct MidiBackend {
  const char* name;
  int (*output_count)();
  int (*input_count)();
  // Copies the device's name (at most size-1 characters and a NUL); false for an unknown device.
  bool (*output_name)(int device, char* name, int size);
  bool (*input_name)(int device, char* name, int size);
  // 0 and a port id, or an MMSYSERR_* code (MMSYSERR_ALLOCATED for a port in use).
  int (*open_output)(int device, int* port);
  // 0 when the port is released, MIDIERR_STILLPLAYING while it is busy (the port then stays open).
  int (*close_output)(int port);
  // Sends one whole message. 0, or MMSYSERR_NODRIVER once the device has gone.
  int (*send)(int port, const uint8_t* bytes, int length);
  // Bytes received on the port go to midi_input_arrived(sink, ...) from any thread of the back-end,
  // from the moment open_input returns 0 until close_input returns.
  int (*open_input)(int device, void* sink, int* port);
  void (*close_input)(int port);
  // True once the device behind an open port has been removed.
  bool (*output_gone)(int port);
  bool (*input_gone)(int port);
  // Stops and joins the back-end's own threads; called at process exit and when tests switch back-ends.
  void (*shutdown)();
};

// Provided by the layer for the back-ends.
// Raw MIDI bytes received on an input; they may split or join messages in any way.
void midi_input_arrived(void* sink, const uint8_t* bytes, int length);
// Bytes that a back-end knows will arrive at `at`: the input takes them in at that time, not before, in
// the order of their times. Handed over a little early, they find the input thread awake when they are due
// instead of having to wake it then.
void midi_input_arriving(void* sink, const uint8_t* bytes, int length, std::chrono::steady_clock::time_point at);
// Drops the bytes handed over for a time still to come: the device went away before they arrived.
void midi_input_withdraw(void* sink);
// Waits until every byte handed over so far has gone through the input callback (or was dropped because
// the port is stopped or closing); bytes due later are waited for. Never call it from the input callback.
void midi_input_wait_delivered(void* sink);

// The back-ends.
const MidiBackend* midi_backend_sim();
// ALSA or JACK through RtMidi: built only when cmake/rtmidi.cmake adds midi_rtmidi.cpp to vexa_platform and
// defines VEXA_HAVE_RTMIDI there. api is "alsa" or "jack"; null when that API is not available.
const MidiBackend* midi_backend_rtmidi(const char* api);
// No devices at all.
const MidiBackend* midi_backend_none();
