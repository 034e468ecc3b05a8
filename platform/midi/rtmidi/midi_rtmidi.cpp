// The back-end for real MIDI devices: RtMidi with its ALSA sequencer or JACK interface.
//
// Devices are listed afresh at every count (the layer counts before it asks for names or opens), and an open
// port keeps the full RtMidi name of its device. A device counts as gone, for good, once that name is no
// longer listed: ALSA names carry the client and port numbers, which a device that comes back does not
// get again. Neither ALSA nor JACK reports an error when a peer vanishes, so the listing is the test.
//
// Each open port is an RtMidi object of its own; the probes that list devices open no port. Locks: `lock`
// guards the tables and the probes; an input's `deliver` lock is held while its bytes go to the layer, so
// that none arrive after close_input has returned.
#include "platform/midi/rtmidi/midi_rtmidi.h"

#include <mmsystem.h>

#include <RtMidi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/midi/midi_name.h"

namespace {

constexpr size_t MAX_NAME = 31;  // MAXPNAMELEN without the NUL

// ---- Names ----

struct PortParts {
  std::string client;  // as the person knows it (JACK's numbering of repeated names removed)
  std::string port;
  std::string group;    // ports of the same group share a device name unless there are several
  std::string single;   // the name when the port is the only one of its group
  std::string several;  // the name when the group has several ports
  bool own = false;
};

// The name cut to `room` bytes after a whole character, without trailing blanks.
std::string truncated(std::string name, size_t room = MAX_NAME) {
  name.resize(midi_name_fit(name.data(), name.size(), room));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

// ALSA: "client name:port name 128:0".
PortParts alsa_parts(const std::string& full) {
  PortParts p;
  std::string rest = full;
  std::string numbers;
  const size_t space = full.rfind(' ');
  if (space != std::string::npos && full.find(':', space) != std::string::npos) {
    numbers = full.substr(space + 1);
    rest = full.substr(0, space);
  }
  const size_t colon = rest.find(':');
  p.client = rest.substr(0, colon);
  p.port = colon == std::string::npos ? rest : rest.substr(colon + 1);
  p.group = numbers.substr(0, numbers.find(':')) + "/" + p.client;
  p.single = p.client;
  p.several = p.port;
  p.own = p.client == RTMIDI_OWN_CLIENT;
  return p;
}

bool all_digits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The bridge's port names: "device [client number] (capture): port" or "(playback)".
bool bridge_port(const std::string& port, std::string& device, std::string& alsa_port) {
  const size_t open = port.find(" [");
  const size_t close = open == std::string::npos ? open : port.find("] (", open);
  if (close == std::string::npos || !all_digits(port.substr(open + 2, close - open - 2))) return false;
  const std::string rest = port.substr(close + 3);
  for (const char* kind : {"capture): ", "playback): "}) {
    if (rest.rfind(kind, 0) == 0) {
      device = port.substr(0, open);
      alsa_port = rest.substr(std::strlen(kind));
      return true;
    }
  }
  return false;
}

// The hardware ports "midi_capture_N" and "midi_playback_N"; the number, or "" for other names.
std::string hardware_number(const std::string& port) {
  for (const char* kind : {"midi_capture_", "midi_playback_"}) {
    if (port.rfind(kind, 0) == 0 && all_digits(port.substr(std::strlen(kind))))
      return port.substr(std::strlen(kind));
  }
  return "";
}

// JACK: "client:port".
PortParts jack_parts(const std::string& full) {
  PortParts p;
  const size_t colon = full.find(':');
  p.client = full.substr(0, colon);
  p.port = colon == std::string::npos ? std::string() : full.substr(colon + 1);
  const size_t n = p.client.size();
  if (n > 3 && p.client[n - 3] == '-' && all_digits(p.client.substr(n - 2))) p.client.resize(n - 3);
  p.own = p.client == RTMIDI_OWN_CLIENT;
  p.group = p.client;
  p.single = p.client;
  p.several = p.client + " " + p.port;
  std::string device, alsa_port;
  const std::string number = p.client == "system" ? hardware_number(p.port) : "";
  if (p.client == "a2j" && bridge_port(p.port, device, alsa_port)) {
    p.group = "a2j/" + device;
    p.single = device;
    p.several = alsa_port;
  } else if (!number.empty()) {
    p.group = "system/" + number;
    p.single = p.several = "system midi " + number;
  }
  return p;
}

}  // namespace

std::vector<RtmidiDevice> rtmidi_device_names(bool jack, const std::vector<std::string>& ports) {
  std::vector<PortParts> parts;
  std::map<std::string, int> group_size;
  for (const std::string& full : ports) {
    parts.push_back(jack ? jack_parts(full) : alsa_parts(full));
    if (!parts.back().own) ++group_size[parts.back().group];
  }
  std::vector<RtmidiDevice> devices;
  std::map<std::string, int> taken;
  for (size_t i = 0; i < parts.size(); ++i) {
    const PortParts& p = parts[i];
    if (p.own) continue;
    const std::string base = truncated(group_size[p.group] > 1 ? p.several : p.single);
    std::string name = base;
    const int seen = ++taken[base];
    if (seen > 1) {
      const std::string suffix = " #" + std::to_string(seen);
      name = truncated(base, MAX_NAME - suffix.size()) + suffix;
    }
    devices.push_back(RtmidiDevice{static_cast<int>(i), name});
  }
  return devices;
}

namespace {

// ---- Ports ----

struct Device {
  std::string full;  // RtMidi's name of the port
  std::string name;  // as shown
};

// What an input's callback needs; it outlives the RtMidi object that calls it.
struct InputSink {
  std::mutex deliver;
  MidiSink* sink = nullptr;
  bool closed = false;
};

struct OutputPort {
  std::unique_ptr<RtMidiOut> midi;
  std::string full;
  bool gone = false;
};

struct InputPort {
  std::unique_ptr<InputSink> target;  // what the callback delivers to, for as long as the object lives
  std::unique_ptr<RtMidiIn> midi;
  std::string full;
  bool gone = false;
};

struct Api {
  Api(RtMidi::Api which, bool is_jack) : api(which), jack(is_jack) {}
  RtMidi::Api api;
  bool jack;
  std::mutex lock;
  std::unique_ptr<RtMidiOut> list_outputs;  // lists the destinations: the program's outputs
  std::unique_ptr<RtMidiIn> list_inputs;    // lists the sources: the program's inputs
  std::chrono::steady_clock::time_point next_try{};
  std::vector<Device> outputs, inputs;
  std::map<int, OutputPort> out_ports;
  // Closed ports, kept for the next open. RtMidi objects are never destroyed: destroying a JACK output
  // while the server's process thread still runs its callback makes that callback read freed memory, and
  // closing a JACK client of an input can wait for ever on a synchronous server.
  std::vector<std::unique_ptr<RtMidiOut>> spare_outputs;
  std::vector<InputPort> spare_inputs;
  std::map<int, InputPort> in_ports;
  int next_port = 1;
};

// Warnings of the library (no server, a port that cannot be made) are answered by the results here.
void ignore_error(RtMidiError::Type, const std::string&, void*) {}

// Created once and never destroyed: the layer's exit handler calls shutdown during static destruction.
Api& api_state(bool jack) {
  static Api* alsa = new Api(RtMidi::LINUX_ALSA, false);
  static Api* jack_api = new Api(RtMidi::UNIX_JACK, true);
  return jack ? *jack_api : *alsa;
}

// The probes, made at first use; when the service is missing (no sequencer device, no JACK server) they are
// tried again at most once a second.
bool have_probes_locked(Api& a) {
  if (a.list_outputs && a.list_inputs) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now < a.next_try) return false;
  a.next_try = now + std::chrono::seconds(1);
  try {
    auto outputs = std::make_unique<RtMidiOut>(a.api, RTMIDI_OWN_CLIENT);
    auto inputs = std::make_unique<RtMidiIn>(a.api, RTMIDI_OWN_CLIENT);
    outputs->setErrorCallback(ignore_error, nullptr);
    inputs->setErrorCallback(ignore_error, nullptr);
    a.list_outputs = std::move(outputs);
    a.list_inputs = std::move(inputs);
    return true;
  } catch (const RtMidiError&) {
    return false;
  }
}

std::vector<std::string> port_names(RtMidi& midi) {
  std::vector<std::string> names;
  try {
    const unsigned count = midi.getPortCount();
    for (unsigned i = 0; i < count; ++i) names.push_back(midi.getPortName(i));
  } catch (const RtMidiError&) {
    names.clear();
  }
  return names;
}

std::vector<std::string> listed_locked(Api& a, bool outputs) {
  if (!have_probes_locked(a)) return {};
  return outputs ? port_names(*a.list_outputs) : port_names(*a.list_inputs);
}

std::vector<Device> devices_locked(Api& a, bool outputs) {
  const std::vector<std::string> full = listed_locked(a, outputs);
  std::vector<Device> devices;
  for (const RtmidiDevice& d : rtmidi_device_names(a.jack, full))
    devices.push_back(Device{full[static_cast<size_t>(d.index)], d.name});
  return devices;
}

bool still_listed_locked(Api& a, bool output, const std::string& full) {
  const std::vector<std::string> names = listed_locked(a, output);
  return std::find(names.begin(), names.end(), full) != names.end();
}

// Opens `midi` on the port called `full`; false when it is not listed or cannot be opened.
bool open_by_name(RtMidi& midi, const std::string& full, const char* own_port) {
  const std::vector<std::string> names = port_names(midi);
  const auto found = std::find(names.begin(), names.end(), full);
  if (found == names.end()) return false;
  try {
    midi.openPort(static_cast<unsigned>(found - names.begin()), own_port);
  } catch (const RtMidiError&) {
    return false;
  }
  return midi.isPortOpen();
}

void on_input(double, std::vector<unsigned char>* message, void* user) {
  auto* target = static_cast<InputSink*>(user);
  if (!message || message->empty()) return;
  std::lock_guard<std::mutex> hold(target->deliver);
  if (!target->closed)
    target->sink->arrived(target->sink, message->data(), static_cast<int>(message->size()));
}

template <bool Jack>
struct Functions {
  static Api& a() { return api_state(Jack); }

