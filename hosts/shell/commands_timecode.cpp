// `vexa timecode`: the unit's port chosen in the dialog as for every command, then its input listened to
// beside the program by the time code reader (timecode/tap.h): one line per event, or one line kept
// current on a terminal, or JSON Lines; a summary at the end. Ctrl+C and SIGTERM end it as --seconds does.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "hosts/shell/commands.h"
#include "hosts/shell/session.h"
#include "platform/win32/winmm_ext.h"
#include "timecode/tap.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr uint64_t SECOND_US = 1000000;
// How often the reader is looked at, and the line on a terminal redrawn.
constexpr auto LOOK = std::chrono::milliseconds(20);
constexpr uint64_t LINE_US = 100000;
constexpr double MAX_SECONDS = 1e7;

struct Listening {
  bool json = false;
  bool line = false;       // a terminal: one line kept current
  bool line_open = false;  // that line is on the screen, unfinished
  uint64_t began_us = 0;   // the command's start, on the tap's clock
  uint64_t next_running_us = 0;
  uint64_t next_line_us = 0;
  bool arrived = false;  // time code came: a time from quarter frames or a full message
  bool failed = false;   // the output could not be written
};

double seconds_since(const Listening& l, uint64_t at_us) {
  const double seconds = at_us > l.began_us ? static_cast<double>(at_us - l.began_us) / 1e6 : 0;
  return std::round(seconds * 1000) / 1000;
}

double rounded_ms(uint32_t us) { return std::round(us / 10.0) / 100; }

const char* source_name(TimecodeSource source) {
  switch (source) {
    case TimecodeSource::quarter_frame:
      return "quarter-frame";
    case TimecodeSource::full_message:
      return "full-message";
    case TimecodeSource::mmc:
      return "mmc";
  }
  return "";
}

const char* event_name(TimecodeEventKind kind) {
  static const char* const NAMES[] = {"start", "stop", "locate", "dropout", "jump", "rate", "error"};
  return NAMES[static_cast<int>(kind)];
}

void write_line(Listening& l, const std::string& text) {
  std::FILE* out = streams().out;
  if (l.line_open) std::fputc('\n', out);
  l.line_open = false;
  std::fprintf(out, "%s\n", text.c_str());
  if (std::fflush(out) != 0 || std::ferror(out)) l.failed = true;
}

void write_json(Listening& l, const Json& object) {
  write_line(l, object.dump(-1, ' ', false, Json::error_handler_t::replace));
}

// Every event with its time and rate (null for an error before any time came) and the kind of message it
// came in.
Json event_json(const Listening& l, const TimecodeEvent& e) {
  Json object = {{"event", event_name(e.kind)},
                 {"time", e.has_time ? Json(timecode_text(e.time)) : Json(nullptr)},
                 {"rate", e.has_time ? Json(timecode_rate_name(e.time.rate)) : Json(nullptr)},
                 {"source", source_name(e.source)}};
  if (e.source == TimecodeSource::mmc) object["mmc_id"] = e.mmc_id;
  if (e.kind == TimecodeEventKind::dropout) object["length_ms"] = rounded_ms(e.length_us);
  if (e.kind == TimecodeEventKind::jump) object["from"] = timecode_text(e.from);
  if (e.kind == TimecodeEventKind::error) object["error"] = timecode_error_name(e.error);
  object["at"] = seconds_since(l, e.at_us);
  return object;
}

void report(Listening& l, const TimecodeEvent& e) {
  if (e.kind == TimecodeEventKind::start ||
      (e.kind == TimecodeEventKind::locate && e.source != TimecodeSource::mmc))
    l.arrived = true;
  if (l.line) return;
  if (l.json) {
    write_json(l, event_json(l, e));
  } else {
    char at[32];
    std::snprintf(at, sizeof at, "%.3f ", seconds_since(l, e.at_us));
    write_line(l, at + timecode_event_text(e));
  }
}

// Once a second while running: the time.
void report_running(Listening& l, const TimecodeShown& shown, uint64_t now) {
  if (shown.state != TimecodeState::running) {
    l.next_running_us = now + SECOND_US;
    return;
  }
  if (now < l.next_running_us) return;
  l.next_running_us = now + SECOND_US;
  if (l.line) return;
  if (l.json) {
    Json object = {{"event", "running"},
                   {"time", timecode_text(shown.time)},
                   {"rate", timecode_rate_name(shown.time.rate)},
                   {"source", "quarter-frame"},
                   {"at", seconds_since(l, now)}};
    write_json(l, object);
  } else {
    char at[32];
    std::snprintf(at, sizeof at, "%.3f ", seconds_since(l, now));
    write_line(l, at + std::string("running ") + timecode_text(shown.time));
  }
}

