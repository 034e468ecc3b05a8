// vexa-sim: the simulated vexa unit as a MIDI device of its own. It opens an output and an input port,
// both named "vexa" (or --name), on JACK or the ALSA sequencer and answers what it receives as the unit
// does (sim/unit.h), each reply after the configured latency, and sends the MIDI time code of its time code
// input (--timecode) as it falls due. SIGTERM, SIGINT and SIGHUP are the unit
// being unplugged: both ports vanish and the program exits with 0; so does a fault that unplugs the unit.
#include <RtMidi.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/unit/options.h"
#include "sim/unit/unit.h"

namespace {

using Clock = std::chrono::steady_clock;

// Time code that the reply thread comes to later than this is lost, as on a cable.
constexpr uint64_t TIMECODE_LATE_US = 250000;

// A unit that runs for hours keeps no copy of every message it received; --log writes them instead.
SimConfig without_history() {
  SimConfig config;
  config.keep_history = false;
  return config;
}

struct Options {
  RtMidi::Api api = RtMidi::UNIX_JACK;
  std::string name = "vexa";
  std::string log_path;
  bool help = false;
  bool version = false;
  SimConfig config = without_history();
};

Options options;

bool set_api(SimConfig&, const char* const* values) {
  const std::string api = values[0];
  if (api == "jack") options.api = RtMidi::UNIX_JACK;
  if (api == "alsa") options.api = RtMidi::LINUX_ALSA;
  return api == "jack" || api == "alsa";
}

// This program's own options; the unit's follow them (sim/unit/options.h).
const SimOption HOST_OPTIONS[] = {
    {"help", 0, "", "print these lines and exit",
     [](SimConfig&, const char* const*) {
       options.help = true;
       return true;
     }},
    {"version", 0, "", "print the program's version and exit",
     [](SimConfig&, const char* const*) {
       options.version = true;
       return true;
     }},
    {"api", 1, "jack|alsa", "the MIDI service (default: VEXA_MIDI when it names one, else jack)", set_api},
    {"name", 1, "NAME", "the name of the client and both ports (default vexa)",
     [](SimConfig&, const char* const* values) {
       options.name = values[0];
       return !options.name.empty();
     }},
    {"log", 1, "FILE",
     "log every message: \"rx\" or \"tx\", its bytes in hex, \"@\" and the ms since the start",
     [](SimConfig&, const char* const* values) {
       options.log_path = values[0];
       return !options.log_path.empty();
     }},
};

// The unit and the replies that are not due yet; the reply thread sends them, and the unit's time code as
// it falls due.
struct Host {
  std::mutex lock;
  std::condition_variable changed;
  SimUnit unit;
  std::vector<SimReply> pending;  // sorted by due time, in sending order for equal times
  SimReplies timecode;            // the time code due now
  bool stopping = false;
  std::vector<uint8_t> sysex;  // a SysEx that arrives in pieces
  bool in_sysex = false;
  FILE* log = nullptr;
  Clock::time_point epoch = Clock::now();
  RtMidiOut* out = nullptr;
};

Host host;

uint64_t now_us() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - host.epoch).count());
}

// Reads the command line into `options`; a wrong word is named in one line on stderr.
bool parse_options(int argc, char** argv) {
  if (const char* env = std::getenv("VEXA_MIDI"); env && std::strcmp(env, "alsa") == 0)
    options.api = RtMidi::LINUX_ALSA;
  std::string bad;
  const SimOptionResult result =
      sim_read_options(options.config, std::span<const char* const>(argv + 1, static_cast<size_t>(argc - 1)),
                       "--", HOST_OPTIONS, bad);
  if (result == SIM_OPTION_OK) return true;
  std::fprintf(stderr, "vexa-sim: %s: %s (vexa-sim --help lists the options)\n", bad.c_str(),
               sim_option_problem(result));
  return false;
}

// The manual page and the bash completion are made from these lines (packaging/): a heading ends in a
// colon, an option's line starts with two blanks and its dashes.
void print_help() {
  std::printf(
      "Usage: vexa-sim [options]\n"
      "\n"
      "The simulated vexa unit as a MIDI device of its own: an output and an input port of one name on JACK\n"
      "or the ALSA sequencer, answering as the unit does. SIGTERM, SIGINT or SIGHUP unplug it.\n"
      "\n"
      "Options:\n"
      "%s"
      "\n"
      "Environment:\n"
      "  VEXA_MIDI   the MIDI service when --api is not given (jack or alsa)\n",
      sim_options_help("--", HOST_OPTIONS).c_str());
}

// "rx" for a message that the unit received, "tx" for one that it sent.
void log_message(const char* direction, const std::vector<uint8_t>& bytes) {
  if (!host.log) return;
  std::fputs(direction, host.log);
  for (uint8_t byte : bytes) std::fprintf(host.log, " %02X", byte);
  std::fprintf(host.log, " @%.3f\n", static_cast<double>(now_us()) / 1000.0);
  std::fflush(host.log);
}

// One whole message to the unit; its replies join the queue in order of their due times.
void to_unit_locked(const std::vector<uint8_t>& message) {
  log_message("rx", message);
  std::vector<SimReply> replies;
  sim_unit_receive(host.unit, message.data(), static_cast<int>(message.size()), now_us(), replies);
  for (SimReply& reply : replies) {
    auto at = host.pending.begin();
    while (at != host.pending.end() && at->due_us <= reply.due_us) ++at;
    host.pending.insert(at, std::move(reply));
  }
  host.changed.notify_all();
  if (host.unit.unplugged) kill(getpid(), SIGTERM);
}