  static int output_count() {
    std::lock_guard<std::mutex> hold(a().lock);
    a().outputs = devices_locked(a(), true);
    return static_cast<int>(a().outputs.size());
  }

  static int input_count() {
    std::lock_guard<std::mutex> hold(a().lock);
    a().inputs = devices_locked(a(), false);
    return static_cast<int>(a().inputs.size());
  }

  static bool copy_name(const std::vector<Device>& table, int device, char* name, int size) {
    if (device < 0 || device >= static_cast<int>(table.size()) || size <= 0) return false;
    const std::string& text = table[static_cast<size_t>(device)].name;
    const size_t length = std::min(text.size(), static_cast<size_t>(size - 1));
    text.copy(name, length);
    name[length] = '\0';
    return true;
  }

  static bool output_name(int device, char* name, int size) {
    std::lock_guard<std::mutex> hold(a().lock);
    return copy_name(a().outputs, device, name, size);
  }

  static bool input_name(int device, char* name, int size) {
    std::lock_guard<std::mutex> hold(a().lock);
    return copy_name(a().inputs, device, name, size);
  }

  static int open_output(int device, int* port) {
    std::lock_guard<std::mutex> hold(a().lock);
    if (device < 0 || device >= static_cast<int>(a().outputs.size())) return MMSYSERR_BADDEVICEID;
    const std::string full = a().outputs[static_cast<size_t>(device)].full;
    for (const auto& [id, open] : a().out_ports)
      if (open.full == full) return MMSYSERR_ALLOCATED;
    OutputPort opened;
    opened.full = full;
    if (!a().spare_outputs.empty()) {
      opened.midi = std::move(a().spare_outputs.back());
      a().spare_outputs.pop_back();
    } else {
      try {
        opened.midi = std::make_unique<RtMidiOut>(a().api, RTMIDI_OWN_CLIENT);
        opened.midi->setErrorCallback(ignore_error, nullptr);
      } catch (const RtMidiError&) {
        return MMSYSERR_NODRIVER;
      }
    }
    if (!open_by_name(*opened.midi, full, "out")) {
      a().spare_outputs.push_back(std::move(opened.midi));
      return MMSYSERR_ALLOCATED;
    }
    *port = a().next_port++;
    a().out_ports[*port] = std::move(opened);
    return MMSYSERR_NOERROR;
  }

