// The simulated vexa unit as a user-mode WinMM MIDI driver, winevexa.drv: one MIDI output and one MIDI
// input, both named "vexa", in front of the host-independent unit of sim/unit.cpp.
//
// Under Wine, WinMM takes its MIDI driver from the audio driver that mmdevapi selects (registry value
// HKCU\Software\Wine\Drivers\Audio = "vexa" names this DLL), so besides DriverProc, modMessage and
// midMessage it exports the four entry points that mmdevapi asks every audio driver for, offering no
// audio endpoints. On Windows the same DLL can be registered as a "midiN" value under Drivers32.
//
// The test chooses the unit's behaviour and reads what it saw through the directory named by the
// environment variable VEXA_SIM_DIR (a Unix path is taken as one on Wine's drive Z:):
//   config        read once when the driver loads: one option a line, "NAME VALUE...", with the names
//                 of vexa-sim's options (sim/unit/options.h) and the driver's own (DRIVER_OPTIONS)
//   errors.log    the config lines that were refused, and why
//   received.log  written as they arrive: every message the unit received, "<ms since load> <hex bytes>"
//   replies.log   every message handed to the program ("dropped" when no buffer or port took it)
//   image.bin     the data packets the unit accepted, laid end to end, as it would have written them
//   events.log    with "trace 1": every driver message with its parameters and result
//   unplug        while this file exists the unit counts as unplugged (the unit's own scripts can
//                 also unplug it); a port that was open when the unit went stays dead
//
// This file holds the unit, its delivery thread and the entry points; what each port does with a driver
// message is in driver_ports.cpp.
//
// Threads: WinMM calls the entry points on the program's threads; one thread of the driver delivers
// the unit's replies through DriverCallback, one at a time, each when it is due. Open, close and reset
// callbacks run on the calling thread, as WinMM documents. One lock guards all driver state; it is
// never held across a callback into the program, whose input callback queues buffers again.
#include <windows.h>

#include <mmsystem.h>

#include <mmddk.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/unit/options.h"
#include "sim/unit/unit.h"
#include "sim/wine_driver/driver_internal.h"

// The exports: WinMM's driver entry points and the four that Wine's mmdevapi requires of every audio
// driver. Both look them up by their bare names; the link drops the 32-bit stdcall suffix (DriverProc@20)
// from the exported names (--kill-at), and the 64-bit names have none.
#define DRIVER_EXPORT __declspec(dllexport)
extern "C" {
BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message, DWORD_PTR instance,
                           DWORD_PTR param1, DWORD_PTR param2);
DRIVER_EXPORT LRESULT CALLBACK DriverProc(DWORD_PTR driver_id, HDRVR driver, UINT message, LPARAM param1,
                                          LPARAM param2);
DRIVER_EXPORT DWORD WINAPI modMessage(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1,
                                      DWORD_PTR param2);
DRIVER_EXPORT DWORD WINAPI midMessage(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1,
                                      DWORD_PTR param2);
DRIVER_EXPORT int WINAPI GetPriority(void);
DRIVER_EXPORT HRESULT WINAPI GetEndpointIDs(int flow, WCHAR*** ids, GUID** guids, UINT* count,
                                            UINT* default_index);
DRIVER_EXPORT HRESULT WINAPI GetAudioEndpoint(void* guid, void* device, void** client);
DRIVER_EXPORT HRESULT WINAPI GetAudioSessionManager(void* device, void** manager);
}

Port out_port;
Port in_port;
std::deque<MIDIHDR*> in_queue;
bool in_started = false;

