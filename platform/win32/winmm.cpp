// WINMM MIDI for Linux, over a narrow back-end (platform/midi/midi_backend.h) that the host chooses: the
// layer's state, handles, headers, the call log and the host API (winmm_ext.h). Device enumeration is in
// winmm_devices.cpp, outputs in winmm_out.cpp, inputs in winmm_in.cpp and winmm_receive.cpp, timers in
// winmm_time.cpp.
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
// - MIM_OPEN and MIM_CLOSE (MOM_OPEN, MOM_CLOSE, MOM_DONE for outputs opened with a function) are called on
//   the caller's thread inside open and close.
// - A device that went away answers MMSYSERR_NODRIVER to sends, midiInStart and midiInAddBuffer; stop,
//   reset, unprepare and close still work so that the application can close.
// - Only CALLBACK_NULL and CALLBACK_FUNCTION are supported; other callback kinds answer MMSYSERR_INVALFLAG.
// - Until the host chooses a back-end (winmm_use_backend), there are no devices.
// Hosts and tests reach the back-end choice, faults, a log of the calls and a hook on them through
// winmm_ext.h.
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/winmm_internal.h"

std::mutex layer_lock;
std::map<uintptr_t, InputPort*> inputs;
std::map<uintptr_t, OutputPort*> outputs;
WinmmOutputFaults output_faults;
WinmmInputFaults input_faults;
thread_local bool on_input_thread = false;

namespace {

const MidiBackend* backend = nullptr;
uintptr_t next_handle = 0x1000;
std::atomic<void (*)(const char*)> call_hook{nullptr};

std::mutex calls_lock;
bool recording_calls = false;
std::vector<std::string> calls;

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

void log_call(const char* name) {
  if (on_input_thread) return;
  if (void (*hook)(const char*) = call_hook.load()) hook(name);
  std::lock_guard<std::mutex> hold(calls_lock);
  if (recording_calls) calls.emplace_back(name);
}

const MidiBackend* current_backend() {
  std::lock_guard<std::mutex> hold(layer_lock);
  if (!backend) backend = &none_backend;
  return backend;
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

void prepare(MIDIHDR* header) {
  if (flags_of(header) & MHDR_PREPARED) return;
  clear_flags(header, MHDR_DONE | MHDR_INQUEUE);
  set_flags(header, MHDR_PREPARED);
}

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
