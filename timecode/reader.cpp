// The time code reader: the byte stream into messages, quarter frames into times, and the state that a
// receiver shows. Nothing that arrives is trusted; what does not fit is counted and never shown.
#include <algorithm>
#include <cmath>

#include "timecode/timecode.h"

namespace {

constexpr uint8_t SYSEX_START = 0xF0;
constexpr uint8_t SYSEX_END = 0xF7;
constexpr uint8_t QUARTER_FRAME = 0xF1;
constexpr uint8_t REALTIME_FIRST = 0xF8;
constexpr uint8_t STATUS_FIRST = 0x80;
constexpr uint8_t UNIVERSAL_REALTIME = 0x7F;
constexpr uint8_t SUB_TIME_CODE = 0x01;
constexpr uint8_t FULL_MESSAGE = 0x01;
constexpr uint8_t SUB_MMC_COMMAND = 0x06;
constexpr uint8_t MMC_LOCATE = 0x44;
constexpr uint8_t LOCATE_COUNT = 0x06;
constexpr uint8_t LOCATE_TARGET = 0x01;
constexpr int LOCATE_TARGET_AT = 6;  // the byte that says what the locate goes to
constexpr int FULL_LENGTH = 10;
constexpr int LOCATE_LENGTH = 13;
constexpr int HEADER_LENGTH = 5;  // F0 7F id sub-ID-1 sub-ID-2: enough to tell which message it is
constexpr uint8_t MAX_SUBFRAME = 99;
// The highest value that each piece carries: the bits above are 0.
constexpr uint8_t PIECE_MAX[8] = {15, 1, 15, 3, 15, 3, 15, 7};
constexpr int QUARTERS = 4;  // quarter frames a frame
constexpr int SEQUENCE = 8;  // pieces of one time: two frames
// Running time code stops when no quarter frame has fitted for longer than two frames.
constexpr double STOP_FRAMES = 2;
// A quarter frame after a gap longer than this many quarter frames' spacing, with pieces missing before it,
// comes after a drop-out; pieces missing without such a gap are an error.
constexpr double DROP_QUARTERS = 1.5;
// A time that comes back within this many frames of where the time code would have run meanwhile has gone
// on through a gap; beyond it, a time after a drop-out or an error is a jump.
constexpr int32_t GONE_ON_FRAMES = 2;

void push(TimecodeReader& r, const TimecodeEvent& event) {
  if (r.event_count == TIMECODE_EVENT_RING) {
    r.event_first = (r.event_first + 1) % TIMECODE_EVENT_RING;
    --r.event_count;
    ++r.events_lost;
  }
  r.events[(r.event_first + r.event_count) % TIMECODE_EVENT_RING] = event;
  ++r.event_count;
}

TimecodeEvent event(TimecodeEventKind kind, uint64_t at) {
  TimecodeEvent e;
  e.kind = kind;
  e.at_us = at;
  return e;
}

double frame_us(const TimecodeReader& r) { return timecode_frame_us(r.rate); }

int32_t shown_now(const TimecodeReader& r) {
  const int32_t advanced = r.state == TimecodeState::running ? r.quarter_since_shown / QUARTERS : 0;
  return r.shown_frames + r.direction * advanced;
}

TimecodeTime time_of(const TimecodeReader& r, int32_t frames) { return timecode_from_frames(frames, r.rate); }

// An error, with what was shown when it came and the kind of message it came in.
void fail(TimecodeReader& r, TimecodeError error, uint64_t at,
          TimecodeSource source = TimecodeSource::quarter_frame) {
  ++r.errors;
  TimecodeEvent e = event(TimecodeEventKind::error, at);
  e.error = error;
  e.has_time = r.has_time;
  e.time = time_of(r, shown_now(r));
  e.source = source;
  if (source == TimecodeSource::mmc) e.mmc_id = r.sysex[2];
  push(r, e);
}

// How far apart two frame counts lie on the day's circle.
int32_t distance(const TimecodeReader& r, int32_t a, int32_t b) {
  const int32_t day = timecode_day_frames(r.rate);
  const int32_t d = ((a - b) % day + day) % day;
  return std::min(d, day - d);
}

void forget_sequence(TimecodeReader& r) {
  r.last_piece = -1;
  r.collected = 0;
  r.has_sequence_time = false;
}

// The interpolated frames become the shown time: before a stop or a turn of direction.
void settle(TimecodeReader& r) {
  r.shown_frames = shown_now(r);
  r.quarter_since_shown = 0;
}

void stop(TimecodeReader& r, uint64_t at, bool gap) {
  const TimecodeSource source = gap ? TimecodeSource::quarter_frame : TimecodeSource::full_message;
  settle(r);
  r.state = TimecodeState::stopped;
  r.gap_open = gap;
  r.gap_from_us = r.last_fit_us;
  r.gap_to_us = 0;
  r.gap_frames = r.shown_frames;
  forget_sequence(r);
  TimecodeEvent e = event(TimecodeEventKind::stop, at);
  e.time = time_of(r, r.shown_frames);
  e.source = source;
  push(r, e);
}

void record_spacing(TimecodeReader& r, uint64_t gap_us) {
  const uint32_t gap = static_cast<uint32_t>(std::min<uint64_t>(gap_us, UINT32_MAX));
  ++r.spacing[std::min<uint32_t>(gap / 100, TIMECODE_SPACING_BINS)];
  r.spacing_min_us = r.spacing_count == 0 ? gap : std::min(r.spacing_min_us, gap);
  r.spacing_max_us = std::max(r.spacing_max_us, gap);
  ++r.spacing_count;
}

// A new rate counts once a second sequence carries it; a single one between sequences of the running
// rate is an error. False: the time is held back (the first sequence of another rate).
bool take_rate(TimecodeReader& r, const TimecodeTime& time, uint64_t at) {
  if (!r.has_rate) {
    r.has_rate = true;
    r.rate = time.rate;
    return true;
  }
  if (time.rate == r.rate) {
    if (r.rate_pending) fail(r, TimecodeError::rate_flicker, at);
    r.rate_pending = false;
    return true;
  }
  if (!r.rate_pending || r.pending_rate != time.rate || r.state != TimecodeState::running) {
    r.rate_pending = r.state == TimecodeState::running;
    r.pending_rate = time.rate;
    if (r.rate_pending) return false;
  }
  r.rate_pending = false;
  r.rate = time.rate;
  r.has_sequence_time = false;
  r.gap_open = false;
  TimecodeEvent e = event(TimecodeEventKind::rate, at);
  e.time = time;
  push(r, e);
  return true;
}

// After a stop: the time came back where it would have run to (a drop-out), or it starts anew.
void resume(TimecodeReader& r, int32_t shown, uint64_t at) {
  const double elapsed = static_cast<double>(at - r.gap_from_us) / frame_us(r);
  const int32_t gone_on = r.gap_frames + r.direction * static_cast<int32_t>(std::lround(elapsed));
  r.state = TimecodeState::running;
  if (r.gap_open && r.has_time && distance(r, shown, gone_on) <= GONE_ON_FRAMES) {
    ++r.dropouts;
    TimecodeEvent e = event(TimecodeEventKind::dropout, at);
    e.time = time_of(r, shown);
    e.length_us = static_cast<uint32_t>((r.gap_to_us ? r.gap_to_us : at) - r.gap_from_us);
    push(r, e);
  } else {
    TimecodeEvent e = event(TimecodeEventKind::start, at);
    e.time = time_of(r, shown);
    push(r, e);
  }
  r.gap_open = false;
}

// A run of eight pieces is complete: the time they carry, shown two frames on.
void complete(TimecodeReader& r, uint64_t at) {
  const uint8_t* p = r.pieces;
  TimecodeTime time;
  time.frames = static_cast<uint8_t>(p[0] | (p[1] & 1) << 4);
  time.seconds = static_cast<uint8_t>(p[2] | (p[3] & 3) << 4);
  time.minutes = static_cast<uint8_t>(p[4] | (p[5] & 3) << 4);
  time.hours = static_cast<uint8_t>(p[6] | (p[7] & 1) << 4);
  time.rate = static_cast<TimecodeRate>(p[7] >> 1 & 3);
  if (!timecode_valid(time)) {
    fail(r, TimecodeError::out_of_range, at);
    r.has_sequence_time = false;
    return;
  }
  if (!take_rate(r, time, at)) return;
  const int32_t shown = timecode_to_frames(time) + 2 * r.direction;
  if (r.state != TimecodeState::running) {
    resume(r, shown, at);
  } else if (r.has_sequence_time) {
    const int32_t expected = shown_now(r);
    const int32_t slack = r.irregular ? GONE_ON_FRAMES : 0;
    if (distance(r, shown, expected) > slack) {
      TimecodeEvent e = event(TimecodeEventKind::jump, at);
      e.time = time_of(r, shown);
      e.from = time_of(r, expected);
      push(r, e);
    }
  }
  r.shown_frames = shown;
  r.quarter_since_shown = 0;
  r.has_time = true;
  r.has_sequence_time = true;
  r.irregular = false;
}

// The piece joins the sequence under way; a sequence starts at piece 0 forwards, at piece 7 backwards.
void collect(TimecodeReader& r, int piece, uint64_t at) {
  const int first = r.direction > 0 ? 0 : SEQUENCE - 1;
  const int last = SEQUENCE - 1 - first;
  if (piece == first) {
    r.collected = static_cast<uint8_t>(1u << piece);
  } else if (r.collected != 0) {
    r.collected |= static_cast<uint8_t>(1u << piece);
  }
  if (piece == last && r.collected == 0xFF) {
    r.collected = 0;
    complete(r, at);
  }
}

// A quarter frame that carries the next piece in either direction.
void fitted(TimecodeReader& r, int previous, int step, uint64_t gap, uint64_t at) {
  if (step != r.direction) {
    settle(r);
    r.direction = static_cast<int8_t>(step);
    const int first = step > 0 ? 0 : SEQUENCE - 1;
    r.collected = previous == first ? static_cast<uint8_t>(1u << previous) : 0;
    r.has_sequence_time = false;
  }
  if (r.state == TimecodeState::running) {
    record_spacing(r, gap);
    ++r.fitting;
    ++r.quarter_since_shown;
  }
  r.last_fit_us = at;
}

// A piece that does not follow the last one: after a gap a drop-out, otherwise an error.
void misfit(TimecodeReader& r, int previous, int piece, uint64_t gap, uint64_t at) {
  const bool running = r.state == TimecodeState::running;
  if (running && static_cast<double>(gap) > DROP_QUARTERS * frame_us(r) / QUARTERS) {
    ++r.dropouts;
    TimecodeEvent e = event(TimecodeEventKind::dropout, at);
    e.time = time_of(r, shown_now(r));
    e.length_us = static_cast<uint32_t>(std::min<uint64_t>(gap, UINT32_MAX));
    push(r, e);
    // The quarter frames missed carried time that went on: count them as they would have come.
    const uint64_t missed = static_cast<uint64_t>(std::llround(gap * QUARTERS / frame_us(r)));
    r.quarter_since_shown += static_cast<int>(std::min<uint64_t>(missed, QUARTERS * SEQUENCE));
    r.last_fit_us = at;
  } else {
    fail(r, piece == previous ? TimecodeError::repeated_piece : TimecodeError::missing_piece, at);
  }
  r.irregular = true;
  r.collected = 0;
}

void quarter_frame(TimecodeReader& r, uint8_t data, uint64_t at) {
  const int piece = data >> 4;
  const int previous = r.last_piece;
  const uint64_t gap = at - r.last_piece_us;
  r.last_piece = static_cast<int8_t>(piece);
  r.last_piece_us = at;
  r.pieces[piece] = data & 0x0F;
  if (r.pieces[piece] > PIECE_MAX[piece]) {
    fail(r, TimecodeError::out_of_range, at);
    r.collected = 0;
    r.irregular = true;
    return;
  }
  if (r.gap_open && r.gap_to_us == 0) r.gap_to_us = at;
  if (previous < 0) {
    r.last_fit_us = at;
    collect(r, piece, at);
    return;
  }
  const int step = piece == ((previous + 1) & 7) ? 1 : piece == ((previous + 7) & 7) ? -1 : 0;
  if (step == 0) {
    misfit(r, previous, piece, gap, at);
  } else {
    fitted(r, previous, step, gap, at);
  }
  collect(r, piece, at);
}

TimecodeTime time_in_message(const uint8_t* at) {
  TimecodeTime time;
  time.rate = static_cast<TimecodeRate>(at[0] >> 5 & 3);
  time.hours = at[0] & 0x1F;
  time.minutes = at[1];
  time.seconds = at[2];
  time.frames = at[3];
  return time;
}

void locate(TimecodeReader& r, const TimecodeTime& time, TimecodeSource source, uint8_t id, uint64_t at) {
  r.has_locate = true;
  r.locate = time;
  TimecodeEvent e = event(TimecodeEventKind::locate, at);
  e.time = time;
  e.source = source;
  e.mmc_id = id;
  push(r, e);
}

// F0 7F dev 01 01 hr mn sc fr F7: a position. Quarter frames do not run meanwhile.
void full_message(TimecodeReader& r, int length, uint64_t at) {
  constexpr TimecodeSource FULL = TimecodeSource::full_message;
  if (length != FULL_LENGTH) return fail(r, TimecodeError::malformed, at, FULL);
  const TimecodeTime time = time_in_message(r.sysex + 5);
  if (!timecode_valid(time)) return fail(r, TimecodeError::out_of_range, at, FULL);
  if (r.state == TimecodeState::running) stop(r, at, false);
  r.gap_open = false;
  forget_sequence(r);
  if (r.has_rate && time.rate != r.rate) {
    TimecodeEvent e = event(TimecodeEventKind::rate, at);
    e.time = time;
    e.source = FULL;
    push(r, e);
  }
  r.has_rate = true;
  r.rate_pending = false;
  r.rate = time.rate;
  r.shown_frames = timecode_to_frames(time);
  r.has_time = true;
  r.state = TimecodeState::stopped;
  locate(r, time, TimecodeSource::full_message, 0, at);
}

// F0 7F id 06 44 06 01 hr mn sc fr st F7: a command to locate, to the device `id`. Other locates (to an
// information field) are not positions and pass.
void mmc_locate(TimecodeReader& r, int length, uint64_t at) {
  if (length > LOCATE_TARGET_AT + 1 && r.sysex[LOCATE_TARGET_AT] != LOCATE_TARGET) return;
  constexpr TimecodeSource MMC = TimecodeSource::mmc;
  if (length != LOCATE_LENGTH || r.sysex[5] != LOCATE_COUNT)
    return fail(r, TimecodeError::malformed, at, MMC);
  const TimecodeTime time = time_in_message(r.sysex + 7);
  if (!timecode_valid(time) || r.sysex[11] > MAX_SUBFRAME)
    return fail(r, TimecodeError::out_of_range, at, MMC);
  locate(r, time, TimecodeSource::mmc, r.sysex[2], at);
}

// A System Exclusive message ended (complete: with F7; otherwise cut off by a status byte).
void sysex_ended(TimecodeReader& r, bool complete, uint64_t at) {
  const int length = r.sysex_length;
  r.sysex_length = -1;
  if (length < HEADER_LENGTH || r.sysex[1] != UNIVERSAL_REALTIME) return;
  const bool full = r.sysex[3] == SUB_TIME_CODE && r.sysex[4] == FULL_MESSAGE;
  const bool mmc = r.sysex[3] == SUB_MMC_COMMAND && r.sysex[4] == MMC_LOCATE;
  if (!full && !mmc) return;
  if (!complete)
    return fail(r, TimecodeError::malformed, at, full ? TimecodeSource::full_message : TimecodeSource::mmc);
  if (full) full_message(r, length, at);
  if (mmc) mmc_locate(r, length, at);
}

}  // namespace

