// Times and frame counts at the four rates. At 29.97 drop-frame the labels 00 and 01 are skipped at the
// start of every minute but the tenth ones, so ten minutes hold 17982 frames instead of 18000.
#include <cstdio>
#include <cstring>

#include "timecode/timecode.h"

namespace {

struct RateInfo {
  const char* name;
  int labels;       // frame labels per second
  double frame_us;  // one frame's length
};
// By rate code.
constexpr RateInfo RATES[4] = {
    {"24", 24, 1e6 / 24}, {"25", 25, 1e6 / 25}, {"29.97df", 30, 1001e3 / 30}, {"30", 30, 1e6 / 30}};

constexpr int32_t DF_TEN_MINUTES = 17982;  // frames in ten drop-frame minutes
constexpr int32_t DF_MINUTE = 1798;        // frames in a drop-frame minute that skips two labels
constexpr int32_t DF_SKIPPED = 2;          // labels skipped at such a minute's start

const RateInfo& info(TimecodeRate rate) { return RATES[static_cast<int>(rate) & 3]; }

bool drop_frame(TimecodeRate rate) { return rate == TimecodeRate::fps2997df; }

}  // namespace

int timecode_labels_per_second(TimecodeRate rate) { return info(rate).labels; }

double timecode_frame_us(TimecodeRate rate) { return info(rate).frame_us; }

int32_t timecode_day_frames(TimecodeRate rate) {
  return drop_frame(rate) ? DF_TEN_MINUTES * 6 * 24 : info(rate).labels * 86400;
}

bool timecode_valid(const TimecodeTime& time) {
  if (time.hours > 23 || time.minutes > 59 || time.seconds > 59) return false;
  if (time.frames >= info(time.rate).labels) return false;
  const bool skipped =
      drop_frame(time.rate) && time.seconds == 0 && time.minutes % 10 != 0 && time.frames < DF_SKIPPED;
  return !skipped;
}

int32_t timecode_to_frames(const TimecodeTime& time) {
  const int32_t labels = info(time.rate).labels;
  const int32_t minutes = time.hours * 60 + time.minutes;
  int32_t count = ((minutes * 60) + time.seconds) * labels + time.frames;
  if (drop_frame(time.rate)) count -= DF_SKIPPED * (minutes - minutes / 10);
  return count;
}

TimecodeTime timecode_from_frames(int64_t count, TimecodeRate rate) {
  const int64_t day = timecode_day_frames(rate);
  int64_t frames = ((count % day) + day) % day;
  if (drop_frame(rate)) {
    // Put the skipped labels back in, then count as at 30.
    const int64_t tens = frames / DF_TEN_MINUTES;
    const int64_t rest = frames % DF_TEN_MINUTES;
    frames += 9 * DF_SKIPPED * tens;
    if (rest >= DF_SKIPPED) frames += DF_SKIPPED * ((rest - DF_SKIPPED) / DF_MINUTE);
  }
  const int64_t labels = info(rate).labels;
  TimecodeTime time;
  time.rate = rate;
  time.frames = static_cast<uint8_t>(frames % labels);
  const int64_t seconds = frames / labels;
  time.seconds = static_cast<uint8_t>(seconds % 60);
  time.minutes = static_cast<uint8_t>(seconds / 60 % 60);
  time.hours = static_cast<uint8_t>(seconds / 3600);
  return time;
}

std::string timecode_text(const TimecodeTime& time) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", time.hours, time.minutes, time.seconds,
                time.frames);
  return text;
}

const char* timecode_rate_name(TimecodeRate rate) { return info(rate).name; }

bool timecode_rate_from_name(const char* name, TimecodeRate& rate) {
  for (int code = 0; code < 4; ++code) {
    if (std::strcmp(name, RATES[code].name) == 0) {
      rate = static_cast<TimecodeRate>(code);
      return true;
    }
  }
  return false;
}

bool timecode_parse(const char* text, TimecodeRate rate, TimecodeTime& time) {
  // Two digits, a colon, ... exactly: "1:0:0:0" or "01:00:00:00 " are not times.
  if (std::strlen(text) != 11) return false;
  int fields[4] = {};
  for (int i = 0; i < 4; ++i) {
    const char* at = text + 3 * i;
    if (at[0] < '0' || at[0] > '9' || at[1] < '0' || at[1] > '9' || (i < 3 && at[2] != ':')) return false;
    fields[i] = (at[0] - '0') * 10 + (at[1] - '0');
  }
  const TimecodeTime parsed{static_cast<uint8_t>(fields[0]), static_cast<uint8_t>(fields[1]),
                            static_cast<uint8_t>(fields[2]), static_cast<uint8_t>(fields[3]), rate};
  if (!timecode_valid(parsed)) return false;
  time = parsed;
  return true;
}
