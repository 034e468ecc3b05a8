// The simulated unit's MIDI time code. The input is a script of steps; the output follows it event by
// event: quarter frames while the input plays forwards (or backwards, without full messages), positions as
// full messages and MMC Locate while it winds or crawls, the flywheel through a lost signal, the hold-off
// before MTC starts, and a standing input spotted once when stationary LTC is on. Where the unit's help
// text leaves a behaviour open, the choice is written down in the README's section on the simulated unit.
#include <algorithm>
#include <cmath>

#include "sim/unit/unit.h"

namespace {

constexpr uint8_t QUARTER_FRAME = 0xF1;
constexpr uint8_t PARAM_MMC_ID = 0x53;
constexpr uint8_t PARAM_STATIONARY_LTC = 0x58;  // 0: on (the inverted box)
constexpr uint8_t PARAM_INFINITE_FLYWHEEL = 0x59;
constexpr uint8_t PARAM_MMC_LOCATE = 0x5A;
constexpr uint8_t PARAM_LTC_HOLD_OFF = 0x5B;
constexpr uint8_t PARAM_FULL_MESSAGE = 0x5C;
// Play speed, as the unit takes it for quarter frames: within a tenth of the rate.
constexpr double PLAY_SLOWEST = 0.9;
constexpr double PLAY_FASTEST = 1.1;
constexpr int HOLD_OFF_FRAMES = 0;            // MTC starts with the input
constexpr int EXTENDED_HOLD_OFF_FRAMES = 30;  // "Extended LTC hold off"
constexpr int FLYWHEEL_FRAMES = 10;  // regenerated after the signal is lost, without infinite flywheel
constexpr int SPOT_FRAMES = 4;       // a position every this many frames while winding
constexpr int QUARTERS = 4;
constexpr int SEQUENCE = 8;
constexpr uint64_t NEVER = UINT64_MAX;

enum class Input : uint8_t { absent, standing, forwards, backwards, moving };

struct InputAt {
  bool present = true;
  double speed = 1;
  double frames = 0;
  uint64_t end_us = NEVER;  // when the step that holds this time ends
};

double frame_us(const SimUnit& unit) { return timecode_frame_us(unit.config.timecode.rate); }

bool setting_on(const SimUnit& unit, uint8_t param) { return sim_unit_setting(unit, param) == 1; }

// Where the input is at `t`, walking its steps from the start.
InputAt input_at(const SimUnit& unit, uint64_t t) {
  const SimTimecodeInput& in = unit.config.timecode;
  const double length = frame_us(unit);
  InputAt at;
  at.frames = in.start_frame;
  uint64_t start = 0;
  for (const SimTimecodeStep& step : in.steps) {
    if (step.kind == SimTimecodeStep::Jump) {
      at.frames = step.to_frame;
      continue;
    }
    const uint64_t end = start + step.duration_us;
    const double speed = step.kind == SimTimecodeStep::Run ? step.speed : at.speed;
    const bool present = step.kind == SimTimecodeStep::Run;
    if (t < end)
      return InputAt{present, speed, at.frames + speed * static_cast<double>(t - start) / length, end};
    at = InputAt{present, speed, at.frames + speed * static_cast<double>(end - start) / length, NEVER};
    start = end;
  }
  at.frames += at.speed * static_cast<double>(t - start) / length;
  return at;
}

Input classify(const InputAt& at) {
  if (!at.present) return Input::absent;
  if (at.speed == 0) return Input::standing;
  const double play = std::fabs(at.speed);
  if (play < PLAY_SLOWEST || play > PLAY_FASTEST) return Input::moving;
  return at.speed > 0 ? Input::forwards : Input::backwards;
}

void put_message(SimReplies& out, uint64_t due, std::initializer_list<uint8_t> bytes) {
  out.spans.push_back(SimReplySpan{due, out.bytes.size(), bytes.size()});
  out.bytes.insert(out.bytes.end(), bytes.begin(), bytes.end());
}

uint8_t hours_and_rate(const TimecodeTime& time) {
  return static_cast<uint8_t>(static_cast<int>(time.rate) << 5 | time.hours);
}

// A position: the full message (when `full`) and the MMC Locate to the unit's ID (when that is ticked).
void spot(SimUnit& unit, uint64_t t, double frames, bool full, SimReplies* out) {
  if (out == nullptr) return;
  const TimecodeTime time =
      timecode_from_frames(static_cast<int64_t>(std::floor(frames)), unit.config.timecode.rate);
  const uint8_t hr = hours_and_rate(time);
  if (full)
    put_message(*out, t, {0xF0, 0x7F, 0x7F, 0x01, 0x01, hr, time.minutes, time.seconds, time.frames, 0xF7});
  if (setting_on(unit, PARAM_MMC_LOCATE)) {
    const uint8_t id = sim_unit_setting(unit, PARAM_MMC_ID);
    put_message(
        *out, t,
        {0xF0, 0x7F, id, 0x06, 0x44, 0x06, 0x01, hr, time.minutes, time.seconds, time.frames, 0x00, 0xF7});
  }
}

double output_frames(const SimMtcOutput& o, uint64_t t, double length) {
  return o.anchor_frames + o.speed * (static_cast<double>(t) - static_cast<double>(o.anchor_us)) / length;
}

void anchor(SimMtcOutput& o, uint64_t t, const InputAt& at) {
  o.anchor_us = t;
  o.anchor_frames = at.frames;
  o.speed = at.speed;
}

// Quarter frames from the input's next frame on.
void begin_quarters(SimUnit& unit, uint64_t t) {
  SimMtcOutput& o = unit.mtc;
  const InputAt at = input_at(unit, t);
  anchor(o, t, at);
  const double edge = o.direction > 0 ? std::ceil(at.frames - 1e-6) : std::floor(at.frames + 1e-6);
  o.base_frame = static_cast<int32_t>(edge);
  o.next_quarter = 0;
  o.resync = false;
  o.mode = SimMtcOutput::Quarters;
}

uint64_t quarter_due(const SimUnit& unit) {
  const SimMtcOutput& o = unit.mtc;
  const double target = o.base_frame + o.direction * static_cast<double>(o.next_quarter) / QUARTERS;
  const double after = (target - o.anchor_frames) / o.speed * frame_us(unit);
  return o.anchor_us + static_cast<uint64_t>(std::max(0.0, std::ceil(after - 1e-3)));
}

void send_quarter(SimUnit& unit, uint64_t t, SimReplies* out) {
  SimMtcOutput& o = unit.mtc;
  if (o.next_quarter % SEQUENCE == 0 && o.resync) {
    begin_quarters(unit, t);
    if (quarter_due(unit) > t) return;
  }
  const uint32_t n = o.next_quarter++;
  const int index = static_cast<int>(n % SEQUENCE);
  const int piece = o.direction > 0 ? index : SEQUENCE - 1 - index;
  const int64_t carried = o.base_frame + o.direction * 2 * static_cast<int64_t>(n / SEQUENCE);
  const TimecodeTime time = timecode_from_frames(carried, unit.config.timecode.rate);
  const uint8_t fields[SEQUENCE] = {
      static_cast<uint8_t>(time.frames & 0x0F),  static_cast<uint8_t>(time.frames >> 4),
      static_cast<uint8_t>(time.seconds & 0x0F), static_cast<uint8_t>(time.seconds >> 4),
      static_cast<uint8_t>(time.minutes & 0x0F), static_cast<uint8_t>(time.minutes >> 4),
      static_cast<uint8_t>(time.hours & 0x0F),   static_cast<uint8_t>(hours_and_rate(time) >> 4)};
  if (out) put_message(*out, t, {QUARTER_FRAME, static_cast<uint8_t>(piece << 4 | fields[piece])});
}

// The input plays: quarter frames go on (following the input again from the next sequence when it is
// elsewhere), or start after the hold-off.
void input_plays(SimUnit& unit, uint64_t t, const InputAt& at, int8_t direction) {
  SimMtcOutput& o = unit.mtc;
  const bool going = o.mode == SimMtcOutput::Quarters || o.mode == SimMtcOutput::Flywheel;
  if (going && o.direction == direction) {
    if (std::fabs(output_frames(o, t, frame_us(unit)) - at.frames) > 1) {
      o.resync = true;
    } else {
      anchor(o, t, at);
    }
    o.mode = SimMtcOutput::Quarters;
    return;
  }
  if (o.mode == SimMtcOutput::HoldOff && o.direction == direction) return;
  const int frames = setting_on(unit, PARAM_LTC_HOLD_OFF) ? EXTENDED_HOLD_OFF_FRAMES : HOLD_OFF_FRAMES;
  o.mode = SimMtcOutput::HoldOff;
  o.direction = direction;
  o.hold_until_us = t + static_cast<uint64_t>(frames * frame_us(unit) / std::fabs(at.speed));
}

// The input's signal is gone: the flywheel regenerates running quarter frames for a while, or for good.
void input_lost(SimUnit& unit, uint64_t t) {
  SimMtcOutput& o = unit.mtc;
  if (o.mode == SimMtcOutput::Quarters) {
    o.mode = SimMtcOutput::Flywheel;
    o.flywheel_until_us =
        setting_on(unit, PARAM_INFINITE_FLYWHEEL)
            ? NEVER
            : t + static_cast<uint64_t>(FLYWHEEL_FRAMES * frame_us(unit) / std::fabs(o.speed));
  } else if (o.mode == SimMtcOutput::HoldOff) {
    o.mode = SimMtcOutput::Idle;
  }
}

// What the output does from `t` on, when the input has just changed.
void follow_input(SimUnit& unit, uint64_t t, SimReplies* out) {
  SimMtcOutput& o = unit.mtc;
  const InputAt at = input_at(unit, t);
  if (o.evaluated && at.end_us == o.segment_end_us) return;
  o.evaluated = true;
  o.segment_end_us = at.end_us;
  Input input = classify(at);
  if (input == Input::backwards && setting_on(unit, PARAM_FULL_MESSAGE)) input = Input::moving;
  if (input != Input::standing) o.standing = false;
  if (input != Input::moving) o.spotting = false;
  switch (input) {
    case Input::forwards:
    case Input::backwards:
      input_plays(unit, t, at, input == Input::forwards ? 1 : -1);
      break;
    case Input::absent:
      input_lost(unit, t);
      break;
    case Input::standing: {
      o.mode = SimMtcOutput::Idle;
      const int32_t frame = static_cast<int32_t>(std::floor(at.frames));
      if (!setting_on(unit, PARAM_STATIONARY_LTC) && (!o.standing || o.standing_frame != frame)) {
        spot(unit, t, at.frames, true, out);
        o.standing = true;
        o.standing_frame = frame;
      }
      break;
    }
    case Input::moving:
      o.mode = SimMtcOutput::Idle;
      if (!o.spotting) o.next_spot_us = t;
      o.spotting = true;
      break;
  }
}

// Everything that is due at `t`.
void run_at(SimUnit& unit, uint64_t t, SimReplies* out) {
  SimMtcOutput& o = unit.mtc;
  o.now_us = t;
  follow_input(unit, t, out);
  if (o.mode == SimMtcOutput::HoldOff && t >= o.hold_until_us) {
    begin_quarters(unit, t);
  }
  if (o.mode == SimMtcOutput::Flywheel && t >= o.flywheel_until_us) o.mode = SimMtcOutput::Idle;
  while ((o.mode == SimMtcOutput::Quarters || o.mode == SimMtcOutput::Flywheel) && quarter_due(unit) <= t)
    send_quarter(unit, t, out);
  while (o.spotting && o.next_spot_us <= t) {
    spot(unit, t, input_at(unit, t).frames, setting_on(unit, PARAM_FULL_MESSAGE), out);
    o.next_spot_us += static_cast<uint64_t>(SPOT_FRAMES * frame_us(unit));
  }
}

}  // namespace

