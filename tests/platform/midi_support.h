// Helpers for the WINMM tests and the MIDI input fuzzer: a back-end with one input whose bytes the test
// hands over itself, and an input callback that records every event as a line.
#pragma once
#include <windows.h>

#include <mmsystem.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/midi/midi_backend.h"
#include "platform/win32/winmm_ext.h"

// One device each way; bytes for the input go to one_input_sink while it is open.
inline MidiSink* one_input_sink = nullptr;
inline bool one_name(int, char* name, int size) {
  if (size < 4) return false;
  std::memcpy(name, "one", 4);
  return true;
}
inline int one_open(int, int* port) {
  *port = 1;
  return MMSYSERR_NOERROR;
}
inline const MidiBackend one_input_backend = {
    "one input",
    [] { return 1; },
    [] { return 1; },
    one_name,
    one_name,
    one_open,
    [](int) { return int{MMSYSERR_NOERROR}; },
    [](int, const uint8_t*, int) { return int{MMSYSERR_NOERROR}; },
    [](int device, MidiSink* sink, int* port) {
      one_input_sink = sink;
      return one_open(device, port);
    },
    [](int) { one_input_sink = nullptr; },
    [](int) { return false; },
    [](int) { return false; },
    [] {},
};

// Pass as the callback with the recorder as instance data. Each event is a line: "OPEN", "CLOSE",
// "DATA 7F4090" (the short message), or "LONGDATA 1 prepared+done F0 2C 4D 40 F7" (MIM_LONGDATA or
// MIM_LONGERROR, which of the `headers` it hands back, the header's flags and its recorded bytes, or their
// count past 16); " here" ends the line of an event called back on the thread that made the recorder.
struct EventRecorder {
  static constexpr std::pair<DWORD, const char*> FLAG_NAMES[] = {
      {MHDR_PREPARED, "prepared"}, {MHDR_INQUEUE, "inqueue"}, {MHDR_DONE, "done"}};
  std::vector<const MIDIHDR*> headers;
  std::thread::id here = std::this_thread::get_id();
  std::mutex lock;
  std::vector<std::string> lines;
  std::vector<DWORD_PTR> times;  // param2 of each event

  static void CALLBACK callback(HMIDIIN, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2) {
    auto* self = reinterpret_cast<EventRecorder*>(instance);
    char text[32];
    std::string line = msg == MIM_OPEN    ? "OPEN"
                       : msg == MIM_CLOSE ? "CLOSE"
                       : msg == MIM_DATA  ? "DATA"
                                          : "LONG";
    if (msg == MIM_DATA) {
      std::snprintf(text, sizeof text, " %lX", static_cast<unsigned long>(param1));
      line += text;
    }
    if (msg == MIM_LONGDATA || msg == MIM_LONGERROR) {
      const auto* header = reinterpret_cast<const MIDIHDR*>(param1);
      size_t index = 0;
      while (index < self->headers.size() && self->headers[index] != header) ++index;
      line = (msg == MIM_LONGDATA ? "LONGDATA " : "LONGERROR ") + std::to_string(index + 1);
      const char* separator = " ";
      for (const auto& [flag, name] : FLAG_NAMES) {
        if (!(header->dwFlags & flag)) continue;
        line = line + separator + name;
        separator = "+";
      }
      const DWORD length = header->dwBytesRecorded;
      for (DWORD i = 0; i < length && length <= 16; ++i) {
        std::snprintf(text, sizeof text, " %02X", static_cast<uint8_t>(header->lpData[i]));
        line += text;
      }
      if (length > 16) line += " " + std::to_string(length) + " bytes";
    }
    if (std::this_thread::get_id() == self->here) line += " here";
    std::lock_guard<std::mutex> hold(self->lock);
    self->lines.push_back(line);
    self->times.push_back(param2);
  }

  // The lines since the last call.
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> taken;
    taken.swap(lines);
    return taken;
  }
};

inline MMRESULT open_recorded_input(HMIDIIN* port, UINT device, EventRecorder& recorder) {
  return midiInOpen(port, device, reinterpret_cast<DWORD_PTR>(&EventRecorder::callback),
                    reinterpret_cast<DWORD_PTR>(&recorder), CALLBACK_FUNCTION | MIDI_IO_STATUS);
}
