// vexa-sim: the simulated vexa unit as a MIDI device of its own. It opens an output and an input port,
// both named "vexa" (or --name), on JACK or the ALSA sequencer and answers what it receives as the unit
// does (sim/unit.h), each reply after the configured latency. SIGTERM, SIGINT and SIGHUP are the unit
// being unplugged: both ports vanish and the program exits with 0; so does a fault that unplugs the unit.
#include <RtMidi.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/unit/unit.h"

namespace {

const char USAGE[] =
    "Usage: vexa-sim [options]\n"
    "\n"
    "The simulated vexa unit as a MIDI device of its own: an output and an input port of one name on JACK\n"
    "or the ALSA sequencer, answering as the unit does. SIGTERM, SIGINT or SIGHUP unplug it.\n"
    "\n"
    "Options:\n"
    "  --api jack|alsa          MIDI service (default: VEXA_MIDI when it names one, else jack)\n"
    "  --name NAME              name of the client and both ports (default vexa)\n"
    "  --latency-ms N           every reply comes N ms after its message (default 1)\n"
    "  --erase-ms N             erasing takes N ms (default 300)\n"
    "  --update-mode            start in the boot loader, as with both keys held\n"
    "  --boot-code 31|32        boot loader's status code, decimal (default 31)\n"
    "  --firmware X.Y           firmware version held (default 3.1)\n"
    "  --no-firmware            no valid firmware (version bytes 7F 7F)\n"
    "  --set PARAM=VALUE        start value of a setting, PARAM its byte (0x52..0x5D), VALUE decimal\n"
    "  --nak-packet K           packet K (0-based) is refused ...\n"
    "  --nak-times N            ... N times before it is taken (default 1)\n"
    "  --timeout-packet K       packet K goes unanswered ...\n"
    "  --timeout-times N        ... N times (default 1)\n"
    "  --verify normal|running|no-firmware|partial|silence   answer to the status query after writing\n"
    "  --finish-silence         the finish message is not answered\n"
    "  --status-silence N       the first N status queries are not answered\n"
    "  --unplug-after N         the unit is unplugged once N packets are written\n"
    "  --log FILE               log every message: \"rx\" or \"tx\", its bytes in hex, \"@\" and the ms "
    "since start\n"
    "  --version                print the program's version and exit\n"
    "  --help                   print this and exit\n"
    "\n"
    "Environment:\n"
    "  VEXA_MIDI   the MIDI service when --api is not given (jack or alsa)\n";

using Clock = std::chrono::steady_clock;

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
  SimConfig config = without_history();
  int nak_packet = -1, nak_times = 1;
  int timeout_packet = -1, timeout_times = 1;
};