// RtMidi hands over whole messages, but a long SysEx may come in pieces; realtime bytes are not for the unit.
void on_input(double, std::vector<unsigned char>* message, void*) {
  if (!message || message->empty()) return;
  std::lock_guard<std::mutex> hold(host.lock);
  if (!host.in_sysex && (*message)[0] != 0xF0) {
    if ((*message)[0] < 0xF8) to_unit_locked(*message);
    return;
  }
  for (uint8_t byte : *message) {
    if (byte >= 0xF8) continue;
    if (byte == 0xF0) {
      host.sysex.assign(1, byte);
      host.in_sysex = true;
    } else if (host.in_sysex) {
      host.sysex.push_back(byte);
      if (byte == 0xF7) {
        host.in_sysex = false;
        to_unit_locked(host.sysex);
      } else if (byte >= 0x80) {
        host.in_sysex = false;  // cut off by another status: not a message for the unit
      }
    }
  }
}

void send_out(const uint8_t* bytes, size_t length) {
  if (host.log) log_message("tx", std::vector<uint8_t>(bytes, bytes + length));
  try {
    host.out->sendMessage(bytes, length);
  } catch (const RtMidiError&) {
    // A message that cannot go out is lost, as on a cable.
  }
}

// The unit's time code that is due goes out now; returns when more is due.
uint64_t send_timecode() {
  const uint64_t now = now_us();
  if (sim_unit_timecode_next_us(host.unit) > now) return sim_unit_timecode_next_us(host.unit);
  sim_replies_clear(host.timecode);
  sim_unit_timecode(host.unit, now > TIMECODE_LATE_US ? now - TIMECODE_LATE_US : 0, now, host.timecode);
  for (const SimReplySpan& span : host.timecode.spans)
    send_out(host.timecode.bytes.data() + span.offset, span.length);
  return sim_unit_timecode_next_us(host.unit);
}

void reply_thread() {
  std::unique_lock<std::mutex> hold(host.lock);
  while (!host.stopping) {
    const uint64_t timecode_due = send_timecode();
    const uint64_t due = host.pending.empty() ? UINT64_MAX : host.pending.front().due_us;
    if (now_us() < due) {
      const uint64_t next = std::min(due, timecode_due);
      if (next == UINT64_MAX) {
        host.changed.wait(hold);
      } else {
        host.changed.wait_until(hold, host.epoch + std::chrono::microseconds(next));
      }
      continue;
    }
    const SimReply reply = std::move(host.pending.front());
    host.pending.erase(host.pending.begin());
    send_out(reply.bytes.data(), reply.bytes.size());
  }
}

// With an error callback the library reports here instead of throwing; failures end the start-up below.
std::atomic<bool> failed{false};
void report_error(RtMidiError::Type type, const std::string& text, void*) {
  std::fprintf(stderr, "vexa-sim: %s\n", text.c_str());
  if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) failed = true;
}

// Opens the two virtual ports; false (having said why) when they cannot be made.
bool open_ports(std::unique_ptr<RtMidiIn>& in, std::unique_ptr<RtMidiOut>& out) {
  try {
    in = std::make_unique<RtMidiIn>(options.api, options.name);
    out = std::make_unique<RtMidiOut>(options.api, options.name);
    in->setErrorCallback(report_error, nullptr);
    out->setErrorCallback(report_error, nullptr);
    in->ignoreTypes(false, false, false);
    in->setCallback(on_input, nullptr);
    in->openVirtualPort(options.name);
    out->openVirtualPort(options.name);
  } catch (const RtMidiError& error) {
    std::fprintf(stderr, "vexa-sim: %s\n", error.getMessage().c_str());
    return false;
  }
  if (failed) {
    std::fprintf(stderr, "vexa-sim: cannot open the ports on %s\n",
                 RtMidi::getApiDisplayName(options.api).c_str());
    return false;
  }
  return true;
}

// The ports vanish: the replies stop, then the input goes and the output closes.
void unplug(std::thread& replies, std::unique_ptr<RtMidiIn>& in, std::unique_ptr<RtMidiOut>& out) {
  {
    std::lock_guard<std::mutex> hold(host.lock);
    host.stopping = true;
    host.changed.notify_all();
  }
  replies.join();
  in->cancelCallback();
  in.reset();
  // The output is closed but not destroyed: destroying a JACK output while the server's process thread
  // still runs its callback makes that callback read freed memory. The process ends right after.
  out->closePort();
  (void)out.release();
}

}  // namespace

int main(int argc, char** argv) {
  if (!parse_options(argc, argv)) return 2;
  if (options.help) {
    print_help();
    return 0;
  }
  if (options.version) {
    std::printf("vexa-sim %s\n", VEXA_VERSION);
    return 0;
  }
  if (!options.log_path.empty()) {
    host.log = std::fopen(options.log_path.c_str(), "w");
    if (!host.log) {
      std::perror(options.log_path.c_str());
      return 1;
    }
  }
  sim_unit_init(host.unit, options.config);

  // The unplugging signals are taken by sigwait below; every thread inherits the blocked set.
  sigset_t unplug_signals;
  sigemptyset(&unplug_signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&unplug_signals, s);
  pthread_sigmask(SIG_BLOCK, &unplug_signals, nullptr);
  if (options.api == RtMidi::UNIX_JACK) setenv("JACK_NO_START_SERVER", "1", 0);

  std::unique_ptr<RtMidiIn> in;
  std::unique_ptr<RtMidiOut> out;
  if (!open_ports(in, out)) return 1;
  host.out = out.get();
  std::thread replies(reply_thread);
  std::printf("vexa-sim: ready as \"%s\" on %s\n", options.name.c_str(),
              RtMidi::getApiDisplayName(options.api).c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&unplug_signals, &received);
  unplug(replies, in, out);
  std::printf("vexa-sim: unplugged\n");
  if (host.log) std::fclose(host.log);
  return 0;
}
