// The one line that the terminal and the page show below the dialog, the events and the errors in words.
#include <cstdio>

#include "timecode/timecode.h"

namespace {

std::string counted(uint32_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

const char* state_word(const TimecodeShown& shown) {
  if (shown.state != TimecodeState::running) return "stopped";
  return shown.direction < 0 ? "running backwards" : "running";
}

}  // namespace

std::string timecode_line(const TimecodeShown& shown) {
  std::string line = "Time code: no time code";
  if (shown.has_time) {
    line = "Time code " + timecode_text(shown.time) + " " + timecode_rate_name(shown.time.rate) + " fps " +
           state_word(shown);
  }
  if (shown.has_locate) line += ", locate " + timecode_text(shown.locate);
  if (shown.has_time) line += ", " + counted(shown.dropouts, "drop-out", "drop-outs");
  if (shown.errors > 0) line += ", " + counted(shown.errors, "error", "errors");
  return line;
}

std::string timecode_event_text(const TimecodeEvent& e) {
  const std::string time = timecode_text(e.time);
  const std::string rate = std::string(timecode_rate_name(e.time.rate)) + " fps";
  char length[32];
  std::snprintf(length, sizeof length, "%.1f ms", e.length_us / 1000.0);
  switch (e.kind) {
    case TimecodeEventKind::start:
      return "start " + time + " " + rate;
    case TimecodeEventKind::stop:
      return "stop " + time;
    case TimecodeEventKind::locate:
      return "locate " + time +
             (e.source == TimecodeSource::mmc ? " (MMC to ID " + std::to_string(e.mmc_id) + ")"
                                              : " (full message)");
    case TimecodeEventKind::dropout:
      return "drop-out of " + std::string(length) + ", then " + time;
    case TimecodeEventKind::jump:
      return "jump from " + timecode_text(e.from) + " to " + time;
    case TimecodeEventKind::rate:
      return "rate " + rate;
    case TimecodeEventKind::error:
      return std::string("error: ") + timecode_error_name(e.error);
  }
  return "";
}

const char* timecode_error_name(TimecodeError error) {
  switch (error) {
    case TimecodeError::missing_piece:
      return "missing piece";
    case TimecodeError::repeated_piece:
      return "repeated piece";
    case TimecodeError::rate_flicker:
      return "rate changed for one sequence";
    case TimecodeError::out_of_range:
      return "value out of range";
    case TimecodeError::malformed:
      return "malformed message";
  }
  return "error";
}