void timecode_advance(TimecodeReader& reader, uint64_t now_us) {
  reader.latest_us = std::max(reader.latest_us, now_us);
  if (reader.state != TimecodeState::running) return;
  const uint64_t limit = reader.last_fit_us + static_cast<uint64_t>(STOP_FRAMES * frame_us(reader));
  if (reader.latest_us > limit) stop(reader, limit, true);
}

void timecode_feed(TimecodeReader& reader, const uint8_t* bytes, int length, uint64_t at_us) {
  timecode_advance(reader, at_us);
  const uint64_t at = reader.latest_us;
  TimecodeReader& r = reader;
  for (int i = 0; i < length; ++i) {
    const uint8_t byte = bytes[i];
    if (byte >= REALTIME_FIRST) continue;
    if (byte == SYSEX_END) {
      if (r.sysex_length < 0) continue;
      if (r.sysex_length < TIMECODE_SYSEX_MAX) r.sysex[r.sysex_length] = byte;
      ++r.sysex_length;
      sysex_ended(r, true, at);
    } else if (byte >= STATUS_FIRST) {
      if (r.sysex_length >= 0) sysex_ended(r, false, at);
      r.quarter_frame_status = byte == QUARTER_FRAME;
      if (byte == SYSEX_START) {
        r.sysex[0] = byte;
        r.sysex_length = 1;
      }
    } else if (r.sysex_length >= 0) {
      if (r.sysex_length < TIMECODE_SYSEX_MAX) r.sysex[r.sysex_length] = byte;
      ++r.sysex_length;
    } else if (r.quarter_frame_status) {
      r.quarter_frame_status = false;
      quarter_frame(r, byte, at);
    }
  }
}

