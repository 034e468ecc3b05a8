// The Web MIDI back-end. The page's main thread owns the MIDIAccess: it announces ports and their state
// changes and delivers received messages through the exported functions below, and it carries out the
// sends of the program's threads, which reach it through a ring in the shared memory.
//
// Sends: a thread appends the message to `ring` and wakes the page, which drains the ring in the order the
// messages were written, and the send returns once the page has handed the message to its port, as a send
// through the other back-ends returns once the message has left: the program's looks for the reply are
// timed from there. Where the browser has Atomics.waitAsync the page waits on `written` itself and a notify
// reaches it within a few tens of microseconds; otherwise each send has the main thread drain the ring
// (MAIN_THREAD_EM_ASM, a posted call that waits behind the page's other work).
//
// Locks: `lock` guards everything here and is never held while calling into the layer or the page. An input
// being delivered to is counted in `delivering`, and close_input waits until that count is zero, so no bytes
// reach a sink after close_input has returned. Delivery runs on the page's main thread, which blocks on the
// lock only for the moment another thread holds it.
#include "platform/midi/webmidi/midi_webmidi.h"

#include <mmsystem.h>

#include <emscripten/emscripten.h>
#include <emscripten/threading.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

// One port of the MIDIAccess, by the page's index.
struct Device {
  bool output = false;
  std::string name;
  bool connected = false;
};

struct Port {
  bool output = false;
  int device = 0;  // index into devices
  MidiSink* sink = nullptr;
  bool gone = false;
  bool closing = false;
  int delivering = 0;
};

// Messages on their way to the page. An entry is the device index and the length as two 32-bit words, then
// the bytes; entries take multiples of eight bytes, so a header always fits before the end. An entry that
// would run past the end goes to the start instead, behind a header whose device word is WRAP. The counters
// count bytes ever appended and taken; both wrap at 2^32, and the page reads them as signed 32-bit words.
constexpr uint32_t RING_SIZE = 1u << 15;
constexpr uint32_t RING_MASK = RING_SIZE - 1;
constexpr uint32_t ENTRY_HEADER = 8;
constexpr uint32_t ENTRY_ALIGN = 8;
// An entry of at most half the ring always fits once the page has taken everything before it.
constexpr uint32_t ENTRY_MAX = RING_SIZE / 2;
constexpr uint32_t WRAP = 0xFFFFFFFF;
// A sender waits for the page (to take its message, or to make room) in slices this long; the page wakes
// it as soon as it has drained the ring.
constexpr double RING_WAIT_MS = 10;

struct SendRing {
  std::atomic<uint32_t> written{0};
  std::atomic<uint32_t> taken{0};
  std::atomic<uint32_t> page_waits{0};  // 1 while the page waits on `written` by itself
  alignas(4) uint8_t bytes[RING_SIZE];
};
// The page's half reads these offsets (midi_webmidi.js).
static_assert(offsetof(SendRing, written) == 0 && offsetof(SendRing, taken) == 4 &&
              offsetof(SendRing, page_waits) == 8 && offsetof(SendRing, bytes) == 12);
static_assert(sizeof(std::atomic<uint32_t>) == 4 && std::atomic<uint32_t>::is_always_lock_free);

struct WebMidiState {
  std::mutex lock;
  std::condition_variable delivered;
  bool attached = false;
  std::map<int, Device> devices;
  std::map<int, Port> ports;
  int next_port = 1;
  std::vector<uint8_t> buffer;  // received bytes, written by the page; main thread only
  SendRing ring;
};

WebMidiState& state() {
  static WebMidiState* s = new WebMidiState;  // never destroyed: the page may call in at any time
  return *s;
}

// The page index of the n-th connected device of a kind, or -1.
int nth_device(WebMidiState& s, bool output, int n) {
  for (const auto& [index, device] : s.devices) {
    if (device.output != output || !device.connected) continue;
    if (n-- == 0) return index;
  }
  return -1;
}

