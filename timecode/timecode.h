// The time code reader: what a MIDI time code receiver makes of the bytes that arrive on the unit's input.
// It puts quarter frames together into times, takes full messages and MMC Locate commands, and follows the
// time code's state: running (forwards or backwards), stopped, drop-outs, jumps and changes of rate. It
// trusts nothing that arrives: a piece missing or repeated, a rate that changes for one sequence only, a
// value out of range or a message of the wrong length is counted as an error, never shown as a time.
//
// It has no threads and no clock: every call says when (in microseconds on the caller's clock), so that
// tests drive it with exact times. The hosts feed it through the back-end wrapper of tap.h.
#pragma once
#include <cstdint>
#include <string>

// The four rates of MIDI time code, by their code in the messages.
enum class TimecodeRate : uint8_t { fps24 = 0, fps25 = 1, fps2997df = 2, fps30 = 3 };

struct TimecodeTime {
  uint8_t hours = 0;
  uint8_t minutes = 0;
  uint8_t seconds = 0;
  uint8_t frames = 0;
  TimecodeRate rate = TimecodeRate::fps25;
  bool operator==(const TimecodeTime&) const = default;
};

// ---- Times and frame counts (time.cpp) ----

// Frame labels per second: 24, 25, 30 (29.97 drop-frame counts 30 labels) or 30.
int timecode_labels_per_second(TimecodeRate rate);
// How long one frame lasts, in microseconds (29.97: 1001/30 ms).
double timecode_frame_us(TimecodeRate rate);
// Frames in 24 hours: the count at which the time wraps to 00:00:00:00.
int32_t timecode_day_frames(TimecodeRate rate);
// Every field in range, and no frame that drop-frame counting skips.
bool timecode_valid(const TimecodeTime& time);
// The frames since 00:00:00:00 of a valid time, and back (any count, wrapped into the day).
int32_t timecode_to_frames(const TimecodeTime& time);
TimecodeTime timecode_from_frames(int64_t count, TimecodeRate rate);
// "01:00:05:12".
std::string timecode_text(const TimecodeTime& time);
// "24", "25", "29.97df", "30": the JSON's names and the command line's.
const char* timecode_rate_name(TimecodeRate rate);
bool timecode_rate_from_name(const char* name, TimecodeRate& rate);
// "HH:MM:SS:FF" at `rate`; false for anything else or a time that is not valid.
bool timecode_parse(const char* text, TimecodeRate rate, TimecodeTime& time);

// ---- The reader (reader.cpp) ----

enum class TimecodeState : uint8_t { none, running, stopped };
enum class TimecodeSource : uint8_t { quarter_frame, full_message, mmc };
enum class TimecodeEventKind : uint8_t { start, stop, locate, dropout, jump, rate, error };
enum class TimecodeError : uint8_t {
  missing_piece,   // a quarter frame that is not the next piece (and no gap that would explain it)
  repeated_piece,  // the same piece twice in a row
  rate_flicker,    // one sequence of another rate between sequences of the running one
  out_of_range,  // a field out of range (minute 61, frame 25 at 25 fps, a skipped drop-frame label, bits set)
  malformed,     // a time code message of the wrong length or layout
};

struct TimecodeEvent {
  TimecodeEventKind kind = TimecodeEventKind::start;
  uint64_t at_us = 0;
  bool has_time = true;  // false: an error before any time was shown
  TimecodeTime time;     // start, stop (the last time shown), locate, jump (the new time), rate; error: shown
  TimecodeTime from;     // jump: the time that was expected
  TimecodeSource source = TimecodeSource::quarter_frame;  // the kind of message it came in
  uint8_t mmc_id = 0;      // from MMC: the device ID it is addressed to (127: all)
  uint32_t length_us = 0;  // dropout: how long no quarter frame came
  TimecodeError error = TimecodeError::malformed;
};

// What the reader shows now.
struct TimecodeShown {
  TimecodeState state = TimecodeState::none;
  bool has_time = false;
  TimecodeTime time;
  int8_t direction = 1;  // -1: the pieces come 7..0, the time runs backwards
  bool has_locate = false;
  TimecodeTime locate;
  uint32_t dropouts = 0;
  uint32_t errors = 0;
  uint32_t frames = 0;  // frames seen running: a frame for every four quarter frames that fitted
};

