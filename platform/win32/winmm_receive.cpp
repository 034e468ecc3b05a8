// WINMM for Linux: what an input does with the bytes that the back-end hands it.
//
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
// - Bytes that a back-end knows to be due later (MidiSink::arriving) wait in the input's queue until
//   their time; the input thread sleeps until shortly before it and spins the rest, so that the callback
//   comes on time.
#include <algorithm>
#include <mutex>
#include <thread>

#include "platform/win32/winmm_internal.h"

namespace {

// An input thread waiting for bytes due at a known time sleeps until this long before it, then spins: a
// wake-up from sleep can come late by about this much.
constexpr auto ARRIVAL_SPIN = std::chrono::microseconds(100);

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

}  // namespace

DWORD since_start(const InputPort& port, Clock::time_point when) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - port.start_time).count();
  return ms < 0 ? 0 : static_cast<DWORD>(ms);
}

MIDIHDR* take_first_buffer(InputPort& port) {
  MIDIHDR* header = port.queue.front();
  port.queue.pop_front();
  clear_flags(header, MHDR_INQUEUE);
  set_flags(header, MHDR_DONE);
  return header;
}

int data_bytes_of(uint8_t status) {
  if (status < 0xC0 || (status >= 0xE0 && status < 0xF0) || status == 0xF2) return 2;
  if (status < 0xE0 || status == 0xF1 || status == 0xF3) return 1;
  return 0;
}

void reset_parser(InputPort& port) {
  port.sysex = Sysex::None;
  port.running_status = 0;
  port.short_status = 0;
  port.short_have = 0;
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

void end_input_thread(InputPort* port) {
  if (std::this_thread::get_id() == port->thread_id) {
    std::lock_guard<std::mutex> hold(layer_lock);
    port->self_delete = true;
    port->thread.detach();
    return;
  }
  port->thread.join();
}

MidiSink receive_sink(InputPort* port) {
  return MidiSink{port, sink_arrived, sink_arriving, sink_withdraw, sink_wait_delivered};
}