int timecode_take_events(TimecodeReader& reader, TimecodeEvent* events, int max) {
  const int count = std::min(max, reader.event_count);
  for (int i = 0; i < count; ++i) events[i] = reader.events[(reader.event_first + i) % TIMECODE_EVENT_RING];
  reader.event_first = (reader.event_first + count) % TIMECODE_EVENT_RING;
  reader.event_count -= count;
  return count;
}

TimecodeShown timecode_shown(const TimecodeReader& reader) {
  TimecodeShown shown;
  shown.state = reader.state;
  shown.has_time = reader.has_time;
  shown.time = time_of(reader, shown_now(reader));
  shown.direction = reader.direction;
  shown.has_locate = reader.has_locate;
  shown.locate = reader.locate;
  shown.dropouts = reader.dropouts;
  shown.errors = reader.errors;
  shown.frames = reader.fitting / QUARTERS;
  return shown;
}

TimecodeSpread timecode_spread(const TimecodeReader& reader) {
  TimecodeSpread spread;
  spread.count = reader.spacing_count;
  if (spread.count == 0) return spread;
  spread.min_us = reader.spacing_min_us;
  spread.max_us = reader.spacing_max_us;
  // The bin that holds the middle value (the upper one of two), at its centre, within what was seen.
  uint32_t seen = 0;
  for (int bin = 0; bin <= TIMECODE_SPACING_BINS; ++bin) {
    seen += reader.spacing[bin];
    if (seen > spread.count / 2) {
      spread.median_us =
          std::clamp<uint32_t>(static_cast<uint32_t>(bin) * 100 + 50, spread.min_us, spread.max_us);
      break;
    }
  }
  return spread;
}