int count(bool output) {
  WebMidiState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  int n = 0;
  for (const auto& entry : s.devices) n += entry.second.output == output && entry.second.connected;
  return n;
}

bool name_of(bool output, int device, char* name, int size) {
  WebMidiState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  const int index = nth_device(s, output, device);
  if (index < 0 || size <= 0) return false;
  const std::string& text = s.devices[index].name;
  const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(name, text.data(), n);
  name[n] = '\0';
  return true;
}

int open_port(bool output, int device, MidiSink* sink, int* port) {
  WebMidiState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  const int index = nth_device(s, output, device);
  if (index < 0) return MMSYSERR_BADDEVICEID;
  const int id = s.next_port++;
  Port& p = s.ports[id];
  p.output = output;
  p.device = index;
  p.sink = sink;
  *port = id;
  return MMSYSERR_NOERROR;
}

int webmidi_output_count() { return count(true); }
int webmidi_input_count() { return count(false); }
bool webmidi_output_name(int device, char* name, int size) { return name_of(true, device, name, size); }
bool webmidi_input_name(int device, char* name, int size) { return name_of(false, device, name, size); }
int webmidi_open_output(int device, int* port) { return open_port(true, device, nullptr, port); }

int webmidi_close_output(int port) {
  WebMidiState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.ports.erase(port);
  return MMSYSERR_NOERROR;
}

uint32_t entry_size(int length) {
  return (ENTRY_HEADER + static_cast<uint32_t>(length) + ENTRY_ALIGN - 1) & ~(ENTRY_ALIGN - 1);
}

// Bytes left unused at the end when an entry of `size` would not fit after `written`.
uint32_t skipped(uint32_t written, uint32_t size) {
  const uint32_t room = RING_SIZE - (written & RING_MASK);
  return room < size ? room : 0;
}

void put_word(SendRing& ring, uint32_t at, uint32_t value) {
  std::memcpy(&ring.bytes[at & RING_MASK], &value, sizeof value);
}

// Appends one message for `device`, waiting while the ring has no room for it, and returns the count of
// bytes written once the page has taken it. Called with `hold` locked.
uint32_t append(WebMidiState& s, std::unique_lock<std::mutex>& hold, int device, const uint8_t* bytes,
                int length) {
  SendRing& ring = s.ring;
  const uint32_t size = entry_size(length);
  for (;;) {
    const uint32_t written = ring.written.load();
    const uint32_t taken = ring.taken.load();
    if (RING_SIZE - (written - taken) >= skipped(written, size) + size) break;
    hold.unlock();
    emscripten_futex_wait(&ring.taken, taken, RING_WAIT_MS);
    hold.lock();
  }
  uint32_t at = ring.written.load();
  if (const uint32_t skip = skipped(at, size)) {
    put_word(ring, at, WRAP);
    at += skip;
  }
  put_word(ring, at, static_cast<uint32_t>(device));
  put_word(ring, at + 4, static_cast<uint32_t>(length));
  std::memcpy(&ring.bytes[(at + ENTRY_HEADER) & RING_MASK], bytes, static_cast<size_t>(length));
  ring.written.store(at + size);
  return at + size;
}

int webmidi_send(int port, const uint8_t* bytes, int length) {
  WebMidiState& s = state();
  uint32_t end = 0;
  {
    std::unique_lock<std::mutex> hold(s.lock);
    const auto found = s.ports.find(port);
    if (found == s.ports.end() || !found->second.output) return MMSYSERR_INVALHANDLE;
    if (found->second.gone) return MMSYSERR_NODRIVER;
    if (length <= 0) return MMSYSERR_NOERROR;
    if (entry_size(length) > ENTRY_MAX) return MMSYSERR_INVALPARAM;
    end = append(s, hold, found->second.device, bytes, length);
  }
  SendRing& ring = s.ring;
  if (!ring.page_waits.load() || emscripten_is_main_browser_thread()) {
    MAIN_THREAD_EM_ASM({ Module['vexaWebMidi'].drain(); });
    return MMSYSERR_NOERROR;
  }
  emscripten_futex_wake(&ring.written, 1);
  for (uint32_t taken = ring.taken.load(); static_cast<int32_t>(taken - end) < 0; taken = ring.taken.load())
    emscripten_futex_wait(&ring.taken, taken, RING_WAIT_MS);
  return MMSYSERR_NOERROR;
}

