// WINMM MIDI for Linux, over a narrow back-end (platform/midi/midi_backend.h) that the host chooses.
//
// What is modelled, as applications see it on Windows:
// - Handles are opaque numbers that are never reused; every call looks them up in a table, so a null,
//   closed or foreign handle answers MMSYSERR_INVALHANDLE and no stale pointer is followed.
// - Headers: a size below offsetof(MIDIHDR, dwOffset) or a null header is MMSYSERR_INVALPARAM and leaves
//   the flags alone. Prepare sets MHDR_PREPARED and clears DONE and INQUEUE; preparing again changes
//   nothing. Unprepare of a queued header answers MIDIERR_STILLPLAYING, of an unprepared one 0 with nothing
//   changed, otherwise it clears PREPARED only. The state of a header is read from its dwFlags, as Windows
//   does: an application that zeroes dwFlags has made the header unprepared. The layer touches no other
//   field than dwFlags and dwBytesRecorded (dwUser, lpNext, reserved, dwOffset, dwReserved stay as set).
// - midiInAddBuffer checks, in this order: zero length or short size (INVALPARAM), queued (65),
//   unprepared (64), device gone (NODRIVER); then it clears DONE, sets INQUEUE, zeroes dwBytesRecorded and
//   appends the header to a first-in first-out queue.
// - Input runs on one thread of the layer per open input, which parses the bytes arriving from the back-end
//   and calls the callback one event at a time: MIM_DATA for short messages and realtime bytes (param1 =
//   status | data1 << 8 | data2 << 16, param2 = ms since midiInStart); SysEx goes into the queue's first
//   buffer and comes back as MIM_LONGDATA when its F7 is stored or when the buffer is full (the first part
//   without F7; the message goes on in the buffer queued when its next byte is parsed, which is after the
//   callback of the full one has returned); a SysEx that starts with no buffer queued, or finds none to go
//   on in, is dropped to its end without a word; a status byte other than realtime inside a SysEx hands
//   the buffer back as MIM_LONGERROR; realtime bytes inside a SysEx are delivered as MIM_DATA and do not
//   break it. Stray data bytes without a status are dropped (no MIM_ERROR), and
//   MIM_MOREDATA is never sent. Bytes that arrive while the input is stopped are dropped.
// - midiInStart on a started input returns 0 and does nothing. midiInStop returns the buffer that holds part
//   of a message with DONE and its true byte count; empty buffers stay queued. midiInReset also hands every
//   queued buffer back as MIM_LONGDATA with DONE set and INQUEUE cleared. Both first wait until the input
//   thread is out of the callback, then run their callbacks on the caller's thread.
// - MIM_OPEN and MIM_CLOSE (MOM_OPEN, MOM_CLOSE, MOM_DONE for outputs opened with a function) are called on
//   the caller's thread inside open and close. midiInClose with buffers queued answers 65; otherwise it waits
//   for a callback in progress to return, joins the input thread, and no callback runs after it returns.
// - A device that went away answers MMSYSERR_NODRIVER to sends, midiInStart and midiInAddBuffer; stop,
//   reset, unprepare and close still work so that the application can close.
// - Output is synchronous, like the usual drivers: midiOutLongMsg hands the bytes to the back-end, sets
//   DONE and returns. midiOutClose answers 65 while a long message is being sent (or while the back-end
//   reports the port busy); midiOutReset has nothing pending to return and sends nothing.
// - Only CALLBACK_NULL and CALLBACK_FUNCTION are supported; other callback kinds answer MMSYSERR_INVALFLAG.
// - Bytes that a back-end knows to be due later (MidiSink::arriving) wait in the input's queue until
//   their time; the input thread sleeps until shortly before it and spins the rest, so that the callback
//   comes on time.
// - timeBeginPeriod/timeEndPeriod are counted; between them the calling thread's timers run without slack
//   (see below). timeGetTime counts milliseconds of a monotonic clock.
// - Until the host chooses a back-end (winmm_use_backend), there are no devices.
// Hosts and tests reach the back-end choice, faults, a log of the calls and a hook on them through
// winmm_ext.h.
#include <mmsystem.h>

