// The one line that the terminal and the page show below the dialog, and the errors' names.
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
