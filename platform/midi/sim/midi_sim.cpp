// The simulated back-end: the vexa unit of sim/ behind one output and one input named "vexa", plus any
// extra devices a test asks for. A timer thread of this back-end passes replies and injected bytes on to
// the unit's inputs; unplugging removes the unit's devices and answers MMSYSERR_NODRIVER on its open ports.
//
// Locks: `lock` guards everything here and is never held while calling into the layer; a port being
// delivered to is counted in `delivering`, and close_input waits until that count is zero, so no bytes
// reach a sink after close_input has returned.
//
// Timing: an item is handed to the layer shortly before it is due, stamped with its due time
// (MidiSink::arriving), so that the input thread is awake then and its callback comes on time, not
// before. Handed-over replies that are not due yet are withdrawn when the unit is unplugged. Steady traffic
// allocates nothing: the unit's replies are built in one reused buffer, and the byte buffers of delivered
// items are kept for the next ones. The unit's time code is made on the timer thread as it falls due, while
// an input of the unit is open, and queued as its replies are, but handed over when due: a hundred and more
// quarter frames a second would otherwise keep the input thread waiting for each one awake.
#include "platform/midi/sim/midi_sim.h"

#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Items that may be pending at once before the queue allocates: a reply and its noise, a burst of
// read-back answers, a few injections.
constexpr size_t QUEUE_RESERVE = 64;
// Bytes reserved in each spare buffer: a reply, or a burst of injected messages. A longer one grows its
// buffer once.
constexpr size_t SPARE_BYTES = 64;
// How long before its due time an item goes to the layer: more than a wake-up from sleep and a hand-over
// to the input thread take.
constexpr auto HAND_OVER_EARLY = std::chrono::microseconds(500);
// Time code that the timer thread comes to later than this (nobody listened, or it was held up) is lost,
// as on a cable; later by less, it still goes out, stamped with its time.
constexpr uint64_t TIMECODE_LATE_US = 250000;
constexpr uint64_t NEVER = UINT64_MAX;

struct Port {
  bool output = false;
  int device = 0;  // index into setup.outputs or setup.inputs
  MidiSink* sink = nullptr;
  bool closing = false;
  int delivering = 0;
};

// Bytes due on an input: the unit's replies go to every open unit input, injections to one device.
struct Delivery {
  uint64_t due_us = 0;
  uint64_t order = 0;
  bool from_unit = false;
  bool on_time = false;  // handed over when due, not before: time code, which need not wake the input early
  int input = -1;
  std::vector<uint8_t> bytes;
};

struct SimState {
  std::mutex lock;
  std::condition_variable changed;
  SimSetup setup;
  SimUnit unit;
  SimReplies replies;   // the unit's answer to the message being sent
  SimReplies timecode;  // the unit's time code, made on the timer thread
  bool unplugged = false;
  std::vector<int> close_busy_left;
  std::vector<std::vector<std::vector<uint8_t>>> sent;
  std::map<int, Port> ports;
  int next_port = 1;
  std::vector<Delivery> queue;              // kept sorted by (due_us, order)
  std::vector<std::vector<uint8_t>> spare;  // byte buffers for queued items, kept after delivery
  uint64_t next_order = 0;
  int delivering = 0;
  Clock::time_point epoch = Clock::now();
  std::thread timer;
  bool stopping = false;
};

// Takes the unit's replies, or with unit_only false every item, out of the queue; their buffers are kept.
void drop_queued(SimState& s, bool unit_only) {
  size_t kept = 0;
  for (size_t i = 0; i < s.queue.size(); ++i) {
    if (unit_only && !s.queue[i].from_unit) {
      if (kept != i) s.queue[kept] = std::move(s.queue[i]);
      ++kept;
    } else {
      s.spare.push_back(std::move(s.queue[i].bytes));
    }
  }
  s.queue.erase(s.queue.begin() + static_cast<std::ptrdiff_t>(kept), s.queue.end());
}

// New devices and a new unit; ports still open from before behave as gone.
void apply_setup(SimState& s, const SimSetup& setup) {
  s.setup = setup;
  sim_unit_init(s.unit, setup.unit);
  s.unplugged = false;
  s.close_busy_left.clear();
  for (const SimPortSetup& device_setup : setup.outputs) s.close_busy_left.push_back(device_setup.close_busy);
  s.sent.assign(setup.outputs.size(), {});
  drop_queued(s, false);
  s.ports.clear();
  s.epoch = Clock::now();
}