#ifndef __EMSCRIPTEN__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/midi/midi_backend.h"
#include "platform/midi/midi_name.h"
#include "platform/win32/fifo.h"
#include "platform/win32/winmm_ext.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t MIN_HEADER_SIZE = offsetof(MIDIHDR, dwOffset);
constexpr DWORD ALLOWED_OPEN_FLAGS = CALLBACK_TYPEMASK | MIDI_IO_STATUS;
// An input thread waiting for bytes due at a known time sleeps until this long before it, then spins: a
// wake-up from sleep can come late by about this much.
constexpr auto ARRIVAL_SPIN = std::chrono::microseconds(100);
// Room reserved in an input's queues when it opens; they grow beyond it if ever needed.
constexpr size_t PENDING_RESERVE = 1024;
constexpr size_t EVENTS_RESERVE = 64;
constexpr size_t BUFFERS_RESERVE = 16;

struct Event {
  UINT msg;
  DWORD_PTR param1;
  DWORD_PTR param2;
};

// Recording: bytes go into the first queued buffer. Between: a buffer filled up and the message goes on
// in whatever buffer is queued when its next byte comes (the callback of the full one may queue one).
enum class Sysex : uint8_t { None, Recording, Between, Dropping };

struct InputPort {
  MidiSink sink{};  // what the back-end hands its bytes to; context points back at the port
  uintptr_t id = 0;
  int backend_port = -1;
  LPMIDIINCALLBACK callback = nullptr;
  DWORD_PTR instance = 0;
  Fifo<MIDIHDR*> queue;
  bool started = false;
  Clock::time_point start_time;

  // Parser state.
  Sysex sysex = Sysex::None;
  DWORD sysex_time = 0;
  uint8_t running_status = 0;
  uint8_t short_status = 0;
  uint8_t short_data[2] = {};
  int short_have = 0;

  // Bytes from the back-end waiting for the input thread, and events ready for the callback.
  Fifo<std::pair<uint8_t, Clock::time_point>> pending;
  Fifo<Event> ready;
  uint64_t arrived = 0;   // bytes accepted from the back-end
  uint64_t consumed = 0;  // bytes taken off `pending` (parsed or dropped)
  uint64_t handled = 0;   // bytes whose events have all been through the callback

  bool closing = false;
  bool in_callback = false;
  bool self_delete = false;  // closed from its own callback: the thread frees the port when it ends
  std::thread thread;
  std::thread::id thread_id;
  std::condition_variable wake;  // the input thread: something to do
  std::condition_variable idle;  // waiters: a callback finished, bytes handled
};

struct OutputPort {
  uintptr_t id = 0;
  int backend_port = -1;
  LPDRVCALLBACK callback = nullptr;
  DWORD_PTR instance = 0;
  int sending = 0;
  bool closing = false;
};

std::mutex layer_lock;
const MidiBackend* backend = nullptr;
std::map<uintptr_t, InputPort*> inputs;
std::map<uintptr_t, OutputPort*> outputs;
uintptr_t next_handle = 0x1000;
std::atomic<int> time_begin_calls{0};
std::atomic<int> time_end_calls{0};
WinmmOutputFaults output_faults;  // guarded by layer_lock
WinmmInputFaults input_faults;    // guarded by layer_lock
std::atomic<void (*)(const char*)> call_hook{nullptr};

std::mutex calls_lock;
bool recording_calls = false;
std::vector<std::string> calls;
thread_local bool on_input_thread = false;
// Linux timers are fine-grained already, but a sleeping thread may wake up to its timer slack (50 us by
// default) late: 5 % on every 1 ms pause. Raising the resolution takes the slack of the calling thread
// away until its matching timeEndPeriod.
thread_local int raised_periods = 0;

void log_call(const char* name) {
  if (on_input_thread) return;
  if (void (*hook)(const char*) = call_hook.load()) hook(name);
  std::lock_guard<std::mutex> hold(calls_lock);
  if (recording_calls) calls.emplace_back(name);
}

// Counts a call down towards its fault; true for the call that is to fail. Under layer_lock.
bool fault_due(int& calls_left) { return calls_left > 0 && --calls_left == 0; }