uint64_t sim_unit_timecode_next_us(const SimUnit& unit) {
  const SimMtcOutput& o = unit.mtc;
  if (!unit.config.timecode.connected) return NEVER;
  if (!o.evaluated) return 0;
  uint64_t next = o.segment_end_us;
  if (o.mode == SimMtcOutput::HoldOff) next = std::min(next, o.hold_until_us);
  if (o.mode == SimMtcOutput::Flywheel) next = std::min(next, o.flywheel_until_us);
  if (o.mode == SimMtcOutput::Quarters || o.mode == SimMtcOutput::Flywheel)
    next = std::min(next, quarter_due(unit));
  if (o.spotting) next = std::min(next, o.next_spot_us);
  return std::max(next, o.now_us);
}

void sim_unit_timecode(SimUnit& unit, uint64_t from_us, uint64_t until_us, SimReplies& replies) {
  const bool sending = unit.mode == SimMode::Running && !unit.unplugged;
  for (uint64_t next = sim_unit_timecode_next_us(unit); next <= until_us && next != NEVER;) {
    run_at(unit, next, sending && next >= from_us ? &replies : nullptr);
    const uint64_t after = sim_unit_timecode_next_us(unit);
    // Whatever was due at `next` has gone: the next event lies later.
    next = after > next ? after : next + 1;
  }
}
