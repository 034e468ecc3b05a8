// libFuzzer target: arbitrary bytes arrive on a MIDI input and go through the WINMM layer's input path
// (its thread, parser and buffer queue) into the program's own receiver, on_midi_input, which keeps its
// two 512-byte buffers taking turns and hands every complete message to decode_reply. The tests' back-end
// with one input stands in for a device, and each fuzz input arrives on it as raw bytes.
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

#include "midi/midi.h"
#include "tests/platform/midi_support.h"
#include "timecode/timecode.h"

namespace {

TimecodeReader reader;
uint64_t reader_clock = 0;

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_midi_input: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  winmm_use_backend(&one_input_backend);
  init_port_lock();
  if (open_midi_in(0) != OPEN_IN_OK || !one_input_sink) fail("the input did not open");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  one_input_sink->arrived(one_input_sink, data, static_cast<int>(size));
  one_input_sink->wait_delivered(one_input_sink);
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