void redraw_line(Listening& l, const TimecodeShown& shown, uint64_t now) {
  if (!l.line || now < l.next_line_us) return;
  l.next_line_us = now + LINE_US;
  std::FILE* out = streams().out;
  std::fprintf(out, "\r%s\033[K", timecode_line(shown).c_str());
  l.line_open = true;
  if (std::fflush(out) != 0 || std::ferror(out)) l.failed = true;
}

// Takes what the reader has seen since the last look; false once the output fails.
bool look(Listening& l) {
  TimecodeEvent events[TIMECODE_EVENT_RING];
  int count = 0;
  TimecodeShown shown;
  uint64_t now = 0;
  timecode_tap_with([&](TimecodeReader& reader, uint64_t at) {
    count = timecode_take_events(reader, events, TIMECODE_EVENT_RING);
    shown = timecode_shown(reader);
    now = at;
  });
  for (int i = 0; i < count; ++i) report(l, events[i]);
  report_running(l, shown, now);
  redraw_line(l, shown, now);
  return !l.failed;
}

void summary(Listening& l) {
  TimecodeShown shown;
  TimecodeSpread spread;
  uint64_t now = 0;
  timecode_tap_with([&](TimecodeReader& reader, uint64_t at) {
    shown = timecode_shown(reader);
    spread = timecode_spread(reader);
    now = at;
  });
  const bool rate = shown.has_time;
  if (l.json) {
    Json spacing = {{"min", nullptr}, {"median", nullptr}, {"max", nullptr}};
    if (spread.count > 0)
      spacing = {{"min", rounded_ms(spread.min_us)},
                 {"median", rounded_ms(spread.median_us)},
                 {"max", rounded_ms(spread.max_us)}};
    write_json(l, {{"event", "summary"},
                   {"frames", shown.frames},
                   {"rate", rate ? Json(timecode_rate_name(shown.time.rate)) : Json(nullptr)},
                   {"dropouts", shown.dropouts},
                   {"errors", shown.errors},
                   {"quarter_frame_ms", spacing},
                   {"at", seconds_since(l, now)}});
    return;
  }
  std::string line =
      rate ? std::to_string(shown.frames) + " frames at " + timecode_rate_name(shown.time.rate) + " fps"
           : std::string("no time code");
  char text[256];
  std::snprintf(text, sizeof text, ", %u drop-outs, %u errors", shown.dropouts, shown.errors);
  line += text;
  if (spread.count > 0) {
    std::snprintf(text, sizeof text, "; quarter frames %.2f ms apart (min), %.2f (median), %.2f (max)",
                  rounded_ms(spread.min_us), rounded_ms(spread.median_us), rounded_ms(spread.max_us));
    line += text;
  }
  write_line(l, line);
}

// Listens until `seconds` (0: for ever) have passed since the command began, or an interrupt.
int listen(Listening& l, double seconds) {
  const uint64_t end = seconds > 0 ? l.began_us + static_cast<uint64_t>(seconds * 1e6) : UINT64_MAX;
  while (!interrupted() && timecode_tap_now_us() < end && look(l)) std::this_thread::sleep_for(LOOK);
  look(l);
  // An interrupt ends the listening as the time does: the ports are closed as at any end.
  forget_interrupt();
  summary(l);
  // The shell says why when it flushes the output at the end.
  if (l.failed) return EXIT_NOT_WRITTEN;
  if (l.arrived) return EXIT_DONE;
  note("no time code arrived on \"" + connected_port() + "\"");
  return EXIT_UNIT_FAILED;
}

bool read_seconds(const std::string& text, double& seconds) {
  if (text.empty()) return true;
  char* end = nullptr;
  seconds = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(seconds) && seconds > 0 && seconds <= MAX_SECONDS;
}

}  // namespace

int command_timecode(const CommandLine& line) {
  double seconds = 0;
  if (!read_seconds(line.seconds, seconds)) {
    note("--seconds takes a number of seconds greater than 0, not \"" + line.seconds +
         "\" (see vexa --help)");
    return EXIT_USAGE;
  }
  // The reader listens beside the program from here on.
  winmm_use_backend(timecode_tap(winmm_backend()));
  Listening l;
  l.json = line.json;
  l.line = !line.json && isatty(fileno(streams().out));
  l.began_us = timecode_tap_now_us();
  ShownUnit unit;
  int code = program_start(nullptr);
  if (code == EXIT_DONE) code = connect_unit(line.port, {}, unit);
  if (code == EXIT_DONE && unit.state == UnitState::UpdateMode) {
    note("the unit on \"" + connected_port() +
         "\" is in update mode: it sends no time code until its firmware is written (vexa update)");
    code = EXIT_WRONG_MODE;
  }
  if (code == EXIT_DONE) code = listen(l, seconds);
  return program_end(code);
}
