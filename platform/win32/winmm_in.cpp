// WINMM for Linux: MIDI inputs, as the application calls them. What the input thread does with the bytes
// is in winmm_receive.cpp.
//
// - midiInAddBuffer checks, in this order: zero length or short size (INVALPARAM), queued (65),
//   unprepared (64), device gone (NODRIVER); then it clears DONE, sets INQUEUE, zeroes dwBytesRecorded and
//   appends the header to a first-in first-out queue.
// - midiInStart on a started input returns 0 and does nothing. midiInStop returns the buffer that holds part
//   of a message with DONE and its true byte count; empty buffers stay queued. midiInReset also hands every
//   queued buffer back as MIM_LONGDATA with DONE set and INQUEUE cleared. Both first wait until the input
//   thread is out of the callback, then run their callbacks on the caller's thread.
// - midiInClose with buffers queued answers 65; otherwise it waits for a callback in progress to return,
//   joins the input thread, and no callback runs after it returns.
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/winmm_internal.h"

namespace {

// Room reserved in an input's queues when it opens; they grow beyond it if ever needed.
constexpr size_t PENDING_RESERVE = 1024;
constexpr size_t EVENTS_RESERVE = 64;
constexpr size_t BUFFERS_RESERVE = 16;

bool in_queue(InputPort& port, const MIDIHDR* header) {
  for (size_t i = 0; i < port.queue.size(); ++i) {
    if (port.queue[i] == header) return true;
  }
  return false;
}

}  // namespace

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                           DWORD fdwOpen) {
  log_call("midiInOpen");
  if (!phmi) return MMSYSERR_INVALPARAM;
  *phmi = nullptr;
  const MidiBackend* used = current_backend();
  if (uDeviceID >= static_cast<UINT>(used->input_count())) return MMSYSERR_BADDEVICEID;
  if (bad_open_flags(fdwOpen)) return MMSYSERR_INVALFLAG;
  auto* port = new InputPort;
  port->pending.reserve(PENDING_RESERVE);
  port->ready.reserve(EVENTS_RESERVE);
  port->queue.reserve(BUFFERS_RESERVE);
  if ((fdwOpen & CALLBACK_TYPEMASK) == CALLBACK_FUNCTION)
    port->callback = reinterpret_cast<LPMIDIINCALLBACK>(dwCallback);
  port->instance = dwInstance;
  port->sink = receive_sink(port);
  const int opened = used->open_input(static_cast<int>(uDeviceID), &port->sink, &port->backend_port);
  if (opened != MMSYSERR_NOERROR) {
    delete port;
    return static_cast<MMRESULT>(opened);
  }
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    port->id = new_handle();
    inputs[port->id] = port;
    port->thread = std::thread(input_thread, port);
    port->thread_id = port->thread.get_id();
  }
  *phmi = reinterpret_cast<HMIDIIN>(port->id);
  call_input(port, MIM_OPEN, 0, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInClose(HMIDIIN hmi) {
  log_call("midiInClose");
  const MidiBackend* used = current_backend();
  InputPort* port = nullptr;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    port = find_input(hmi);
    if (!port) return MMSYSERR_INVALHANDLE;
    if (!port->queue.empty()) return MIDIERR_STILLPLAYING;
    port->closing = true;
    port->started = false;
    inputs.erase(port->id);
    port->wake.notify_all();
    port->idle.notify_all();
  }
  used->close_input(port->backend_port);
  end_input_thread(port);
  call_input(port, MIM_CLOSE, 0, 0);
  if (!port->self_delete) delete port;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
  log_call("midiInPrepareHeader");
  std::lock_guard<std::mutex> hold(layer_lock);
  if (!find_input(hmi)) return MMSYSERR_INVALHANDLE;
  if (bad_header(pmh, cbmh)) return MMSYSERR_INVALPARAM;
  if (fault_due(input_faults.prepare_fails_at)) return MMSYSERR_NOMEM;
  prepare(pmh);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
  log_call("midiInUnprepareHeader");
  std::lock_guard<std::mutex> hold(layer_lock);
  if (!find_input(hmi)) return MMSYSERR_INVALHANDLE;
  if (bad_header(pmh, cbmh)) return MMSYSERR_INVALPARAM;
  return unprepare(pmh);
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
  log_call("midiInAddBuffer");
  const MidiBackend* used = current_backend();
  int backend_port = -1;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    InputPort* port = find_input(hmi);
    if (!port) return MMSYSERR_INVALHANDLE;
    if (bad_header(pmh, cbmh) || pmh->dwBufferLength == 0 || !pmh->lpData) return MMSYSERR_INVALPARAM;
    if (flags_of(pmh) & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    if (!(flags_of(pmh) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (fault_due(input_faults.add_buffer_fails_at)) return MMSYSERR_NOMEM;
    backend_port = port->backend_port;
  }
  if (used->input_gone(backend_port)) return MMSYSERR_NODRIVER;
  std::lock_guard<std::mutex> hold(layer_lock);
  InputPort* port = find_input(hmi);
  if (!port) return MMSYSERR_INVALHANDLE;
  // A header whose flags the application cleared may still sit in the queue: never queue it twice.
  if ((flags_of(pmh) & MHDR_INQUEUE) || in_queue(*port, pmh)) return MIDIERR_STILLPLAYING;
  clear_flags(pmh, MHDR_DONE);
  set_flags(pmh, MHDR_INQUEUE);
  pmh->dwBytesRecorded = 0;
  port->queue.push_back(pmh);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStart(HMIDIIN hmi) {
  log_call("midiInStart");
  const MidiBackend* used = current_backend();
  int backend_port = -1;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    InputPort* port = find_input(hmi);
    if (!port) return MMSYSERR_INVALHANDLE;
    if (fault_due(input_faults.start_fails_at)) return MMSYSERR_NOMEM;
    backend_port = port->backend_port;
  }
  if (used->input_gone(backend_port)) return MMSYSERR_NODRIVER;
  std::lock_guard<std::mutex> hold(layer_lock);
  InputPort* port = find_input(hmi);
  if (!port) return MMSYSERR_INVALHANDLE;
  if (port->started) return MMSYSERR_NOERROR;
  reset_parser(*port);
  port->start_time = Clock::now();
  port->started = true;
  return MMSYSERR_NOERROR;
}

namespace {

// Stops the input; with all_buffers every queued buffer comes back, otherwise only one holding part of a
// message. The buffers come back through the callback on the caller's thread.
MMRESULT stop_input(HMIDIIN hmi, bool all_buffers) {
  std::vector<MIDIHDR*> returned;
  InputPort* port = nullptr;
  DWORD time = 0;
  {
    std::unique_lock<std::mutex> hold(layer_lock);
    port = find_input(hmi);
    if (!port) return MMSYSERR_INVALHANDLE;
    quiesce_input(*port, hold);
    if (port->sysex == Sysex::Recording && port->queue.front()->dwBytesRecorded > 0) {
      returned.push_back(take_first_buffer(*port));
    }
    reset_parser(*port);
    while (all_buffers && !port->queue.empty()) returned.push_back(take_first_buffer(*port));
    time = since_start(*port, Clock::now());
  }
  for (MIDIHDR* header : returned) call_input(port, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), time);
  return MMSYSERR_NOERROR;
}

}  // namespace

MMRESULT WINAPI midiInStop(HMIDIIN hmi) {
  log_call("midiInStop");
  return stop_input(hmi, false);
}

MMRESULT WINAPI midiInReset(HMIDIIN hmi) {
  log_call("midiInReset");
  return stop_input(hmi, true);
}