// The unit and the replies that are not due yet; the reply thread sends them.
struct Host {
  std::mutex lock;
  std::condition_variable changed;
  SimUnit unit;
  std::vector<SimReply> pending;  // sorted by due time, in sending order for equal times
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

bool parse_int(const char* text, int& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 0);
  if (!text[0] || *end) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool parse_version(const char* text, uint8_t version[2]) {
  if (std::strlen(text) != 3 || text[1] != '.') return false;
  version[0] = static_cast<uint8_t>(text[0]);
  version[1] = static_cast<uint8_t>(text[2]);
  return true;
}

bool parse_options(int argc, char** argv, Options& o) {
  if (const char* env = std::getenv("VEXA_MIDI"); env && std::strcmp(env, "alsa") == 0)
    o.api = RtMidi::LINUX_ALSA;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    int number = 0;
    auto take_number = [&](int& target) {
      if (!value || !parse_int(value, number)) return false;
      target = number;
      ++i;
      return true;
    };
    if (arg == "--update-mode") {
      o.config.mode = SimMode::Boot;
    } else if (arg == "--no-firmware") {
      o.config.version[0] = o.config.version[1] = 0x7F;
    } else if (arg == "--finish-silence") {
      o.config.finish_silence = true;
    } else if (!value) {
      return false;
    } else if (arg == "--api") {
      if (std::strcmp(value, "jack") == 0)
        o.api = RtMidi::UNIX_JACK;
      else if (std::strcmp(value, "alsa") == 0)
        o.api = RtMidi::LINUX_ALSA;
      else
        return false;
      ++i;
    } else if (arg == "--name") {
      o.name = value;
      ++i;
    } else if (arg == "--log") {
      o.log_path = value;
      ++i;
    } else if (arg == "--firmware") {
      if (!parse_version(value, o.config.version)) return false;
      ++i;
    } else if (arg == "--verify") {
      const std::string v = value;
      if (v == "normal")
        o.config.verify_answer = SimVerifyAnswer::Normal;
      else if (v == "running")
        o.config.verify_answer = SimVerifyAnswer::Running;
      else if (v == "no-firmware")
        o.config.verify_answer = SimVerifyAnswer::BootNoFirmware;
      else if (v == "partial")
        o.config.verify_answer = SimVerifyAnswer::BootPartial;
      else if (v == "silence")
        o.config.verify_answer = SimVerifyAnswer::Silence;
      else
        return false;
      ++i;
    } else if (arg == "--set") {
      const char* equals = std::strchr(value, '=');
      int param = 0, setting = 0;
      if (!equals || !parse_int(std::string(value, equals).c_str(), param) || !parse_int(equals + 1, setting))
        return false;
      const int index = sim_param_index(static_cast<uint8_t>(param));
      if (param < 0 || param > 0x7F || index < 0 || setting < 0 || setting > 0x7F) return false;
      o.config.settings[index] = static_cast<uint8_t>(setting);
      ++i;
    } else {
      int target = 0;
      if (!take_number(target) || target < 0) return false;
      if (arg == "--latency-ms")
        o.config.reply_latency_us = static_cast<uint32_t>(target) * 1000;
      else if (arg == "--erase-ms")
        o.config.erase_time_us = static_cast<uint32_t>(target) * 1000;
      else if (arg == "--boot-code")
        o.config.boot_code = static_cast<uint8_t>(target);
      else if (arg == "--nak-packet")
        o.nak_packet = target;
      else if (arg == "--nak-times")
        o.nak_times = target;
      else if (arg == "--timeout-packet")
        o.timeout_packet = target;
      else if (arg == "--timeout-times")
        o.timeout_times = target;
      else if (arg == "--status-silence")
        o.config.status_silence = target;
      else if (arg == "--unplug-after")
        o.config.unplug_after_packets = target;
      else
        return false;
    }
  }
  if (o.nak_packet >= 0)
    o.config.packet_scripts[o.nak_packet] += std::string(static_cast<size_t>(o.nak_times), 'N');
  if (o.timeout_packet >= 0)
    o.config.packet_scripts[o.timeout_packet] += std::string(static_cast<size_t>(o.timeout_times), 'T');
  return true;
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

void reply_thread() {
  std::unique_lock<std::mutex> hold(host.lock);
  while (!host.stopping) {
    if (host.pending.empty()) {
      host.changed.wait(hold);
      continue;
    }
    const uint64_t due = host.pending.front().due_us;
    if (now_us() < due) {
      host.changed.wait_until(hold, host.epoch + std::chrono::microseconds(due));
      continue;
    }
    const SimReply reply = std::move(host.pending.front());
    host.pending.erase(host.pending.begin());
    log_message("tx", reply.bytes);
    try {
      host.out->sendMessage(reply.bytes.data(), reply.bytes.size());
    } catch (const RtMidiError&) {
      // A reply that cannot go out is lost, as on a cable.
    }
  }
}

// With an error callback the library reports here instead of throwing; failures end the start-up below.
std::atomic<bool> failed{false};
void report_error(RtMidiError::Type type, const std::string& text, void*) {
  std::fprintf(stderr, "vexa-sim: %s\n", text.c_str());
  if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) failed = true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(USAGE, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("vexa-sim %s\n", VEXA_VERSION);
      return 0;
    }
  }
  Options options;
  if (!parse_options(argc, argv, options)) {
    std::fputs(USAGE, stderr);
    return 2;
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
  sigset_t unplug;
  sigemptyset(&unplug);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&unplug, s);
  pthread_sigmask(SIG_BLOCK, &unplug, nullptr);
  if (options.api == RtMidi::UNIX_JACK) setenv("JACK_NO_START_SERVER", "1", 0);

  std::unique_ptr<RtMidiIn> in;
  std::unique_ptr<RtMidiOut> out;
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
    return 1;
  }
  if (failed) {
    std::fprintf(stderr, "vexa-sim: cannot open the ports on %s\n",
                 RtMidi::getApiDisplayName(options.api).c_str());
    return 1;
  }
  host.out = out.get();
  std::thread replies(reply_thread);
  std::printf("vexa-sim: ready as \"%s\" on %s\n", options.name.c_str(),
              RtMidi::getApiDisplayName(options.api).c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&unplug, &received);

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
  std::printf("vexa-sim: unplugged\n");
  if (host.log) std::fclose(host.log);
  return 0;
}