// Created once and never destroyed: the layer's exit handler may still call in during static destruction.
// Chosen by VEXA_MIDI=sim without winmm_use_sim, it starts with the default setup.
SimState& sim() {
  static SimState* state = [] {
    auto* fresh = new SimState;
    fresh->queue.reserve(QUEUE_RESERVE);
    fresh->spare.resize(QUEUE_RESERVE);
    for (std::vector<uint8_t>& bytes : fresh->spare) bytes.reserve(SPARE_BYTES);
    apply_setup(*fresh, SimSetup());
    return fresh;
  }();
  return *state;
}

uint64_t now_us(const SimState& s) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - s.epoch).count());
}

bool visible(const SimState& s, const SimPortSetup& device_setup) {
  return !(device_setup.unit && s.unplugged);
}

// Index in the device table of the n-th visible device, or -1.
int device_index(const SimState& s, const std::vector<SimPortSetup>& table, int n) {
  for (size_t i = 0; i < table.size(); ++i) {
    if (visible(s, table[i]) && n-- == 0) return static_cast<int>(i);
  }
  return -1;
}

int visible_count(const SimState& s, const std::vector<SimPortSetup>& table) {
  return static_cast<int>(std::count_if(table.begin(), table.end(), [&s](const SimPortSetup& device_setup) {
    return visible(s, device_setup);
  }));
}

// Queues a copy of the bytes in a spare buffer. Only a new first item wakes the timer thread: nobody else
// waits for the queue to grow.
void enqueue(SimState& s, uint64_t due_us, bool from_unit, int input, const uint8_t* bytes, size_t length,
             bool on_time = false) {
  Delivery delivery{due_us, s.next_order++, from_unit, on_time, input, {}};
  if (!s.spare.empty()) {
    delivery.bytes = std::move(s.spare.back());
    s.spare.pop_back();
  }
  delivery.bytes.assign(bytes, bytes + length);
  const auto earlier = [](const Delivery& a, const Delivery& b) {
    return a.due_us != b.due_us ? a.due_us < b.due_us : a.order < b.order;
  };
  const auto at = std::upper_bound(s.queue.begin(), s.queue.end(), delivery, earlier);
  const bool first = at == s.queue.begin();
  s.queue.insert(at, std::move(delivery));
  if (first) s.changed.notify_all();
}

// Open ports that a delivery goes to, in `targets`; each is counted as delivering until release_targets.
void claim_targets(SimState& s, const Delivery& delivery, std::vector<Port*>& targets) {
  targets.clear();
  if (delivery.from_unit && s.unplugged) return;
  for (auto& [id, port] : s.ports) {
    const SimPortSetup* device_setup =
        port.output ? nullptr : &s.setup.inputs[static_cast<size_t>(port.device)];
    if (!device_setup || port.closing || !visible(s, *device_setup)) continue;
    const bool match = delivery.from_unit ? device_setup->unit : port.device == delivery.input;
    if (!match) continue;
    ++port.delivering;
    targets.push_back(&port);
  }
  s.delivering += targets.empty() ? 0 : 1;
}

void release_targets(SimState& s, const std::vector<Port*>& targets) {
  for (Port* port : targets) --port->delivering;
  s.delivering -= targets.empty() ? 0 : 1;
  s.changed.notify_all();
}

// Whether an input that carries the unit's traffic is open: only then does the unit's time code go out.
bool unit_input_open(const SimState& s) {
  for (const auto& [id, port] : s.ports) {
    if (!port.output && !port.closing && s.setup.inputs[static_cast<size_t>(port.device)].unit) return true;
  }
  return false;
}

// The unit's time code that is due joins the queue; returns when more is due.
uint64_t queue_timecode(SimState& s) {
  const uint64_t next = unit_input_open(s) ? sim_unit_timecode_next_us(s.unit) : NEVER;
  const uint64_t now = now_us(s);
  if (next == NEVER || next > now) return next;
  sim_replies_clear(s.timecode);
  sim_unit_timecode(s.unit, now > TIMECODE_LATE_US ? now - TIMECODE_LATE_US : 0, now, s.timecode);
  for (const SimReplySpan& span : s.timecode.spans)
    enqueue(s, span.due_us, true, -1, s.timecode.bytes.data() + span.offset, span.length, true);
  return sim_unit_timecode_next_us(s.unit);
}

