// The Web MIDI back-end. The page's main thread owns the MIDIAccess: it announces ports and their state
// changes and delivers received messages through the exported functions below, and it carries out the
// sends that the program's threads pass to it (MAIN_THREAD_ASYNC_EM_ASM, in the order in which they were
// made).
//
// Locks: `lock` guards everything here and is never held while calling into the layer or the page. An input
// being delivered to is counted in `delivering`, and close_input waits until that count is zero, so no bytes
// reach a sink after close_input has returned. Delivery runs on the page's main thread, which blocks on the
// lock only for the moment another thread holds it.
#include "platform/midi/webmidi/midi_webmidi.h"

#include <mmsystem.h>

#include <emscripten/emscripten.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
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

struct WebMidiState {
  std::mutex lock;
  std::condition_variable delivered;
  bool attached = false;
  std::map<int, Device> devices;
  std::map<int, Port> ports;
  int next_port = 1;
  std::vector<uint8_t> buffer;  // received bytes, written by the page; main thread only
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

int webmidi_send(int port, const uint8_t* bytes, int length) {
  WebMidiState& s = state();
  int device = -1;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    const auto found = s.ports.find(port);
    if (found == s.ports.end() || !found->second.output) return MMSYSERR_INVALHANDLE;
    if (found->second.gone) return MMSYSERR_NODRIVER;
    device = found->second.device;
  }
  if (length <= 0) return MMSYSERR_NOERROR;
  // The page frees the copy once it has handed the bytes to the port.
  auto* copy = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length)));
  if (!copy) return MMSYSERR_NOMEM;
  std::memcpy(copy, bytes, static_cast<size_t>(length));
  MAIN_THREAD_ASYNC_EM_ASM({ Module['vexaWebMidi'].send($0, $1, $2); }, device, copy, length);
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