int none_count() { return 0; }
bool none_name(int, char*, int) { return false; }
int none_open(int, int*) { return MMSYSERR_BADDEVICEID; }
int none_close(int) { return MMSYSERR_NOERROR; }
int none_send(int, const uint8_t*, int) { return MMSYSERR_NODRIVER; }
int none_open_input(int, MidiSink*, int*) { return MMSYSERR_BADDEVICEID; }
void none_close_input(int) {}
bool none_gone(int) { return true; }
void none_shutdown() {}

const MidiBackend none_backend = {"none",    none_count, none_count,   none_name,       none_name,
                                  none_open, none_close, none_send,    none_open_input, none_close_input,
                                  none_gone, none_gone,  none_shutdown};

const MidiBackend* current_backend() {
  std::lock_guard<std::mutex> hold(layer_lock);
  if (!backend) backend = &none_backend;
  return backend;
}

// A device's name as szPname holds it: at most MAXPNAMELEN - 1 bytes and a NUL, cut after a whole character.
// The back-end copies one byte more than fits, so that a cut inside a character can be seen.
bool device_name(bool (*name_of)(int, char*, int), UINT_PTR device, char (&field)[MAXPNAMELEN]) {
  char name[MAXPNAMELEN + 1];
  if (!name_of(static_cast<int>(device), name, sizeof name)) return false;
  const size_t length = midi_name_fit(name, std::strlen(name), MAXPNAMELEN - 1);
  std::memcpy(field, name, length);
  field[length] = '\0';
  return true;
}

uintptr_t new_handle() {
  next_handle += 4;
  return next_handle;
}

InputPort* find_input(HMIDIIN handle) {
  const auto found = inputs.find(reinterpret_cast<uintptr_t>(handle));
  return found == inputs.end() ? nullptr : found->second;
}

OutputPort* find_output(HMIDIOUT handle) {
  const auto found = outputs.find(reinterpret_cast<uintptr_t>(handle));
  return found == outputs.end() ? nullptr : found->second;
}

// Timer slack of the calling thread in nanoseconds. The browser's Workers have no such setting: their
// timed waits are as precise as they get.
void set_timer_slack(unsigned long ns) {
#ifdef __EMSCRIPTEN__
  (void)ns;
#else
  prctl(PR_SET_TIMERSLACK, ns, 0UL, 0UL, 0UL);
#endif
}

bool bad_header(const MIDIHDR* header, UINT size) { return !header || size < MIN_HEADER_SIZE; }

// The flag word belongs to the application as much as to the layer: an application may clear it while
// the input thread is handing the header back. The layer therefore reads and changes it atomically, and
// an application that writes it while the input runs can do so through std::atomic_ref as well.
DWORD flags_of(MIDIHDR* header) { return std::atomic_ref<DWORD>(header->dwFlags).load(); }
void set_flags(MIDIHDR* header, DWORD bits) { std::atomic_ref<DWORD>(header->dwFlags).fetch_or(bits); }
void clear_flags(MIDIHDR* header, DWORD bits) { std::atomic_ref<DWORD>(header->dwFlags).fetch_and(~bits); }

// Prepare: PREPARED set, DONE and INQUEUE cleared; a prepared header stays as it is.
void prepare(MIDIHDR* header) {
  if (flags_of(header) & MHDR_PREPARED) return;
  clear_flags(header, MHDR_DONE | MHDR_INQUEUE);
  set_flags(header, MHDR_PREPARED);
}

