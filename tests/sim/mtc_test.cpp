// The simulated unit's MIDI time code under its settings, seen through the time code reader: every message
// goes to the reader at the time at which the unit sends it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/unit/unit.h"
#include "timecode/timecode.h"

namespace {

constexpr uint8_t MMC_ID = 0x53;
constexpr uint8_t STATIONARY_LTC = 0x58;  // 0: "Enable stationary LTC output" ticked
constexpr uint8_t INFINITE_FLYWHEEL = 0x59;
constexpr uint8_t MMC_LOCATE = 0x5A;
constexpr uint8_t LTC_HOLD_OFF = 0x5B;
constexpr uint8_t FULL_MESSAGE = 0x5C;

SimTimecodeStep run(double speed, double seconds) {
  return SimTimecodeStep{SimTimecodeStep::Run, speed, static_cast<uint32_t>(seconds * 1e6), 0};
}
SimTimecodeStep gap(double seconds) {
  return SimTimecodeStep{SimTimecodeStep::Gap, 1, static_cast<uint32_t>(seconds * 1e6), 0};
}
SimTimecodeStep jump_to_two_hours() { return SimTimecodeStep{SimTimecodeStep::Jump, 1, 0, 2 * 90000}; }

// The event in words, and when a stop came.
std::string describe(const TimecodeEvent& e) {
  const bool stop = e.kind == TimecodeEventKind::stop;
  return timecode_event_text(e) + (stop ? " at " + std::to_string(e.at_us) : "");
}

// What the unit plays for how many seconds, with which settings.
struct Given {
  const char* name;
  double seconds;
  std::vector<SimTimecodeStep> steps;
  std::vector<std::pair<uint8_t, uint8_t>> settings;
};

struct Row {
  Given given;
  std::vector<std::string> shown;  // the reader's line, then its events
};

const std::vector<SimTimecodeStep> WIND = {run(1, 0.2), run(10, 0.4)};

const Row ROWS[] = {
    {{"plays", 1, {}, {}}, {"Time code 01:00:01:00 25 fps running, 0 drop-outs", "start 01:00:00:02 25 fps"}},
    {{"extended hold-off: MTC starts 30 frames late", 1.5, {}, {{LTC_HOLD_OFF, 1}}},
     {"Time code 01:00:01:12 25 fps running, 0 drop-outs", "start 01:00:01:07 25 fps"}},
    {{"backwards, without full messages", 1, {run(-1, 1)}, {}},
     {"Time code 00:59:59:00 25 fps running backwards, 0 drop-outs", "start 00:59:59:23 25 fps"}},
    {{"backwards, with full messages", 0.2, {run(-1, 1)}, {{FULL_MESSAGE, 1}}},
     {"Time code 00:59:59:21 25 fps stopped, locate 00:59:59:21, 0 drop-outs",
      "locate 01:00:00:00 (full message)", "locate 00:59:59:21 (full message)"}},
    {{"winding without full messages", 0.6, WIND, {}},
     {"Time code 01:00:00:05 25 fps stopped, 0 drop-outs", "start 01:00:00:02 25 fps",
      "stop 01:00:00:05 at 270000"}},
    {{"winding with full messages", 0.6, WIND, {{FULL_MESSAGE, 1}}},
     {"Time code 01:00:03:10 25 fps stopped, locate 01:00:03:10, 0 drop-outs", "start 01:00:00:02 25 fps",
      "stop 01:00:00:05 at 200000", "locate 01:00:00:05 (full message)", "locate 01:00:01:20 (full message)",
      "locate 01:00:03:10 (full message)"}},
    {{"winding with MMC Locate to the unit's ID", 0.6, WIND, {{MMC_LOCATE, 1}, {MMC_ID, 5}}},
     {"Time code 01:00:00:05 25 fps stopped, locate 01:00:03:10, 0 drop-outs", "start 01:00:00:02 25 fps",
      "locate 01:00:00:05 (MMC to ID 5)", "stop 01:00:00:05 at 270000", "locate 01:00:01:20 (MMC to ID 5)",
      "locate 01:00:03:10 (MMC to ID 5)"}},
    {{"a lost signal, the flywheel's ten frames", 2.5, {run(1, 1), gap(1), run(1, 1)}, {}},
     {"Time code 01:00:02:12 25 fps running, 1 drop-out", "start 01:00:00:02 25 fps",
      "stop 01:00:01:10 at 1470000", "drop-out of 610.0 ms, then 01:00:02:02"}},
    {{"a lost signal, the infinite flywheel", 2.5, {run(1, 1), gap(1), run(1, 1)}, {{INFINITE_FLYWHEEL, 1}}},
     {"Time code 01:00:02:12 25 fps running, 0 drop-outs", "start 01:00:00:02 25 fps"}},
    {{"standing, stationary LTC on", 0.5, {run(1, 0.2), run(0, 1)}, {}},
     {"Time code 01:00:00:05 25 fps stopped, locate 01:00:00:05, 0 drop-outs", "start 01:00:00:02 25 fps",
      "stop 01:00:00:05 at 200000", "locate 01:00:00:05 (full message)"}},
    {{"standing, stationary LTC off", 0.5, {run(1, 0.2), run(0, 1)}, {{STATIONARY_LTC, 1}}},
     {"Time code 01:00:00:05 25 fps stopped, 0 drop-outs", "start 01:00:00:02 25 fps",
      "stop 01:00:00:05 at 270000"}},
    {{"a jump of the input", 1, {run(1, 0.5), jump_to_two_hours()}, {}},
     {"Time code 02:00:00:12 25 fps running, 0 drop-outs", "start 01:00:00:02 25 fps",
      "jump from 01:00:00:16 to 02:00:00:04"}},
};

TEST(SimTimecode, SettingsSeenThroughTheReader) {
  for (const Row& row : ROWS) {
    const Given& given = row.given;
    SCOPED_TRACE(given.name);
    SimConfig config;
    config.timecode = SimTimecodeInput{true, TimecodeRate::fps25, 90000, given.steps};
    for (const auto& [param, value] : given.settings) config.settings[sim_param_index(param)] = value;
    SimUnit unit;
    sim_unit_init(unit, config);
    SimReplies sent;
    const uint64_t until = static_cast<uint64_t>(given.seconds * 1e6);
    sim_unit_timecode(unit, 0, until, sent);
    TimecodeReader reader;
    for (const SimReplySpan& span : sent.spans)
      timecode_feed(reader, sent.bytes.data() + span.offset, static_cast<int>(span.length), span.due_us);
    timecode_advance(reader, until);
    std::vector<std::string> shown = {timecode_line(timecode_shown(reader))};
    TimecodeEvent events[TIMECODE_EVENT_RING];
    for (int i = 0, n = timecode_take_events(reader, events, TIMECODE_EVENT_RING); i < n; ++i)
      shown.push_back(describe(events[i]));
    EXPECT_EQ(shown, row.shown);
  }
}

}  // namespace
