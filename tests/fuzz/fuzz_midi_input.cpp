// libFuzzer target: arbitrary bytes arrive on a MIDI input and go through the WINMM layer's input path
// (its thread, parser and buffer queue) into the program's own receiver, on_midi_input, which keeps its
// two 512-byte buffers taking turns and hands every complete message to decode_reply. A small back-end
// with one input and one output stands in for a device and injects each fuzz input as raw bytes.
//
// Each input starts from a fresh parser: after the bytes have been delivered the input is stopped (a
// buffer holding part of a message comes back through the callback) and started again. The time code
// reader takes the same bytes, in pieces of three whose times come from the bytes, across inputs: what it
// shows is always a valid time.
#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "midi/midi.h"
#include "platform/midi/midi_backend.h"
#include "platform/win32/winmm_ext.h"
#include "timecode/timecode.h"

namespace {

TimecodeReader reader;
uint64_t reader_clock = 0;

MidiSink* input_sink = nullptr;

int one_device() { return 1; }

bool device_name(int device, char* name, int size) {
  if (device != 0 || size < 5) return false;
  std::memcpy(name, "fuzz", 5);
  return true;
}

int open_output(int device, int* port) {
  *port = 1;
  return device == 0 ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}

int close_output(int) { return MMSYSERR_NOERROR; }
int send(int, const uint8_t*, int) { return MMSYSERR_NOERROR; }

int open_input(int device, MidiSink* sink, int* port) {
  if (device != 0) return MMSYSERR_BADDEVICEID;
  input_sink = sink;
  *port = 2;
  return MMSYSERR_NOERROR;
}

void close_input(int) { input_sink = nullptr; }
bool never_gone(int) { return false; }
void no_threads() {}

const MidiBackend fuzz_backend = {"fuzz",      one_device,   one_device, device_name, device_name,
                                  open_output, close_output, send,       open_input,  close_input,
                                  never_gone,  never_gone,   no_threads};

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_midi_input: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  winmm_use_backend(&fuzz_backend);
  init_port_lock();
  if (open_midi_in(0) != OPEN_IN_OK || !input_sink) fail("the input did not open");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  input_sink->arrived(input_sink, data, static_cast<int>(size));
  input_sink->wait_delivered(input_sink);
  const HMIDIIN port = midi_in_port.load();
  if (midiInStop(port) != MMSYSERR_NOERROR || midiInStart(port) != MMSYSERR_NOERROR)
    fail("stop/start failed");
  // The receiver keeps exactly the platform's share of the buffers: at least one is always queued.
  if (!((rx_header_1.dwFlags | rx_header_2.dwFlags) & MHDR_INQUEUE)) fail("no receive buffer left queued");
  if (rx_header_1.dwBytesRecorded > RX_BUFFER_SIZE || rx_header_2.dwBytesRecorded > RX_BUFFER_SIZE) {
    fail("a buffer recorded more than its length");
  }
  for (size_t at = 0; at < size; at += 3) {
    reader_clock += data[at] * 100u;
    timecode_feed(reader, data + at, static_cast<int>(std::min<size_t>(3, size - at)), reader_clock);
  }
  const TimecodeShown shown = timecode_shown(reader);
  if (shown.has_time && !timecode_valid(shown.time)) fail("the reader shows a time that is not valid");
  return 0;
}
