// The time code reader, fed byte streams with exact times: every rate, drop-frame counting across minutes,
// backwards, the wrap at 24 hours, full messages, MMC Locate, and what it must not trust.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "timecode/timecode.h"

namespace {

struct Timed {
  uint64_t at;
  std::vector<uint8_t> bytes;
};
using Stream = std::vector<Timed>;

uint64_t spacing_us(TimecodeRate rate) {
  return static_cast<uint64_t>(std::llround(timecode_frame_us(rate) / 4));
}

TimecodeTime tc(int h, int m, int s, int f, TimecodeRate rate = TimecodeRate::fps25) {
  return TimecodeTime{static_cast<uint8_t>(h), static_cast<uint8_t>(m), static_cast<uint8_t>(s),
                      static_cast<uint8_t>(f), rate};
}

// Whole sequences of quarter frames from `start` (each two frames on, or back), one every quarter frame's
// spacing from t0. The k-th one's data goes through `edit`: LEFT_OUT leaves its time empty, CLOSED_UP
// leaves it out with the next one in its place, TWICE | data sends it twice.
constexpr int LEFT_OUT = 0xFF;
constexpr int CLOSED_UP = 0xFE;
constexpr int TWICE = 0x100;
Stream quarters(TimecodeTime start, int sequences, int direction = 1, uint64_t t0 = 0,
                const std::function<int(int k, int data)>& edit = nullptr) {
  Stream stream;
  const uint64_t spacing = spacing_us(start.rate);
  uint64_t slot = 0;
  for (int s = 0, k = 0; s < sequences; ++s) {
    const TimecodeTime t = timecode_from_frames(timecode_to_frames(start) + direction * 2 * s, start.rate);
    const int nibbles[8] = {
        t.frames & 15,  t.frames >> 4,  t.seconds & 15, t.seconds >> 4,
        t.minutes & 15, t.minutes >> 4, t.hours & 15,   (static_cast<int>(t.rate) << 1) | t.hours >> 4};
    for (int i = 0; i < 8; ++i, ++k) {
      const int piece = direction > 0 ? i : 7 - i;
      int data = piece << 4 | nibbles[piece];
      if (edit) data = edit(k, data);
      if (data == CLOSED_UP) continue;
      const Timed quarter{t0 + slot++ * spacing, {0xF1, static_cast<uint8_t>(data)}};
      if (data != LEFT_OUT) stream.push_back(quarter);
      if (data & TWICE) stream.push_back(quarter);
    }
  }
  return stream;
}

Stream join(Stream a, const Stream& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Stream message(uint64_t at, std::vector<uint8_t> bytes) { return {{at, std::move(bytes)}}; }

// No bytes: the reader is advanced to that time.
Stream advance(uint64_t at) { return message(at, {}); }

// The event in words, and when a stop came.
std::string describe(const TimecodeEvent& e) {
  const bool stop = e.kind == TimecodeEventKind::stop;
  return timecode_event_text(e) + (stop ? " at " + std::to_string(e.at_us) : "");
}

struct Given {
  const char* name;
  Stream stream;
};

struct Row {
  Given given;
  std::vector<std::string> shown;  // the reader's line, then its events
};

constexpr auto R24 = TimecodeRate::fps24;
constexpr auto R30 = TimecodeRate::fps30;
constexpr auto DF = TimecodeRate::fps2997df;
const uint64_t Q25 = 10000;  // quarter frames' spacing at 25 fps

// Quarter frames of sequence 2 and later carry the rate code `code` (piece 7, bits 1..2).
std::function<int(int, int)> rate_from_sequence(int first, int last, int code) {
  return [=](int k, int data) {
    return k / 8 >= first && k / 8 <= last && data >> 4 == 7 ? (data & 0xF9) | code << 1 : data;
  };
}

const Row ROWS[] = {
    {{"24 fps", quarters(tc(0, 0, 0, 0, R24), 3)},
     {"Time code 00:00:00:06 24 fps running, 0 drop-outs", "start 00:00:00:02 24 fps"}},
    {{"30 fps across midnight", quarters(tc(23, 59, 59, 26, R30), 3)},
     {"Time code 00:00:00:02 30 fps running, 0 drop-outs", "start 23:59:59:28 30 fps"}},
    {{"29.97 drop-frame across a minute", quarters(tc(0, 0, 59, 26, DF), 3)},
     {"Time code 00:01:00:04 29.97df fps running, 0 drop-outs", "start 00:00:59:28 29.97df fps"}},
    {{"29.97 drop-frame across a tenth minute", quarters(tc(0, 9, 59, 26, DF), 3)},
     {"Time code 00:10:00:02 29.97df fps running, 0 drop-outs", "start 00:09:59:28 29.97df fps"}},
    {{"backwards across midnight", quarters(tc(0, 0, 0, 2), 3, -1)},
     {"Time code 23:59:59:21 25 fps running backwards, 0 drop-outs", "start 00:00:00:00 25 fps"}},
    {{"a piece missing",
      quarters(tc(1, 0, 0, 0), 3, 1, 0, [](int k, int d) { return k == 11 ? CLOSED_UP : d; })},
     {"Time code 01:00:00:06 25 fps running, 0 drop-outs, 1 error", "start 01:00:00:02 25 fps",
      "error: missing piece"}},
    {{"a piece repeated",
      quarters(tc(1, 0, 0, 0), 3, 1, 0, [](int k, int d) { return k == 11 ? TWICE | d : d; })},
     {"Time code 01:00:00:06 25 fps running, 0 drop-outs, 1 error", "start 01:00:00:02 25 fps",
      "error: repeated piece"}},
    {{"a value out of range (minute 61)",
      quarters(tc(1, 13, 0, 0), 2, 1, 0, [](int, int d) { return d >> 4 == 5 ? 0x53 : d; })},
     {"Time code: no time code, 2 errors", "error: value out of range", "error: value out of range"}},
    {{"a short drop-out",
      quarters(tc(1, 0, 0, 0), 4, 1, 0, [](int k, int d) { return k >= 10 && k < 13 ? LEFT_OUT : d; })},
     {"Time code 01:00:00:08 25 fps running, 1 drop-out", "start 01:00:00:02 25 fps",
      "drop-out of 40.0 ms, then 01:00:00:02"}},
    {{"a rate for one sequence", quarters(tc(1, 0, 0, 0), 4, 1, 0, rate_from_sequence(2, 2, 3))},
     {"Time code 01:00:00:08 25 fps running, 0 drop-outs, 1 error", "start 01:00:00:02 25 fps",
      "error: rate changed for one sequence"}},
    {{"a change of rate", quarters(tc(1, 0, 0, 0), 4, 1, 0, rate_from_sequence(2, 3, 3))},
     {"Time code 01:00:00:08 30 fps running, 0 drop-outs", "start 01:00:00:02 25 fps", "rate 30 fps"}},
    {{"a jump", join(quarters(tc(1, 0, 0, 0), 2), quarters(tc(2, 0, 0, 0), 1, 1, 16 * Q25))},
     {"Time code 02:00:00:02 25 fps running, 0 drop-outs", "start 01:00:00:02 25 fps",
      "jump from 01:00:00:06 to 02:00:00:02"}},
    {{"a stop", join(quarters(tc(1, 0, 0, 0), 3), advance(23 * Q25 + 80001))},
     {"Time code 01:00:00:06 25 fps stopped, 0 drop-outs", "start 01:00:00:02 25 fps",
      "stop 01:00:00:06 at 310000"}},
    {{"a long drop-out through which the time went on",
      quarters(tc(1, 0, 0, 0), 30, 1, 0, [](int k, int d) { return k >= 24 && k < 224 ? LEFT_OUT : d; })},
     {"Time code 01:00:02:10 25 fps running, 1 drop-out", "start 01:00:00:02 25 fps",
      "stop 01:00:00:06 at 310000", "drop-out of 2010.0 ms, then 01:00:02:08"}},
    {{"a start elsewhere after a stop",
      join(quarters(tc(1, 0, 0, 0), 2), quarters(tc(5, 0, 0, 0), 1, 1, 1000000))},
     {"Time code 05:00:00:02 25 fps running, 0 drop-outs", "start 01:00:00:02 25 fps",
      "stop 01:00:00:04 at 230000", "start 05:00:00:02 25 fps"}},
    {{"a full message, realtime bytes inside, split",
      join(message(0, {0xF0, 0x7F, 0x7F, 0x01, 0xF8}), message(5, {0x01, 0x21, 0x02, 0x03, 0x04, 0xF7}))},
     {"Time code 01:02:03:04 25 fps stopped, locate 01:02:03:04, 0 drop-outs",
      "locate 01:02:03:04 (full message)"}},
    {{"a full message stops running time code",
      join(quarters(tc(1, 0, 0, 0), 2),
           message(160000, {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x61, 0, 0, 0, 0xF7}))},
     {"Time code 01:00:00:00 30 fps stopped, locate 01:00:00:00, 0 drop-outs", "start 01:00:00:02 25 fps",
      "stop 01:00:00:04 at 160000", "rate 30 fps", "locate 01:00:00:00 (full message)"}},
    {{"a full message too short", message(0, {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0x02, 0x03, 0xF7})},
     {"Time code: no time code, 1 error", "error: malformed message"}},
    {{"a full message cut off", message(0, {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0xF1, 0x00})},
     {"Time code: no time code, 1 error", "error: malformed message"}},
    {{"a full message at frame 25 of 25", message(0, {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0, 0, 25, 0xF7})},
     {"Time code: no time code, 1 error", "error: value out of range"}},
    {{"a skipped drop-frame label", message(0, {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x41, 1, 0, 0, 0xF7})},
     {"Time code: no time code, 1 error", "error: value out of range"}},
    {{"MMC Locate to ID 5", message(0, {0xF0, 0x7F, 0x05, 0x06, 0x44, 0x06, 0x01, 0x21, 2, 3, 4, 0, 0xF7})},
     {"Time code: no time code, locate 01:02:03:04", "locate 01:02:03:04 (MMC to ID 5)"}},
    {{"MMC Locate to all", message(0, {0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0x21, 2, 3, 4, 99, 0xF7})},
     {"Time code: no time code, locate 01:02:03:04", "locate 01:02:03:04 (MMC to ID 127)"}},
    {{"MMC Locate of sub-frame 100",
      message(0, {0xF0, 0x7F, 0x05, 0x06, 0x44, 0x06, 0x01, 0x21, 2, 3, 4, 100, 0xF7})},
     {"Time code: no time code, 1 error", "error: value out of range"}},
    {{"MMC Locate with a wrong count",
      message(0, {0xF0, 0x7F, 0x05, 0x06, 0x44, 0x05, 0x01, 0x21, 2, 3, 4, 0xF7})},
     {"Time code: no time code, 1 error", "error: malformed message"}},
    {{"another maker's messages", message(0, {0xF0, 0x2C, 0x4D, 0x21, 0x33, 0x31, 0xF7, 0x90, 0x40, 0x7F})},
     {"Time code: no time code"}},
};

TEST(TimecodeReader, ShowsWhatArrivesAndCountsWhatDoesNotFit) {
  for (const Row& row : ROWS) {
    SCOPED_TRACE(row.given.name);
    TimecodeReader reader;
    for (const Timed& t : row.given.stream) {
      if (t.bytes.empty())
        timecode_advance(reader, t.at);
      else
        timecode_feed(reader, t.bytes.data(), static_cast<int>(t.bytes.size()), t.at);
    }
    std::vector<std::string> shown = {timecode_line(timecode_shown(reader))};
    TimecodeEvent events[TIMECODE_EVENT_RING];
    const int count = timecode_take_events(reader, events, TIMECODE_EVENT_RING);
    for (int i = 0; i < count; ++i) shown.push_back(describe(events[i]));
    EXPECT_EQ(shown, row.shown);
  }
}

// The spread of the quarter frames' spacing counts those that followed each other while running.
TEST(TimecodeReader, SpacingOfQuarterFrames) {
  TimecodeReader reader;
  const Stream stream = quarters(tc(1, 0, 0, 0), 3);
  const uint64_t jitter[] = {0, 1000, 0, 500};  // late by this much, in turn
  for (size_t i = 0; i < stream.size(); ++i)
    timecode_feed(reader, stream[i].bytes.data(), 2, stream[i].at + jitter[i % 4]);
  const TimecodeSpread spread = timecode_spread(reader);
  EXPECT_EQ(spread.count, 16u);
  EXPECT_EQ(spread.min_us, 9000u);
  EXPECT_EQ(spread.median_us, 10550u);
  EXPECT_EQ(spread.max_us, 11000u);
  EXPECT_EQ(timecode_shown(reader).frames, 4u);
}

}  // namespace