  static int close_output(int port) {
    std::unique_ptr<RtMidiOut> closing;
    {
      std::lock_guard<std::mutex> hold(a().lock);
      const auto found = a().out_ports.find(port);
      if (found == a().out_ports.end()) return MMSYSERR_NOERROR;
      closing = std::move(found->second.midi);
      a().out_ports.erase(found);
    }
    closing->closePort();
    std::lock_guard<std::mutex> hold(a().lock);
    a().spare_outputs.push_back(std::move(closing));
    return MMSYSERR_NOERROR;
  }

  static int send(int port, const uint8_t* bytes, int length) {
    std::lock_guard<std::mutex> hold(a().lock);
    const auto found = a().out_ports.find(port);
    if (found == a().out_ports.end() || found->second.gone) return MMSYSERR_NODRIVER;
    try {
      found->second.midi->sendMessage(bytes, static_cast<size_t>(length));
    } catch (const RtMidiError&) {
      found->second.gone = true;
      return MMSYSERR_NODRIVER;
    }
    return MMSYSERR_NOERROR;
  }

  static int open_input(int device, MidiSink* sink, int* port) {
    std::lock_guard<std::mutex> hold(a().lock);
    if (device < 0 || device >= static_cast<int>(a().inputs.size())) return MMSYSERR_BADDEVICEID;
    const std::string full = a().inputs[static_cast<size_t>(device)].full;
    for (const auto& [id, open] : a().in_ports)
      if (open.full == full) return MMSYSERR_ALLOCATED;
    InputPort opened;
    if (!a().spare_inputs.empty()) {
      opened = std::move(a().spare_inputs.back());
      a().spare_inputs.pop_back();
    } else {
      opened.target = std::make_unique<InputSink>();
      try {
        opened.midi = std::make_unique<RtMidiIn>(a().api, RTMIDI_OWN_CLIENT);
        opened.midi->setErrorCallback(ignore_error, nullptr);
        // SysEx is what the unit speaks; timing and active sensing reach the program as on Windows.
        opened.midi->ignoreTypes(false, false, false);
      } catch (const RtMidiError&) {
        return MMSYSERR_NODRIVER;
      }
    }
    opened.full = full;
    {
      std::lock_guard<std::mutex> deliver(opened.target->deliver);
      opened.target->sink = sink;
      opened.target->closed = false;
    }
    opened.midi->setCallback(on_input, opened.target.get());
    if (!open_by_name(*opened.midi, full, "in")) {
      opened.midi->cancelCallback();
      a().spare_inputs.push_back(std::move(opened));
      return MMSYSERR_ALLOCATED;
    }
    *port = a().next_port++;
    a().in_ports[*port] = std::move(opened);
    return MMSYSERR_NOERROR;
  }