void timer_thread() {
  SimState& s = sim();
  std::vector<Port*> targets;
  targets.reserve(QUEUE_RESERVE);
  std::unique_lock<std::mutex> hold(s.lock);
  while (!s.stopping) {
    const uint64_t timecode_due = queue_timecode(s);
    const Clock::time_point timecode_at =
        timecode_due == NEVER ? Clock::time_point::max() : s.epoch + std::chrono::microseconds(timecode_due);
    if (s.queue.empty()) {
      if (timecode_due == NEVER) {
        s.changed.wait(hold);
      } else {
        s.changed.wait_until(hold, timecode_at);
      }
      continue;
    }
    const Clock::time_point due = s.epoch + std::chrono::microseconds(s.queue.front().due_us);
    const Clock::time_point hand_over = s.queue.front().on_time ? due : due - HAND_OVER_EARLY;
    if (Clock::now() < hand_over) {
      s.changed.wait_until(hold, std::min(hand_over, timecode_at));
      continue;
    }
    Delivery delivery = std::move(s.queue.front());
    s.queue.erase(s.queue.begin());
    claim_targets(s, delivery, targets);
    hold.unlock();
    for (Port* port : targets) {
      port->sink->arriving(port->sink, delivery.bytes.data(), static_cast<int>(delivery.bytes.size()), due);
    }
    hold.lock();
    release_targets(s, targets);
    s.spare.push_back(std::move(delivery.bytes));
  }
}

void stop_timer(SimState& s) {
  {
    std::lock_guard<std::mutex> hold(s.lock);
    s.stopping = true;
    s.changed.notify_all();
  }
  if (s.timer.joinable()) s.timer.join();
  std::lock_guard<std::mutex> hold(s.lock);
  s.stopping = false;
}

void start_timer_locked(SimState& s) {
  if (!s.timer.joinable()) s.timer = std::thread(timer_thread);
}

int output_count() {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  return visible_count(s, s.setup.outputs);
}

int input_count() {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  return visible_count(s, s.setup.inputs);
}

bool copy_name(const std::vector<SimPortSetup>& table, int index, char* name, int size) {
  if (index < 0 || size <= 0) return false;
  const std::string& text = table[static_cast<size_t>(index)].name;
  const size_t length = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(name, text.data(), length);
  name[length] = '\0';
  return true;
}

bool output_name(int device, char* name, int size) {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  return copy_name(s.setup.outputs, device_index(s, s.setup.outputs, device), name, size);
}

bool input_name(int device, char* name, int size) {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  return copy_name(s.setup.inputs, device_index(s, s.setup.inputs, device), name, size);
}

// Devices are exclusive: a second open of the same device answers MMSYSERR_ALLOCATED.
int open_port(bool output, int device, MidiSink* sink, int* port_id) {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  const std::vector<SimPortSetup>& table = output ? s.setup.outputs : s.setup.inputs;
  const int index = device_index(s, table, device);
  if (index < 0) return MMSYSERR_BADDEVICEID;
  if (table[static_cast<size_t>(index)].open_result) return table[static_cast<size_t>(index)].open_result;
  for (const auto& [id, port] : s.ports) {
    if (port.output == output && port.device == index) return MMSYSERR_ALLOCATED;
  }
  *port_id = s.next_port++;
  s.ports[*port_id] = Port{output, index, sink, false, 0};
  start_timer_locked(s);
  // The unit's time code goes out from now on.
  if (!output) s.changed.notify_all();
  return MMSYSERR_NOERROR;
}

int open_output(int device, int* port) { return open_port(true, device, nullptr, port); }

int open_input(int device, MidiSink* sink, int* port) { return open_port(false, device, sink, port); }

int close_output(int port_id) {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  const auto found = s.ports.find(port_id);
  if (found == s.ports.end()) return MMSYSERR_NOERROR;
  int& busy = s.close_busy_left[static_cast<size_t>(found->second.device)];
  if (busy > 0) {
    --busy;
    return MIDIERR_STILLPLAYING;
  }
  s.ports.erase(found);
  return MMSYSERR_NOERROR;
}

void close_input(int port_id) {
  SimState& s = sim();
  std::unique_lock<std::mutex> hold(s.lock);
  const auto found = s.ports.find(port_id);
  if (found == s.ports.end()) return;
  found->second.closing = true;
  s.changed.wait(hold, [&found] { return found->second.delivering == 0; });
  s.ports.erase(found);
}

bool port_gone(int port_id) {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  const auto found = s.ports.find(port_id);
  if (found == s.ports.end()) return true;
  const auto& table = found->second.output ? s.setup.outputs : s.setup.inputs;
  return !visible(s, table[static_cast<size_t>(found->second.device)]);
}

// Once the unit is unplugged, its replies handed to the layer but not due yet never arrive. Hand-overs in
// progress are waited for first, so that none comes after.
void withdraw_unit_replies(SimState& s, std::unique_lock<std::mutex>& hold) {
  s.changed.wait(hold, [&s] { return s.delivering == 0; });
  std::vector<Port*> inputs;
  for (auto& [id, port] : s.ports) {
    if (port.output || port.closing || !s.setup.inputs[static_cast<size_t>(port.device)].unit) continue;
    ++port.delivering;
    inputs.push_back(&port);
  }
  s.delivering += inputs.empty() ? 0 : 1;
  hold.unlock();
  for (Port* port : inputs) port->sink->withdraw(port->sink);
  hold.lock();
  release_targets(s, inputs);
}

