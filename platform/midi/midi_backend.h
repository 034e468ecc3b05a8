// The narrow interface between the WINMM layer and whatever carries MIDI bytes: the simulated unit, real
// ALSA/JACK ports, Web MIDI. Device numbers are the back-end's own, 0 up to the count minus one, outputs and
// inputs counted separately. Ports are the back-end's small integer ids for open devices. The layer never
// holds its own lock while it calls into a back-end.
//
// Neither side names the other: the layer holds a MidiBackend (chosen by the host that runs the program)
// and gives each open input a MidiSink, through which the back-end hands over what it receives.
#pragma once
#include <chrono>
#include <cstdint>

// The receiving end of one open input, given by the layer to open_input and valid until close_input
// returns. Its functions may be called from any thread of the back-end, never from the input callback.
struct MidiSink {
  void* context;
  // Raw MIDI bytes received now; they may split or join messages in any way.
  void (*arrived)(MidiSink* sink, const uint8_t* bytes, int length);
  // Bytes that the back-end knows will arrive at `at`: the input takes them in at that time, not before,
  // in the order of their times. Handed over a little early, they find the input thread awake when they
  // are due instead of having to wake it then.
  void (*arriving)(MidiSink* sink, const uint8_t* bytes, int length,
                   std::chrono::steady_clock::time_point at);
  // Drops the bytes handed over for a time still to come: the device went away before they arrived.
  void (*withdraw)(MidiSink* sink);
  // Waits until every byte handed over so far has gone through the input callback (or was dropped because
  // the port is stopped or closing); bytes due later are waited for.
  void (*wait_delivered)(MidiSink* sink);
};

struct MidiBackend {
  const char* name;
  int (*output_count)();
  int (*input_count)();
  // Copies the device's name, UTF-8 (at most size-1 bytes and a NUL: the layer cuts it to fit szPname after
  // a whole character, midi_name.h); false for an unknown device.
  bool (*output_name)(int device, char* name, int size);
  bool (*input_name)(int device, char* name, int size);
  // 0 and a port id, or an MMSYSERR_* code (MMSYSERR_ALLOCATED for a port in use).
  int (*open_output)(int device, int* port);
  // 0 when the port is released, MIDIERR_STILLPLAYING while it is busy (the port then stays open).
  int (*close_output)(int port);
  // Sends one whole message. 0, or MMSYSERR_NODRIVER once the device has gone.
  int (*send)(int port, const uint8_t* bytes, int length);
  // Bytes received on the port go to the sink from the moment open_input returns 0 until close_input
  // returns.
  int (*open_input)(int device, MidiSink* sink, int* port);
  void (*close_input)(int port);
  // True once the device behind an open port has been removed.
  bool (*output_gone)(int port);
  bool (*input_gone)(int port);
  // Stops and joins the back-end's own threads; called at process exit and when the layer switches
  // back-ends.
  void (*shutdown)();
};
