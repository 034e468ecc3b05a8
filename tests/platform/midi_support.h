// Helpers for the WINMM and simulated-unit tests: an input callback that records every event.
#pragma once
#include <windows.h>

#include <mmsystem.h>

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/midi/sim/midi_sim.h"
#include "platform/win32/winmm_ext.h"

struct RecordedEvent {
  UINT msg = 0;
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
  DWORD flags = 0;            // of the returned header, at the time of the callback
  std::vector<uint8_t> data;  // the header's recorded bytes, at the time of the callback
  std::thread::id thread;
};

// Pass as the callback with the recorder as instance data.
struct EventRecorder {
  std::mutex lock;
  std::vector<RecordedEvent> events;

  static void CALLBACK callback(HMIDIIN, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2) {
    auto* self = reinterpret_cast<EventRecorder*>(instance);
    RecordedEvent event{msg, param1, param2, 0, {}, std::this_thread::get_id()};
    if (msg == MIM_LONGDATA || msg == MIM_LONGERROR) {
      const MIDIHDR* header = reinterpret_cast<const MIDIHDR*>(param1);
      event.flags = header->dwFlags;
      event.data.assign(header->lpData, header->lpData + header->dwBytesRecorded);
    }
    std::lock_guard<std::mutex> hold(self->lock);
    self->events.push_back(std::move(event));
  }

  std::vector<RecordedEvent> take() {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<RecordedEvent> taken;
    taken.swap(events);
    return taken;
  }
};

inline MMRESULT open_recorded_input(HMIDIIN* port, UINT device, EventRecorder& recorder) {
  return midiInOpen(port, device, reinterpret_cast<DWORD_PTR>(&EventRecorder::callback),
                    reinterpret_cast<DWORD_PTR>(&recorder), CALLBACK_FUNCTION | MIDI_IO_STATUS);
}

// Sends one message on an open output the way the program does: prepare, long message, unprepare.
inline MMRESULT send_long(HMIDIOUT port, std::vector<uint8_t> bytes) {
  MIDIHDR header{};
  header.lpData = reinterpret_cast<LPSTR>(bytes.data());
  header.dwBufferLength = static_cast<DWORD>(bytes.size());
  MMRESULT result = midiOutPrepareHeader(port, &header, sizeof header);
  if (result != MMSYSERR_NOERROR) return result;
  result = midiOutLongMsg(port, &header, sizeof header);
  midiOutUnprepareHeader(port, &header, sizeof header);
  return result;
}
