// The simulated unit's time code: its time code input as a script (a start time and rate, then steps of
// speed and direction, standing still, the signal gone, jumps), and the MIDI time code that the unit makes
// of it under its settings. No threads and no clock: the host asks for what is due up to a time.
#pragma once
#include <cstdint>
#include <vector>

#include "timecode/timecode.h"

struct SimTimecodeStep {
  enum Kind : uint8_t {
    Run,   // the input runs at `speed` times play speed for duration_us (negative: backwards; 0: stands)
    Gap,   // the input's signal is gone for duration_us; the tape goes on at the speed it had
    Jump,  // the input is at to_frame from now on (a splice, a locate of the machine)
  };
  Kind kind = Run;
  double speed = 1;
  uint32_t duration_us = 0;
  int32_t to_frame = 0;
  bool operator==(const SimTimecodeStep&) const = default;
};

struct SimTimecodeInput {
  bool connected = false;  // no input: the unit sends no time code
  TimecodeRate rate = TimecodeRate::fps25;
  int32_t start_frame = 0;  // where the input is when the unit starts
  // In order from the unit's start; after the last the input goes on as it was (plays when there are none).
  std::vector<SimTimecodeStep> steps;
  bool operator==(const SimTimecodeInput&) const = default;
};

// What the unit's MTC output is doing.
struct SimMtcOutput {
  enum Mode : uint8_t { Idle, HoldOff, Quarters, Flywheel };
  bool evaluated = false;       // the input has been looked at once
  uint64_t now_us = 0;          // how far the output has run
  uint64_t segment_end_us = 0;  // when the input's present step ends
  Mode mode = Idle;
  int8_t direction = 1;
  uint64_t hold_until_us = 0;
  uint64_t flywheel_until_us = 0;
  // Quarter frames: the n-th goes out when the output's position passes base_frame + direction * n / 4;
  // the position runs from anchor_frames at anchor_us at `speed` (signed).
  uint64_t anchor_us = 0;
  double anchor_frames = 0;
  double speed = 1;
  int32_t base_frame = 0;
  uint32_t next_quarter = 0;
  bool resync = false;  // the input is elsewhere: follow it from the next sequence on
  // Positions sent as full messages or MMC Locate while the input winds, crawls or (with full messages)
  // runs backwards, and once where it stands.
  bool spotting = false;
  uint64_t next_spot_us = 0;
  bool standing = false;
  int32_t standing_frame = 0;
};