// With answer_before_send_returns the replies go straight through the unit's open inputs on the sending
// thread, and the send returns once the callback has seen them.
void deliver_now(SimState& s, std::unique_lock<std::mutex>& hold) {
  Delivery all;
  all.from_unit = true;
  std::vector<Port*> targets;
  claim_targets(s, all, targets);
  const SimReplies replies = s.replies;  // another send may reuse s.replies once the lock is released
  hold.unlock();
  for (Port* port : targets) {
    for (const SimReplySpan& span : replies.spans) {
      port->sink->arrived(port->sink, replies.bytes.data() + span.offset, static_cast<int>(span.length));
    }
    port->sink->wait_delivered(port->sink);
  }
  hold.lock();
  release_targets(s, targets);
}

int send(int port_id, const uint8_t* bytes, int length) {
  SimState& s = sim();
  std::unique_lock<std::mutex> hold(s.lock);
  const auto found = s.ports.find(port_id);
  if (found == s.ports.end()) return MMSYSERR_NODRIVER;
  const int device = found->second.device;
  const SimPortSetup& device_setup = s.setup.outputs[static_cast<size_t>(device)];
  if (!visible(s, device_setup)) return MMSYSERR_NODRIVER;
  if (!device_setup.unit) {
    s.sent[static_cast<size_t>(device)].emplace_back(bytes, bytes + length);
    return MMSYSERR_NOERROR;
  }
  sim_replies_clear(s.replies);
  sim_unit_receive(s.unit, bytes, length, now_us(s), s.replies);
  if (s.unit.unplugged) {
    s.unplugged = true;
    withdraw_unit_replies(s, hold);
    return MMSYSERR_NODRIVER;
  }
  if (s.setup.answer_before_send_returns) {
    deliver_now(s, hold);
    return MMSYSERR_NOERROR;
  }
  for (const SimReplySpan& span : s.replies.spans) {
    enqueue(s, span.due_us, true, -1, s.replies.bytes.data() + span.offset, span.length);
  }
  return MMSYSERR_NOERROR;
}

void shutdown() { stop_timer(sim()); }

const MidiBackend sim_backend = {"sim",       output_count, input_count, output_name, input_name,
                                 open_output, close_output, send,        open_input,  close_input,
                                 port_gone,   port_gone,    shutdown};

}  // namespace

const MidiBackend* midi_backend_sim() { return &sim_backend; }

const MidiBackend* sim_start(const SimSetup& setup) {
  SimState& s = sim();
  stop_timer(s);
  {
    std::lock_guard<std::mutex> hold(s.lock);
    apply_setup(s, setup);
  }
  return &sim_backend;
}

void sim_with_unit(const std::function<void(SimUnit&)>& fn) {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  fn(s.unit);
}

SimUnit sim_unit_snapshot() {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.unit;
}

void sim_unplug() {
  SimState& s = sim();
  std::unique_lock<std::mutex> hold(s.lock);
  s.unplugged = true;
  s.unit.unplugged = true;
  drop_queued(s, true);
  s.changed.notify_all();
  withdraw_unit_replies(s, hold);
}

bool sim_unplugged() {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.unplugged;
}

void sim_inject(int input, const std::vector<uint8_t>& bytes, uint32_t delay_us) {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  start_timer_locked(s);
  enqueue(s, now_us(s) + delay_us, false, input, bytes.data(), bytes.size());
}

int sim_flush(uint32_t horizon_us) {
  SimState& s = sim();
  std::unique_lock<std::mutex> hold(s.lock);
  const uint64_t until = now_us(s) + horizon_us;  // horizon UINT32_MAX: everything queued
  s.changed.wait(
      hold, [&s, until] { return s.delivering == 0 && (s.queue.empty() || s.queue.front().due_us > until); });
  std::vector<Port*> targets;
  for (auto& [id, port] : s.ports) {
    if (port.output || port.closing) continue;
    ++port.delivering;
    targets.push_back(&port);
  }
  hold.unlock();
  for (Port* port : targets) port->sink->wait_delivered(port->sink);
  hold.lock();
  for (Port* port : targets) --port->delivering;
  s.changed.notify_all();
  return static_cast<int>(s.queue.size());
}

std::vector<std::vector<uint8_t>> sim_sent_to(int output) {
  SimState& s = sim();
  std::lock_guard<std::mutex> hold(s.lock);
  if (output < 0 || output >= static_cast<int>(s.sent.size())) return {};
  return s.sent[static_cast<size_t>(output)];
}
