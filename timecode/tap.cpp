// The tap: each open input gets a sink of the tap's own, which hands the bytes to the reader and then to
// the WINMM layer's sink. Everything else goes straight to the wrapped back-end.
#include "timecode/tap.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// More inputs than anybody opens at once; an open beyond them is passed through without the reader.
constexpr int SLOTS = 16;

struct Slot {
  MidiSink own;
  MidiSink* outer = nullptr;
  int port = 0;
  bool used = false;
};

struct Tap {
  std::mutex lock;  // the reader and the slots' use; never held while calling the wrapped back-end
  TimecodeReader reader;
  const MidiBackend* inner = nullptr;
  MidiBackend wrapped{};
  Slot slots[SLOTS];
};

// Created once and never destroyed: the layer's exit handler may call in during static destruction.
Tap& tap() {
  static Tap* state = new Tap;
  return *state;
}

// The steady clock's own count: bytes that a back-end stamped before the tap began keep their times.
uint64_t us_of(Clock::time_point at) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count());
}

void feed(const uint8_t* bytes, int length, Clock::time_point at) {
  Tap& t = tap();
  std::lock_guard<std::mutex> hold(t.lock);
  timecode_feed(t.reader, bytes, length, us_of(at));
}

MidiSink* outer_of(MidiSink* sink) { return static_cast<Slot*>(sink->context)->outer; }

void arrived(MidiSink* sink, const uint8_t* bytes, int length) {
  feed(bytes, length, Clock::now());
  outer_of(sink)->arrived(outer_of(sink), bytes, length);
}

// Bytes handed over late arrive now: the reader sees them when the program's input does.
void arriving(MidiSink* sink, const uint8_t* bytes, int length, Clock::time_point at) {
  feed(bytes, length, std::max(at, Clock::now()));
  outer_of(sink)->arriving(outer_of(sink), bytes, length, at);
}

void withdraw(MidiSink* sink) { outer_of(sink)->withdraw(outer_of(sink)); }

void wait_delivered(MidiSink* sink) { outer_of(sink)->wait_delivered(outer_of(sink)); }

const MidiBackend& inner() { return *tap().inner; }

int output_count() { return inner().output_count(); }
int input_count() { return inner().input_count(); }
bool output_name(int device, char* name, int size) { return inner().output_name(device, name, size); }
bool input_name(int device, char* name, int size) { return inner().input_name(device, name, size); }
int open_output(int device, int* port) { return inner().open_output(device, port); }
int close_output(int port) { return inner().close_output(port); }
int send(int port, const uint8_t* bytes, int length) { return inner().send(port, bytes, length); }
bool output_gone(int port) { return inner().output_gone(port); }
bool input_gone(int port) { return inner().input_gone(port); }
void shutdown() { inner().shutdown(); }

Slot* take_slot(MidiSink* outer) {
  Tap& t = tap();
  std::lock_guard<std::mutex> hold(t.lock);
  for (Slot& slot : t.slots) {
    if (slot.used) continue;
    slot.used = true;
    slot.outer = outer;
    slot.port = 0;
    slot.own = MidiSink{&slot, arrived, arriving, withdraw, wait_delivered};
    return &slot;
  }
  return nullptr;
}

void give_back(Slot* slot) {
  std::lock_guard<std::mutex> hold(tap().lock);
  slot->used = false;
}

int open_input(int device, MidiSink* sink, int* port) {
  Slot* slot = take_slot(sink);
  if (slot == nullptr) return inner().open_input(device, sink, port);
  const int result = inner().open_input(device, &slot->own, port);
  if (result != 0) {
    give_back(slot);
    return result;
  }
  std::lock_guard<std::mutex> hold(tap().lock);
  slot->port = *port;
  return result;
}

void close_input(int port) {
  inner().close_input(port);
  std::lock_guard<std::mutex> hold(tap().lock);
  for (Slot& slot : tap().slots) {
    if (slot.used && slot.port == port) slot.used = false;
  }
}

}  // namespace

const MidiBackend* timecode_tap(const MidiBackend* wrapped) {
  Tap& t = tap();
  if (wrapped == &t.wrapped) return wrapped;
  std::lock_guard<std::mutex> hold(t.lock);
  t.inner = wrapped;
  t.wrapped = MidiBackend{wrapped->name, output_count, input_count, output_name, input_name,
                          open_output,   close_output, send,        open_input,  close_input,
                          output_gone,   input_gone,   shutdown};
  t.reader = TimecodeReader{};
  return &t.wrapped;
}

uint64_t timecode_tap_now_us() { return us_of(Clock::now()); }

void timecode_tap_with(const std::function<void(TimecodeReader& reader, uint64_t now_us)>& fn) {
  const uint64_t now = timecode_tap_now_us();
  Tap& t = tap();
  std::lock_guard<std::mutex> hold(t.lock);
  timecode_advance(t.reader, now);
  fn(t.reader, now);
}

std::string timecode_tap_line() {
  std::string line;
  timecode_tap_with(
      [&line](TimecodeReader& reader, uint64_t) { line = timecode_line(timecode_shown(reader)); });
  return line;
}