// The spacing of quarter frames that followed each other while running, in microseconds.
struct TimecodeSpread {
  uint32_t count = 0;
  uint32_t min_us = 0;
  uint32_t median_us = 0;  // to the 0.1 ms (the histogram's bins)
  uint32_t max_us = 0;
};

constexpr int TIMECODE_EVENT_RING = 64;
constexpr int TIMECODE_SPACING_BINS = 1000;  // 0.1 ms each: 0 to 100 ms
constexpr int TIMECODE_SYSEX_MAX = 16;       // the longest message read (MMC Locate: 13 bytes)

// A plain struct, all of it state: copy it, compare it, start one afresh with `TimecodeReader{}`.
struct TimecodeReader {
  // The byte stream.
  uint8_t sysex[TIMECODE_SYSEX_MAX] = {};
  int sysex_length = -1;              // -1: not inside a System Exclusive message
  bool quarter_frame_status = false;  // F1 came; its data byte is next
  uint64_t latest_us = 0;             // times never run backwards

  // Quarter frames.
  int8_t last_piece = -1;  // -1: no sequence under way
  int8_t direction = 1;
  uint8_t pieces[8] = {};
  uint8_t collected = 0;           // the pieces of the sequence under way, by bit
  uint64_t last_piece_us = 0;      // the last quarter frame, whatever it carried
  uint64_t last_fit_us = 0;        // the last one that fitted the sequence: running time code lives on these
  uint32_t fitting = 0;            // quarter frames that fitted while running
  int quarter_since_shown = 0;     // fitting ones since the last complete sequence
  bool has_sequence_time = false;  // a complete sequence in this run: the next must follow it
  bool irregular = false;          // an error or a drop-out since then: follows it only roughly

  // What is shown.
  TimecodeState state = TimecodeState::none;
  bool has_time = false;
  int32_t shown_frames = 0;  // at the last complete sequence (or locate)
  TimecodeRate rate = TimecodeRate::fps25;
  bool has_rate = false;
  bool rate_pending = false;  // a sequence of another rate came: held back until the next one
  TimecodeRate pending_rate = TimecodeRate::fps25;
  bool has_locate = false;
  TimecodeTime locate;

  // A gap that stopped the time code: when the time after it has gone on, it was a drop-out.
  bool gap_open = false;
  uint64_t gap_from_us = 0;  // the last quarter frame before the gap
  uint64_t gap_to_us = 0;    // the first after it; 0 while none came
  int32_t gap_frames = 0;    // what was shown when it began

  uint32_t dropouts = 0;
  uint32_t errors = 0;

  uint32_t spacing[TIMECODE_SPACING_BINS + 1] = {};  // the last bin: 100 ms and more
  uint32_t spacing_count = 0;
  uint32_t spacing_min_us = 0;
  uint32_t spacing_max_us = 0;

  TimecodeEvent events[TIMECODE_EVENT_RING];
  int event_first = 0;
  int event_count = 0;
  uint32_t events_lost = 0;  // overwritten before anybody took them
};

// Bytes as they arrived at at_us: any split or join of messages, realtime bytes anywhere.
void timecode_feed(TimecodeReader& reader, const uint8_t* bytes, int length, uint64_t at_us);
// The time is now_us: running time code that has had no quarter frame for longer than two frames stops.
void timecode_advance(TimecodeReader& reader, uint64_t now_us);
// Takes up to `max` of the events since the last take, oldest first; returns how many.
int timecode_take_events(TimecodeReader& reader, TimecodeEvent* events, int max);
TimecodeShown timecode_shown(const TimecodeReader& reader);
TimecodeSpread timecode_spread(const TimecodeReader& reader);

// The line below the dialog: "Time code 01:00:05:12 25 fps running, 0 drop-outs" with the last locate and
// the errors when there are any; "Time code: no time code" before any came (line.cpp).
std::string timecode_line(const TimecodeShown& shown);
// An event in words, without its time: "start 01:00:00:02 25 fps", "locate 01:02:03:04 (MMC to ID 5)",
// "drop-out of 40.0 ms, then 01:00:00:08", "error: missing piece", ...
std::string timecode_event_text(const TimecodeEvent& event);
// "missing piece", "repeated piece", ...
const char* timecode_error_name(TimecodeError error);