// Unprepare: 65 for a queued header; otherwise PREPARED cleared (nothing to do for an unprepared one).
MMRESULT unprepare(MIDIHDR* header) {
  const DWORD flags = flags_of(header);
  if (!(flags & MHDR_PREPARED)) return MMSYSERR_NOERROR;
  if (flags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  clear_flags(header, MHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

void call_input(const InputPort* port, UINT msg, DWORD_PTR param1, DWORD_PTR param2) {
  if (port->callback)
    port->callback(reinterpret_cast<HMIDIIN>(port->id), msg, port->instance, param1, param2);
}

void call_output(const OutputPort* port, UINT msg, DWORD_PTR param1) {
  if (port->callback) port->callback(reinterpret_cast<HDRVR>(port->id), msg, port->instance, param1, 0);
}

DWORD since_start(const InputPort& port, Clock::time_point when) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - port.start_time).count();
  return ms < 0 ? 0 : static_cast<DWORD>(ms);
}

bool in_queue(InputPort& port, const MIDIHDR* header) {
  for (size_t i = 0; i < port.queue.size(); ++i) {
    if (port.queue[i] == header) return true;
  }
  return false;
}

// Hands the first queued buffer back: out of the queue, DONE set, INQUEUE cleared.
MIDIHDR* take_first_buffer(InputPort& port) {
  MIDIHDR* header = port.queue.front();
  port.queue.pop_front();
  clear_flags(header, MHDR_INQUEUE);
  set_flags(header, MHDR_DONE);
  return header;
}

void finish_sysex(InputPort& port, UINT msg) {
  MIDIHDR* header = take_first_buffer(port);
  port.ready.push_back({msg, reinterpret_cast<DWORD_PTR>(header), port.sysex_time});
  port.sysex = Sysex::None;
}

// Stores a byte of the SysEx in the first queued buffer; the buffer comes back at F7 or when it is full.
// A message that goes on after a full buffer continues in the buffer queued by then, if there is one.
void record_sysex_byte(InputPort& port, uint8_t byte) {
  if (port.sysex == Sysex::Between) port.sysex = port.queue.empty() ? Sysex::Dropping : Sysex::Recording;
  if (port.sysex == Sysex::Dropping) {
    if (byte == 0xF7) port.sysex = Sysex::None;
    return;
  }
  MIDIHDR* header = port.queue.front();
  header->lpData[header->dwBytesRecorded++] = static_cast<char>(byte);
  if (byte == 0xF7) {
    finish_sysex(port, MIM_LONGDATA);
  } else if (header->dwBytesRecorded >= header->dwBufferLength) {
    finish_sysex(port, MIM_LONGDATA);
    port.sysex = Sysex::Between;
  }
}

void start_sysex(InputPort& port, DWORD time) {
  port.sysex_time = time;
  port.sysex = port.queue.empty() ? Sysex::Dropping : Sysex::Recording;
  if (port.sysex == Sysex::Recording) record_sysex_byte(port, 0xF0);
}

int data_bytes_of(uint8_t status) {
  if (status < 0xC0 || (status >= 0xE0 && status < 0xF0) || status == 0xF2) return 2;
  if (status < 0xE0 || status == 0xF1 || status == 0xF3) return 1;
  return 0;
}

// One byte through the MIDI parser; completed events go to port.ready.
void parse_byte(InputPort& port, uint8_t byte, Clock::time_point when) {
  const DWORD time = since_start(port, when);
  if (byte >= 0xF8) {
    port.ready.push_back({MIM_DATA, byte, time});
    return;
  }
  const bool in_sysex = port.sysex == Sysex::Recording || port.sysex == Sysex::Between;
  if (in_sysex && (byte < 0x80 || byte == 0xF7)) {
    record_sysex_byte(port, byte);
    return;
  }
  if (byte == 0xF7) {
    port.sysex = Sysex::None;
    return;
  }
  if (byte >= 0x80) {
    if (port.sysex == Sysex::Recording) finish_sysex(port, MIM_LONGERROR);
    port.sysex = Sysex::None;
    port.short_status = 0;
    port.running_status = byte < 0xF0 ? byte : 0;
    if (byte == 0xF0) {
      start_sysex(port, time);
    } else if (data_bytes_of(byte) == 0) {
      port.ready.push_back({MIM_DATA, byte, time});
    } else {
      port.short_status = byte;
      port.short_have = 0;
    }
    return;
  }
  if (port.sysex == Sysex::Dropping) return;
  if (!port.short_status) {
    if (!port.running_status) return;
    port.short_status = port.running_status;
    port.short_have = 0;
  }
  port.short_data[port.short_have++] = byte;
  if (port.short_have == data_bytes_of(port.short_status)) {
    const DWORD_PTR second = port.short_have == 2 ? port.short_data[1] << 16 : 0;
    const DWORD_PTR message = port.short_status | port.short_data[0] << 8 | second;
    port.ready.push_back({MIM_DATA, message, time});
    port.short_status = 0;
  }
}

void reverse_pending(InputPort& port, size_t first, size_t last) {
  while (first + 1 < last) std::swap(port.pending[first++], port.pending[--last]);
}

// Bytes due at `at` go behind every pending byte due no later, and before those due later: a reply handed
// over early for its due time does not hold back bytes that arrive before it.
void add_pending(InputPort& port, const uint8_t* bytes, int length, Clock::time_point at) {
  size_t later = 0;
  while (later < port.pending.size() && port.pending[port.pending.size() - 1 - later].second > at) ++later;
  for (int i = 0; i < length; ++i) port.pending.push_back({bytes[i], at});
  if (later == 0) return;
  const size_t end = port.pending.size();
  const size_t start = end - later - static_cast<size_t>(length);
  reverse_pending(port, start, start + later);
  reverse_pending(port, start + later, end);
  reverse_pending(port, start, end);
}

void reset_parser(InputPort& port) {
  port.sysex = Sysex::None;
  port.running_status = 0;
  port.short_status = 0;
  port.short_have = 0;
}

// Waits for the time at which the first pending byte arrives: asleep until shortly before it, then
// spinning, so that its callback comes on time. New bytes, a stop or a close end the sleep early. The spin
// does not yield: a thread that yields on a busy machine loses its turn for a whole time slice, while one
// that wakes from sleep is run at once.
void await_arrival(InputPort* port, std::unique_lock<std::mutex>& hold, Clock::time_point at) {
  if (Clock::now() < at - ARRIVAL_SPIN) {
    port->wake.wait_until(hold, at - ARRIVAL_SPIN);
    return;
  }
  hold.unlock();
  while (Clock::now() < at) {
  }
  hold.lock();
}

void input_thread(InputPort* port) {
  set_timer_slack(1);
  on_input_thread = true;
  std::unique_lock<std::mutex> hold(layer_lock);
  for (;;) {
    port->wake.wait(hold, [port] {
      return port->closing || !port->ready.empty() || (port->started && !port->pending.empty());
    });
    if (port->closing) break;
    if (port->ready.empty() && port->started && !port->pending.empty()) {
      const Clock::time_point first = port->pending.front().second;
      if (Clock::now() < first) {
        await_arrival(port, hold, first);
        continue;
      }
    }
    const Clock::time_point now = Clock::now();
    while (port->ready.empty() && port->started && !port->pending.empty() &&
           port->pending.front().second <= now) {
      const auto [byte, when] = port->pending.front();
      port->pending.pop_front();
      ++port->consumed;
      parse_byte(*port, byte, when);
    }
    if (!port->ready.empty()) {
      const Event event = port->ready.front();
      port->ready.pop_front();
      port->in_callback = true;
      hold.unlock();
      call_input(port, event.msg, event.param1, event.param2);
      hold.lock();
      port->in_callback = false;
    }
    if (port->ready.empty()) port->handled = port->consumed;
    port->idle.notify_all();
  }
  const bool self_delete = port->self_delete;
  hold.unlock();
  if (self_delete) delete port;
}

// Stops the input and waits until the input thread has delivered the events already made and is out of
// the callback (not when called from that callback itself).
void quiesce_input(InputPort& port, std::unique_lock<std::mutex>& hold) {
  port.started = false;
  port.consumed += port.pending.size();
  port.pending.clear();
  port.wake.notify_all();
  if (std::this_thread::get_id() != port.thread_id) {
    port.idle.wait(hold, [&port] { return port.ready.empty() && !port.in_callback; });
  }
  port.handled = port.consumed;
  port.idle.notify_all();
}

// Ends the input's own thread; the port is then only the caller's.
void end_input_thread(InputPort* port) {
  if (std::this_thread::get_id() == port->thread_id) {
    std::lock_guard<std::mutex> hold(layer_lock);
    port->self_delete = true;
    port->thread.detach();
    return;
  }
  port->thread.join();
}

void sink_arriving(MidiSink* sink, const uint8_t* bytes, int length, Clock::time_point at) {
  if (length <= 0) return;
  InputPort* port = static_cast<InputPort*>(sink->context);
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    if (port->closing || !port->started) return;
    add_pending(*port, bytes, length, at);
    port->arrived += static_cast<uint64_t>(length);
  }
  // Notified after the lock is released, so that the input thread does not wake into a held lock. The
  // port stays open meanwhile: close_input of the back-end waits for this call to return.
  port->wake.notify_all();
}

