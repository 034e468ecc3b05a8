// Internals shared by the WINMM layer's files: the layer's state, handles, headers and call log
// (winmm.cpp), device enumeration and capabilities (winmm_devices.cpp), outputs (winmm_out.cpp), inputs
// (winmm_in.cpp) with their receive thread, parser and buffers (winmm_receive.cpp), and timers
// (winmm_time.cpp). Not for the program or the hosts.
//
// Locking: layer_lock guards the tables of ports, every port's fields and the faults. No callback into
// the application and no call into the back-end that may wait runs with it held.
#pragma once
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/midi/midi_backend.h"
#include "platform/win32/fifo.h"
#include "platform/win32/winmm_ext.h"

using Clock = std::chrono::steady_clock;

constexpr size_t MIN_HEADER_SIZE = offsetof(MIDIHDR, dwOffset);
constexpr DWORD ALLOWED_OPEN_FLAGS = CALLBACK_TYPEMASK | MIDI_IO_STATUS;

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

// ---- The layer's state (winmm.cpp) ----

extern std::mutex layer_lock;
extern std::map<uintptr_t, InputPort*> inputs;
extern std::map<uintptr_t, OutputPort*> outputs;
extern WinmmOutputFaults output_faults;  // guarded by layer_lock
extern WinmmInputFaults input_faults;    // guarded by layer_lock
// Set on the layer's input threads, whose calls stay out of the log.
extern thread_local bool on_input_thread;

void log_call(const char* name);
// The chosen back-end, or none_backend.
const MidiBackend* current_backend();
// A new handle, never one given before. Under layer_lock.
uintptr_t new_handle();
InputPort* find_input(HMIDIIN handle);
OutputPort* find_output(HMIDIOUT handle);
void call_input(const InputPort* port, UINT msg, DWORD_PTR param1, DWORD_PTR param2);
void call_output(const OutputPort* port, UINT msg, DWORD_PTR param1);

// Counts a call down towards its fault; true for the call that is to fail. Under layer_lock.
inline bool fault_due(int& calls_left) { return calls_left > 0 && --calls_left == 0; }

// Only CALLBACK_NULL and CALLBACK_FUNCTION are supported.
inline bool bad_open_flags(DWORD flags) {
  const DWORD kind = flags & CALLBACK_TYPEMASK;
  return (flags & ~ALLOWED_OPEN_FLAGS) || (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION);
}

// ---- Headers (winmm.cpp) ----

inline bool bad_header(const MIDIHDR* header, UINT size) { return !header || size < MIN_HEADER_SIZE; }

// The flag word belongs to the application as much as to the layer: an application may clear it while
// the input thread is handing the header back. The layer therefore reads and changes it atomically, and
// an application that writes it while the input runs can do so through std::atomic_ref as well.
inline DWORD flags_of(MIDIHDR* header) { return std::atomic_ref<DWORD>(header->dwFlags).load(); }
inline void set_flags(MIDIHDR* header, DWORD bits) { std::atomic_ref<DWORD>(header->dwFlags).fetch_or(bits); }
inline void clear_flags(MIDIHDR* header, DWORD bits) {
  std::atomic_ref<DWORD>(header->dwFlags).fetch_and(~bits);
}

// Prepare: PREPARED set, DONE and INQUEUE cleared; a prepared header stays as it is.
void prepare(MIDIHDR* header);
// Unprepare: 65 for a queued header; otherwise PREPARED cleared (nothing to do for an unprepared one).
MMRESULT unprepare(MIDIHDR* header);

// ---- Receiving (winmm_receive.cpp) ----

// The sink through which the back-end hands the port its bytes.
MidiSink receive_sink(InputPort* port);
void input_thread(InputPort* port);
// The bytes of a short message that follow its status byte.
int data_bytes_of(uint8_t status);
DWORD since_start(const InputPort& port, Clock::time_point when);
// Hands the first queued buffer back: out of the queue, DONE set, INQUEUE cleared.
MIDIHDR* take_first_buffer(InputPort& port);
void reset_parser(InputPort& port);
// Stops the input and waits until the input thread has delivered the events already made and is out of
// the callback (not when called from that callback itself).
void quiesce_input(InputPort& port, std::unique_lock<std::mutex>& hold);
// Ends the input's own thread; the port is then only the caller's.
void end_input_thread(InputPort* port);

// ---- Timers (winmm_time.cpp) ----

// Timer slack of the calling thread in nanoseconds.
void set_timer_slack(unsigned long ns);