namespace {

// mmdevapi's ranking of audio drivers: 3 is "preferred", so this driver wins whatever else is listed.
constexpr int DRIVER_PRIORITY_PREFERRED = 3;
// The unplug file is looked at on every port operation and this often by the delivery thread.
constexpr DWORD UNPLUG_POLL_MS = 50;
// Time code that the delivery thread comes to later than this is lost, as on a cable.
constexpr uint64_t TIMECODE_LATE_US = 250000;

CRITICAL_SECTION driver_lock;
bool loaded = false;
bool trace = false;
std::string sim_dir;
FILE* received_file = nullptr;
FILE* replies_file = nullptr;
FILE* events_file = nullptr;
size_t image_packets_written = 0;

SimUnit unit;
bool unplug_file_seen = false;
uint64_t in_start_us = 0;
// Replies waiting for their time, in the order the unit sent them among equal times.
std::multimap<uint64_t, std::vector<uint8_t>> pending;
// The unit's time code (the option timecode), sent while the input is started; what fell due meanwhile is
// lost, as on a cable.
SimReplies timecode;

HANDLE wake_event = nullptr;
HANDLE delivery_thread = nullptr;
DWORD delivery_thread_id = 0;
bool delivering = false;  // a data callback is running on the delivery thread
LARGE_INTEGER clock_start;
LARGE_INTEGER clock_frequency;

class Lock {
 public:
  Lock() { EnterCriticalSection(&driver_lock); }
  ~Lock() { LeaveCriticalSection(&driver_lock); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
};

uint64_t now_us() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const uint64_t ticks = static_cast<uint64_t>(now.QuadPart - clock_start.QuadPart);
  const uint64_t frequency = static_cast<uint64_t>(clock_frequency.QuadPart);
  return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

std::string sim_path(const char* name) { return sim_dir + "\\" + name; }

FILE* open_output(const char* name) {
  if (sim_dir.empty()) return nullptr;
  return fopen(sim_path(name).c_str(), "wb");
}

void trace_event(const char* format, ...) {
  if (events_file == nullptr) return;
  fprintf(events_file, "%.3f ", static_cast<double>(now_us()) / 1000.0);
  va_list args;
  va_start(args, format);
  vfprintf(events_file, format, args);
  va_end(args);
  fputc('\n', events_file);
  fflush(events_file);
}

void log_message(FILE* file, const char* tag, const uint8_t* bytes, size_t length) {
  if (file == nullptr) return;
  fprintf(file, "%.3f%s", static_cast<double>(now_us()) / 1000.0, tag);
  for (size_t i = 0; i < length; ++i) fprintf(file, " %02X", bytes[i]);
  fputc('\n', file);
  fflush(file);
}

// Keeps image.bin equal to the packets the unit holds: appended as packets are accepted, emptied when
// the unit erases.
void update_image_file() {
  if (sim_dir.empty() || unit.packets.size() == image_packets_written) return;
  const bool restart = unit.packets.size() < image_packets_written;
  FILE* image = fopen(sim_path("image.bin").c_str(), restart ? "wb" : "ab");
  if (image == nullptr) return;
  if (restart) image_packets_written = 0;
  for (; image_packets_written < unit.packets.size(); ++image_packets_written) {
    const std::vector<uint8_t>& packet = unit.packets[image_packets_written];
    fwrite(packet.data(), 1, packet.size(), image);
  }
  fclose(image);
}

// The driver's own options, read from the config file beside the unit's.
const SimOption DRIVER_OPTIONS[] = {
    {"trace", 0, "", "every driver message with its parameters and result into events.log",
     [](SimConfig&, const char* const*) {
       trace = true;
       return true;
     }},
};

// Reads the config file; a refused line leaves the unit as the other lines make it and goes into
// errors.log, which the tests look at.
void read_config(SimConfig& config) {
  FILE* file = fopen(sim_path("config").c_str(), "rb");
  if (file == nullptr) return;
  FILE* errors = nullptr;
  char line[512];
  for (int number = 1; fgets(line, sizeof line, file) != nullptr; ++number) {
    std::string bad;
    const SimOptionResult result = sim_read_config_line(config, line, DRIVER_OPTIONS, bad);
    if (result == SIM_OPTION_OK) continue;
    if (errors == nullptr) errors = open_output("errors.log");
    if (errors != nullptr) {
      fprintf(errors, "config line %d: %s: %s\n", number, bad.c_str(), sim_option_problem(result));
    }
  }
  if (errors != nullptr) fclose(errors);
  fclose(file);
}

// Reads the test's choices and opens the output files; runs once, under the lock.
void ensure_loaded() {
  if (loaded) return;
  loaded = true;
  QueryPerformanceFrequency(&clock_frequency);
  QueryPerformanceCounter(&clock_start);
  char directory[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA("VEXA_SIM_DIR", directory, sizeof directory);
  if (length > 0 && length < sizeof directory) {
    sim_dir = directory[0] == '/' ? std::string("Z:") + directory : std::string(directory);
  }
  SimConfig config;
  if (!sim_dir.empty()) read_config(config);
  sim_unit_init(unit, config);
  received_file = open_output("received.log");
  replies_file = open_output("replies.log");
  if (trace) events_file = open_output("events.log");
  trace_event("loaded dir=%s latency_us=%u mode=%s", sim_dir.c_str(), config.reply_latency_us,
              config.mode == SimMode::Boot ? "boot" : "running");
}

// Hands one reply to the program: a SysEx fills the queued buffers in turn (the message ends a buffer,
// and one longer than a buffer goes on in the next), anything else goes out as a short message.
void deliver(const std::vector<uint8_t>& bytes) {
  const bool present = unit_present();
  if (bytes.empty() || !present || !in_port.open || in_port.dead || !in_started) {
    log_message(replies_file, " dropped", bytes.data(), bytes.size());
    return;
  }
  const DWORD stamp = static_cast<DWORD>((now_us() - in_start_us) / 1000);
  if (bytes[0] != 0xF0) {
    DWORD packed = 0;
    for (size_t i = 0; i < bytes.size() && i < 3; ++i) packed |= static_cast<DWORD>(bytes[i]) << (8 * i);
    log_message(replies_file, "", bytes.data(), bytes.size());
    callback_unlocked(in_port, MIM_DATA, packed, stamp);
    return;
  }
  size_t offset = 0;
  while (offset < bytes.size()) {
    if (in_queue.empty()) {
      log_message(replies_file, " dropped", bytes.data() + offset, bytes.size() - offset);
      return;
    }
    MIDIHDR* header = in_queue.front();
    in_queue.pop_front();
    const size_t count = std::min<size_t>(header->dwBufferLength, bytes.size() - offset);
    memcpy(header->lpData, bytes.data() + offset, count);
    header->dwBytesRecorded = static_cast<DWORD>(count);
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    log_message(replies_file, "", bytes.data() + offset, count);
    offset += count;
    callback_unlocked(in_port, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), stamp);
    if (!in_port.open || !in_started) return;
  }
}

DWORD WINAPI delivery_loop(LPVOID) {
  EnterCriticalSection(&driver_lock);
  for (;;) {
    const uint64_t now = now_us();
    if (!pending.empty() && pending.begin()->first <= now) {
      const std::vector<uint8_t> bytes = std::move(pending.begin()->second);
      pending.erase(pending.begin());
      deliver(bytes);
      continue;
    }
    const bool listening = in_port.open && in_started;
    const uint64_t timecode_due = listening ? sim_unit_timecode_next_us(unit) : UINT64_MAX;
    if (timecode_due <= now) {
      sim_replies_clear(timecode);
      const uint64_t late = now > TIMECODE_LATE_US ? now - TIMECODE_LATE_US : 0;
      sim_unit_timecode(unit, std::max(late, in_start_us), now, timecode);
      for (const SimReplySpan& span : timecode.spans) {
        const uint8_t* first = timecode.bytes.data() + span.offset;
        deliver(std::vector<uint8_t>(first, first + span.length));
      }
      continue;
    }
    unit_present();
    DWORD wait = UNPLUG_POLL_MS;
    uint64_t next = std::min(pending.empty() ? UINT64_MAX : pending.begin()->first, timecode_due);
    if (next != UINT64_MAX) {
      const uint64_t ahead = next > now ? (next - now + 999) / 1000 : 0;
      if (ahead < wait) wait = static_cast<DWORD>(ahead);
    }
    LeaveCriticalSection(&driver_lock);
    WaitForSingleObject(wake_event, wait);
    EnterCriticalSection(&driver_lock);
  }
}

}  // namespace

bool unit_present() {
  if (!sim_dir.empty()) {
    const bool file = GetFileAttributesA(sim_path("unplug").c_str()) != INVALID_FILE_ATTRIBUTES;
    if (file != unplug_file_seen) trace_event("unplug file %s", file ? "appeared" : "removed");
    unplug_file_seen = file;
  }
  const bool present = !unplug_file_seen && !unit.unplugged;
  if (!present) {
    if (out_port.open && !out_port.dead) trace_event("output port dead");
    if (in_port.open && !in_port.dead) trace_event("input port dead");
    out_port.dead = out_port.open;
    in_port.dead = in_port.open;
  }
  return present;
}

void callback_unlocked(const Port& port, DWORD message, DWORD_PTR param1, DWORD_PTR param2) {
  const Port copy = port;
  const bool data = GetCurrentThreadId() == delivery_thread_id;
  if (data) delivering = true;
  LeaveCriticalSection(&driver_lock);
  DriverCallback(copy.callback, copy.callback_flags, copy.handle, message, copy.instance, param1, param2);
  EnterCriticalSection(&driver_lock);
  if (data) delivering = false;
}

void wait_for_delivery() {
  if (GetCurrentThreadId() == delivery_thread_id) return;
  while (delivering) {
    LeaveCriticalSection(&driver_lock);
    Sleep(1);
    EnterCriticalSection(&driver_lock);
  }
}

void ensure_delivery_thread() {
  if (delivery_thread != nullptr) return;
  wake_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  delivery_thread = CreateThread(nullptr, 0, delivery_loop, nullptr, 0, &delivery_thread_id);
}

void unit_receive(const uint8_t* bytes, size_t length) {
  log_message(received_file, "", bytes, length);
  std::vector<SimReply> replies;
  sim_unit_receive(unit, bytes, static_cast<int>(length), now_us(), replies);
  update_image_file();
  if (unit.unplugged) unit_present();
  for (SimReply& reply : replies) pending.emplace(reply.due_us, std::move(reply.bytes));
  if (!replies.empty() && wake_event != nullptr) SetEvent(wake_event);
}

void start_input() {
  in_started = true;
  in_start_us = now_us();
  if (wake_event != nullptr) SetEvent(wake_event);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&driver_lock);
  return TRUE;
}