void sink_arrived(MidiSink* sink, const uint8_t* bytes, int length) {
  sink_arriving(sink, bytes, length, Clock::now());
}

void sink_withdraw(MidiSink* sink) {
  std::lock_guard<std::mutex> hold(layer_lock);
  InputPort* port = static_cast<InputPort*>(sink->context);
  const Clock::time_point now = Clock::now();
  port->consumed += erase_if(port->pending, [now](const auto& pending) { return pending.second > now; });
  // With no event waiting and no callback running, every byte taken so far has been handled.
  if (port->ready.empty() && !port->in_callback) port->handled = port->consumed;
  port->idle.notify_all();
}

void sink_wait_delivered(MidiSink* sink) {
  std::unique_lock<std::mutex> hold(layer_lock);
  InputPort* port = static_cast<InputPort*>(sink->context);
  const uint64_t target = port->arrived;
  port->idle.wait(hold,
                  [port, target] { return port->closing || !port->started || port->handled >= target; });
}

void close_everything_at_exit() {
  std::vector<InputPort*> open_inputs;
  std::vector<OutputPort*> open_outputs;
  const MidiBackend* used = nullptr;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    used = backend;
    for (auto& [id, port] : inputs) {
      port->closing = true;
      port->wake.notify_all();
      port->idle.notify_all();
      open_inputs.push_back(port);
    }
    for (auto& [id, port] : outputs) open_outputs.push_back(port);
    inputs.clear();
    outputs.clear();
  }
  for (InputPort* port : open_inputs) {
    if (used) used->close_input(port->backend_port);
    end_input_thread(port);
    if (!port->self_delete) delete port;
  }
  for (OutputPort* port : open_outputs) {
    if (used) used->close_output(port->backend_port);
    delete port;
  }
  if (used) used->shutdown();
}