int webmidi_open_input(int device, MidiSink* sink, int* port) { return open_port(false, device, sink, port); }

void webmidi_close_input(int port) {
  WebMidiState& s = state();
  std::unique_lock<std::mutex> hold(s.lock);
  const auto found = s.ports.find(port);
  if (found == s.ports.end()) return;
  found->second.closing = true;
  s.delivered.wait(hold, [&found] { return found->second.delivering == 0; });
  s.ports.erase(found);
}

bool gone(int port) {
  WebMidiState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  const auto found = s.ports.find(port);
  return found == s.ports.end() || found->second.gone;
}

bool webmidi_output_gone(int port) { return gone(port); }
bool webmidi_input_gone(int port) { return gone(port); }

// No threads of its own; the page keeps its MIDIAccess.
void webmidi_shutdown() {}

const MidiBackend backend = {
    "webmidi",           webmidi_output_count, webmidi_input_count, webmidi_output_name, webmidi_input_name,
    webmidi_open_output, webmidi_close_output, webmidi_send,        webmidi_open_input,  webmidi_close_input,
    webmidi_output_gone, webmidi_input_gone,   webmidi_shutdown,
};

}  // namespace

// Called by the page on its main thread.
extern "C" {

// A port seen for the first time: 1 for an output, 0 for an input.
EMSCRIPTEN_KEEPALIVE void webmidi_port_added(int output, int index, const char* name) {
  WebMidiState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  Device& device = s.devices[index];
  device.output = output != 0;
  device.name = name;
}

// A port connected or disconnected. The ports open on a disconnected device stay gone, as an unplugged
// device's handles do; the device is listed again once it is back.
EMSCRIPTEN_KEEPALIVE void webmidi_port_state(int index, int connected) {
  WebMidiState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  const auto found = s.devices.find(index);
  if (found == s.devices.end()) return;
  found->second.connected = connected != 0;
  if (connected) return;
  for (auto& entry : s.ports) entry.second.gone = entry.second.gone || entry.second.device == index;
}

// Where the messages to send wait (SendRing).
EMSCRIPTEN_KEEPALIVE void* webmidi_ring() { return &state().ring; }

// Room for a received message of `size` bytes; the page writes it there and calls webmidi_received.
EMSCRIPTEN_KEEPALIVE uint8_t* webmidi_buffer(int size) {
  std::vector<uint8_t>& buffer = state().buffer;
  if (buffer.size() < static_cast<size_t>(size)) buffer.resize(static_cast<size_t>(size));
  return buffer.data();
}

// A message arrived on input `index`; its bytes are in the buffer.
EMSCRIPTEN_KEEPALIVE void webmidi_received(int index, int length) {
  WebMidiState& s = state();
  std::vector<int> receivers;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    for (auto& [id, port] : s.ports) {
      if (port.output || port.device != index || port.gone || port.closing) continue;
      ++port.delivering;
      receivers.push_back(id);
    }
  }
  for (const int id : receivers) {
    MidiSink* sink = nullptr;
    {
      std::lock_guard<std::mutex> hold(s.lock);
      sink = s.ports[id].sink;
    }
    sink->arrived(sink, s.buffer.data(), length);
    std::lock_guard<std::mutex> hold(s.lock);
    --s.ports[id].delivering;
  }
  if (!receivers.empty()) s.delivered.notify_all();
}

}  // extern "C"

const MidiBackend* midi_backend_webmidi() {
  WebMidiState& s = state();
  bool first = false;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    first = !s.attached;
    s.attached = true;
  }
  // Waits until the page has announced every port it has now, so the first listing sees them.
  if (first) MAIN_THREAD_EM_ASM({ Module['vexaWebMidi'].attach(); });
  return &backend;
}