LRESULT CALLBACK DriverProc(DWORD_PTR driver_id, HDRVR driver, UINT message, LPARAM param1, LPARAM param2) {
  switch (message) {
    case DRV_LOAD: {
      Lock lock;
      ensure_loaded();
      return 1;
    }
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_OPEN:
    case DRV_CLOSE:
      return 1;
    case DRV_QUERYCONFIGURE:
      return 0;
    case DRV_CONFIGURE:
    case DRV_INSTALL:
    case DRV_REMOVE:
      return DRVCNF_OK;
    default:
      return DefDriverProc(driver_id, driver, message, param1, param2);
  }
}

DWORD WINAPI modMessage(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
  Lock lock;
  ensure_loaded();
  const DWORD result = output_message(device, message, user, param1, param2);
  if (trace)
    trace_event("mod %u %u %#" PRIxPTR " %#" PRIxPTR " -> %lu", device, message,
                static_cast<uintptr_t>(param1), static_cast<uintptr_t>(param2),
                static_cast<unsigned long>(result));
  return result;
}

DWORD WINAPI midMessage(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
  Lock lock;
  ensure_loaded();
  const DWORD result = input_message(device, message, user, param1, param2);
  if (trace)
    trace_event("mid %u %u %#" PRIxPTR " %#" PRIxPTR " -> %lu", device, message,
                static_cast<uintptr_t>(param1), static_cast<uintptr_t>(param2),
                static_cast<unsigned long>(result));
  return result;
}

int WINAPI GetPriority(void) { return DRIVER_PRIORITY_PREFERRED; }

HRESULT WINAPI GetEndpointIDs(int, WCHAR*** ids, GUID** guids, UINT* count, UINT* default_index) {
  if (ids != nullptr) *ids = nullptr;
  if (guids != nullptr) *guids = nullptr;
  if (count != nullptr) *count = 0;
  if (default_index != nullptr) *default_index = 0;
  return S_OK;
}

HRESULT WINAPI GetAudioEndpoint(void*, void*, void** client) {
  if (client != nullptr) *client = nullptr;
  return E_NOTIMPL;
}

HRESULT WINAPI GetAudioSessionManager(void*, void** manager) {
  if (manager != nullptr) *manager = nullptr;
  return E_NOTIMPL;
}