// Joins the layer's threads and the back-end's when the process ends.
struct ExitGuard {
  ~ExitGuard() { close_everything_at_exit(); }
} exit_guard;

}  // namespace

const MidiBackend* midi_backend_none() { return &none_backend; }

void winmm_use_backend(const MidiBackend* chosen) {
  const MidiBackend* old = nullptr;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    old = backend;
    backend = chosen ? chosen : &none_backend;
    output_faults = WinmmOutputFaults();
    input_faults = WinmmInputFaults();
  }
  if (old && old != backend) old->shutdown();
}

const MidiBackend* winmm_backend() { return current_backend(); }

void winmm_set_output_faults(const WinmmOutputFaults& faults) {
  std::lock_guard<std::mutex> hold(layer_lock);
  output_faults = faults;
}

void winmm_set_input_faults(const WinmmInputFaults& faults) {
  std::lock_guard<std::mutex> hold(layer_lock);
  input_faults = faults;
}

void winmm_set_call_hook(void (*hook)(const char* name)) { call_hook.store(hook); }

std::vector<std::string> winmm_calls() {
  std::lock_guard<std::mutex> hold(calls_lock);
  return calls;
}

void winmm_clear_calls() {
  std::lock_guard<std::mutex> hold(calls_lock);
  recording_calls = true;
  calls.clear();
}

int winmm_time_begin_calls() { return time_begin_calls.load(); }
int winmm_time_end_calls() { return time_end_calls.load(); }

// ---- Outputs ----