  static void close_input(int port) {
    InputPort closing;
    {
      std::lock_guard<std::mutex> hold(a().lock);
      const auto found = a().in_ports.find(port);
      if (found == a().in_ports.end()) return;
      closing = std::move(found->second);
      a().in_ports.erase(found);
    }
    {
      std::lock_guard<std::mutex> deliver(closing.target->deliver);
      closing.target->closed = true;
    }
    closing.midi->cancelCallback();
    closing.midi->closePort();
    std::lock_guard<std::mutex> hold(a().lock);
    closing.gone = false;
    a().spare_inputs.push_back(std::move(closing));
  }

  static bool output_gone(int port) {
    std::lock_guard<std::mutex> hold(a().lock);
    const auto found = a().out_ports.find(port);
    if (found == a().out_ports.end()) return true;
    if (!found->second.gone && !still_listed_locked(a(), true, found->second.full)) found->second.gone = true;
    return found->second.gone;
  }

  static bool input_gone(int port) {
    std::lock_guard<std::mutex> hold(a().lock);
    const auto found = a().in_ports.find(port);
    if (found == a().in_ports.end()) return true;
    if (!found->second.gone && !still_listed_locked(a(), false, found->second.full))
      found->second.gone = true;
    return found->second.gone;
  }

  static void shutdown() {
    std::map<int, OutputPort> outputs;
    std::map<int, InputPort> inputs;
    std::unique_ptr<RtMidiOut> list_outputs;
    std::unique_ptr<RtMidiIn> list_inputs;
    {
      std::lock_guard<std::mutex> hold(a().lock);
      outputs.swap(a().out_ports);
      inputs.swap(a().in_ports);
      list_outputs = std::move(a().list_outputs);
      list_inputs = std::move(a().list_inputs);
      a().outputs.clear();
      a().inputs.clear();
      a().next_try = {};
    }
    for (auto& [id, port] : inputs) {
      std::lock_guard<std::mutex> hold(port.target->deliver);
      port.target->closed = true;
    }
  }
};

template <bool Jack>
const MidiBackend backend = {
    Jack ? "jack" : "alsa",        Functions<Jack>::output_count, Functions<Jack>::input_count,
    Functions<Jack>::output_name,  Functions<Jack>::input_name,   Functions<Jack>::open_output,
    Functions<Jack>::close_output, Functions<Jack>::send,         Functions<Jack>::open_input,
    Functions<Jack>::close_input,  Functions<Jack>::output_gone,  Functions<Jack>::input_gone,
    Functions<Jack>::shutdown};

bool compiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), api) != apis.end();
}

}  // namespace

std::string rtmidi_service_problem(bool jack) {
  // The library reports a missing JACK server as a warning and then lists nothing; a missing sequencer
  // device fails the client's creation.
  bool warned = false;
  try {
    RtMidiIn probe(jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA, RTMIDI_OWN_CLIENT);
    probe.setErrorCallback(
        [](RtMidiError::Type, const std::string&, void* flag) { *static_cast<bool*>(flag) = true; }, &warned);
    probe.getPortCount();
  } catch (const RtMidiError&) {
    warned = true;
  }
  if (!warned) return "";
  return jack ? "JACK: no server running" : "ALSA: no sequencer (/dev/snd/seq)";
}

const MidiBackend* midi_backend_rtmidi(const char* api) {
  const std::string name = api ? api : "";
  if (name == "alsa" && compiled(RtMidi::LINUX_ALSA)) return &backend<false>;
  if (name == "jack" && compiled(RtMidi::UNIX_JACK)) {
    // A program that merely looks for devices must not start a JACK server of its own.
    setenv("JACK_NO_START_SERVER", "1", 0);
    return &backend<true>;
  }
  return nullptr;
}