UINT WINAPI midiOutGetNumDevs(void) {
  log_call("midiOutGetNumDevs");
  return static_cast<UINT>(current_backend()->output_count());
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
  log_call("midiOutGetDevCapsA");
  const MidiBackend* used = current_backend();
  if (uDeviceID >= static_cast<UINT_PTR>(used->output_count())) return MMSYSERR_BADDEVICEID;
  if (!pmoc) return MMSYSERR_INVALPARAM;
  MIDIOUTCAPSA caps{};
  caps.wMid = 0xFFFF;
  caps.wPid = 0xFFFF;
  caps.vDriverVersion = 0x0100;
  if (!device_name(used->output_name, uDeviceID, caps.szPname)) return MMSYSERR_BADDEVICEID;
  caps.wTechnology = MOD_MIDI;
  caps.wChannelMask = 0xFFFF;
  std::memcpy(pmoc, &caps, cbmoc < sizeof(caps) ? cbmoc : sizeof(caps));
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                            DWORD fdwOpen) {
  log_call("midiOutOpen");
  if (!phmo) return MMSYSERR_INVALPARAM;
  *phmo = nullptr;
  const MidiBackend* used = current_backend();
  if (uDeviceID >= static_cast<UINT>(used->output_count())) return MMSYSERR_BADDEVICEID;
  const DWORD kind = fdwOpen & CALLBACK_TYPEMASK;
  if ((fdwOpen & ~ALLOWED_OPEN_FLAGS) || (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION)) {
    return MMSYSERR_INVALFLAG;
  }
  int backend_port = -1;
  const int opened = used->open_output(static_cast<int>(uDeviceID), &backend_port);
  if (opened != MMSYSERR_NOERROR) return static_cast<MMRESULT>(opened);
  auto* port = new OutputPort;
  port->backend_port = backend_port;
  if (kind == CALLBACK_FUNCTION) port->callback = reinterpret_cast<LPDRVCALLBACK>(dwCallback);
  port->instance = dwInstance;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    port->id = new_handle();
    outputs[port->id] = port;
  }
  *phmo = reinterpret_cast<HMIDIOUT>(port->id);
  call_output(port, MOM_OPEN, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
  log_call("midiOutClose");
  const MidiBackend* used = current_backend();
  OutputPort* port = nullptr;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    port = find_output(hmo);
    if (!port || port->closing) return MMSYSERR_INVALHANDLE;
    if (port->sending) return MIDIERR_STILLPLAYING;
    port->closing = true;
  }
  const int closed = used->close_output(port->backend_port);
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    if (closed != MMSYSERR_NOERROR) {
      port->closing = false;
      return static_cast<MMRESULT>(closed);
    }
    outputs.erase(port->id);
  }
  call_output(port, MOM_CLOSE, 0);
  delete port;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo) {
  log_call("midiOutReset");
  std::lock_guard<std::mutex> hold(layer_lock);
  return find_output(hmo) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
  log_call("midiOutPrepareHeader");
  std::lock_guard<std::mutex> hold(layer_lock);
  if (!find_output(hmo)) return MMSYSERR_INVALHANDLE;
  if (bad_header(pmh, cbmh)) return MMSYSERR_INVALPARAM;
  if (output_faults.prepare_result != MMSYSERR_NOERROR) return output_faults.prepare_result;
  prepare(pmh);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
  log_call("midiOutUnprepareHeader");
  std::lock_guard<std::mutex> hold(layer_lock);
  if (!find_output(hmo)) return MMSYSERR_INVALHANDLE;
  if (bad_header(pmh, cbmh)) return MMSYSERR_INVALPARAM;
  if ((flags_of(pmh) & (MHDR_PREPARED | MHDR_INQUEUE)) == MHDR_PREPARED && output_faults.unprepare_busy > 0) {
    --output_faults.unprepare_busy;
    return MIDIERR_STILLPLAYING;
  }
  return unprepare(pmh);
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
  log_call("midiOutLongMsg");
  const MidiBackend* used = current_backend();
  OutputPort* port = nullptr;
  bool never_done = false;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    port = find_output(hmo);
    if (!port || port->closing) return MMSYSERR_INVALHANDLE;
    if (bad_header(pmh, cbmh) || (!pmh->lpData && pmh->dwBufferLength)) return MMSYSERR_INVALPARAM;
    if (!(flags_of(pmh) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (flags_of(pmh) & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    if (output_faults.long_msg_result != MMSYSERR_NOERROR) return output_faults.long_msg_result;
    clear_flags(pmh, MHDR_DONE);
    set_flags(pmh, MHDR_INQUEUE);
    never_done = output_faults.never_done;
    ++port->sending;
  }
  int sent = MMSYSERR_NODRIVER;
  if (!used->output_gone(port->backend_port)) {
    sent = pmh->dwBufferLength == 0
               ? MMSYSERR_NOERROR
               : used->send(port->backend_port, reinterpret_cast<const uint8_t*>(pmh->lpData),
                            static_cast<int>(pmh->dwBufferLength));
  }
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    clear_flags(pmh, MHDR_INQUEUE);
    if (sent == MMSYSERR_NOERROR && !never_done) set_flags(pmh, MHDR_DONE);
  }
  if (sent == MMSYSERR_NOERROR && !never_done) call_output(port, MOM_DONE, reinterpret_cast<DWORD_PTR>(pmh));
  std::lock_guard<std::mutex> hold(layer_lock);
  --port->sending;
  return static_cast<MMRESULT>(sent);
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg) {
  log_call("midiOutShortMsg");
  const MidiBackend* used = current_backend();
  int backend_port = -1;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    OutputPort* port = find_output(hmo);
    if (!port || port->closing) return MMSYSERR_INVALHANDLE;
    backend_port = port->backend_port;
  }
  const uint8_t bytes[3] = {static_cast<uint8_t>(dwMsg), static_cast<uint8_t>(dwMsg >> 8),
                            static_cast<uint8_t>(dwMsg >> 16)};
  if (bytes[0] < 0x80 || bytes[0] == 0xF0 || bytes[0] == 0xF7) return MMSYSERR_INVALPARAM;
  if (used->output_gone(backend_port)) return MMSYSERR_NODRIVER;
  return static_cast<MMRESULT>(used->send(backend_port, bytes, 1 + data_bytes_of(bytes[0])));
}

// ---- Inputs ----

UINT WINAPI midiInGetNumDevs(void) {
  log_call("midiInGetNumDevs");
  return static_cast<UINT>(current_backend()->input_count());
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) {
  log_call("midiInGetDevCapsA");
  const MidiBackend* used = current_backend();
  if (uDeviceID >= static_cast<UINT_PTR>(used->input_count())) return MMSYSERR_BADDEVICEID;
  if (!pmic) return MMSYSERR_INVALPARAM;
  MIDIINCAPSA caps{};
  caps.wMid = 0xFFFF;
  caps.wPid = 0xFFFF;
  caps.vDriverVersion = 0x0100;
  if (!device_name(used->input_name, uDeviceID, caps.szPname)) return MMSYSERR_BADDEVICEID;
  std::memcpy(pmic, &caps, cbmic < sizeof(caps) ? cbmic : sizeof(caps));
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                           DWORD fdwOpen) {
  log_call("midiInOpen");
  if (!phmi) return MMSYSERR_INVALPARAM;
  *phmi = nullptr;
  const MidiBackend* used = current_backend();
  if (uDeviceID >= static_cast<UINT>(used->input_count())) return MMSYSERR_BADDEVICEID;
  const DWORD kind = fdwOpen & CALLBACK_TYPEMASK;
  if ((fdwOpen & ~ALLOWED_OPEN_FLAGS) || (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION)) {
    return MMSYSERR_INVALFLAG;
  }
  auto* port = new InputPort;
  port->pending.reserve(PENDING_RESERVE);
  port->ready.reserve(EVENTS_RESERVE);
  port->queue.reserve(BUFFERS_RESERVE);
  if (kind == CALLBACK_FUNCTION) port->callback = reinterpret_cast<LPMIDIINCALLBACK>(dwCallback);
  port->instance = dwInstance;
  port->sink = MidiSink{port, sink_arrived, sink_arriving, sink_withdraw, sink_wait_delivered};
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

// ---- Timers ----

MMRESULT WINAPI timeBeginPeriod(UINT) {
  log_call("timeBeginPeriod");
  ++time_begin_calls;
  if (raised_periods++ == 0) set_timer_slack(1);
  return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT) {
  log_call("timeEndPeriod");
  ++time_end_calls;
  if (raised_periods > 0 && --raised_periods == 0) set_timer_slack(0);
  return TIMERR_NOERROR;
}

DWORD WINAPI timeGetTime(void) {
  log_call("timeGetTime");
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
  return static_cast<DWORD>(ms);
}
