// Conformance of the WINMM MIDI layer with the Windows behaviour that the program relies on, driven
// through the simulated back-end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "midi_support.h"
#include "platform/midi/sim/midi_sim.h"
#include "thread_support.h"

namespace {

constexpr UINT HDR = sizeof(MIDIHDR);
using Lines = std::vector<std::string>;

// A header whose fields that belong to the application hold sentinels.
struct Buffer {
  char bytes[512] = {};
  MIDIHDR header{bytes, 512, 0, 0x1234, 0, reinterpret_cast<MIDIHDR*>(0x5678), 0x9ABC, 0xDEF0, {}};
  explicit Buffer(DWORD length = 512) {
    header.dwBufferLength = length;
    for (DWORD_PTR& word : header.dwReserved) word = 0x7777;
  }
  void expect_sentinels() const {
    EXPECT_EQ(header.dwUser, 0x1234u);
    EXPECT_EQ(header.lpNext, reinterpret_cast<MIDIHDR*>(0x5678));
    EXPECT_EQ(header.reserved, 0x9ABCu);
    EXPECT_EQ(header.dwOffset, 0xDEF0u);
    for (DWORD_PTR word : header.dwReserved) EXPECT_EQ(word, 0x7777u);
  }
};

SimSetup quick_unit() {
  SimSetup setup;
  setup.unit.reply_latency_us = 0;
  return setup;
}

// An input opened on the simulated unit with a recording callback; what the open called back is kept in
// `opened`. Whatever a case leaves queued is handed back and the input closed at its end.
class WinmmInput : public ::testing::Test {
 protected:
  void SetUp() override {
    winmm_use_backend(sim_start(quick_unit()));
    recorder.headers = {&first.header, &second.header};
    ASSERT_EQ(open_recorded_input(&in, 0, recorder), MMSYSERR_NOERROR);
    opened = recorder.take();
  }
  void TearDown() override {
    if (!in) return;
    midiInReset(in);
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
  }
  void prepare_and_queue(Buffer& buffer) {
    ASSERT_EQ(midiInPrepareHeader(in, &buffer.header, HDR), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(in, &buffer.header, HDR), MMSYSERR_NOERROR);
  }
  // The events that the bytes, arriving from the unit, make.
  Lines feed(const std::vector<uint8_t>& bytes) {
    sim_inject(0, bytes);
    sim_flush();
    return recorder.take();
  }

  EventRecorder recorder;
  HMIDIIN in = nullptr;
  Lines opened;
  // Members, so that they outlive the reset at the end that hands back what is still queued.
  Buffer first, second;
};

TEST_F(WinmmInput, OpenCallsBackAndPrepareKeepsToTheHeaderRules) {
  EXPECT_EQ(opened, Lines{"OPEN here"});

  // A size below offsetof(MIDIHDR, dwOffset) is refused and the flags stay.
  first.header.dwFlags = MHDR_DONE;
  EXPECT_EQ(midiInPrepareHeader(in, &first.header, offsetof(MIDIHDR, dwOffset) - 1), MMSYSERR_INVALPARAM);
  EXPECT_EQ(midiInPrepareHeader(in, nullptr, HDR), MMSYSERR_INVALPARAM);
  EXPECT_EQ(first.header.dwFlags, static_cast<DWORD>(MHDR_DONE));
  // Unprepared headers are refused; an unprepare of one succeeds unchanged.
  EXPECT_EQ(midiInAddBuffer(in, &first.header, HDR), MIDIERR_UNPREPARED);
  EXPECT_EQ(midiInUnprepareHeader(in, &first.header, HDR), MMSYSERR_NOERROR);
  EXPECT_EQ(first.header.dwFlags, static_cast<DWORD>(MHDR_DONE));
  // Prepare clears DONE and INQUEUE; a second prepare changes nothing.
  first.header.dwFlags = MHDR_DONE | MHDR_INQUEUE;
  ASSERT_EQ(midiInPrepareHeader(in, &first.header, offsetof(MIDIHDR, dwOffset)), MMSYSERR_NOERROR);
  EXPECT_EQ(first.header.dwFlags, static_cast<DWORD>(MHDR_PREPARED));
  first.header.dwFlags |= MHDR_DONE;
  EXPECT_EQ(midiInPrepareHeader(in, &first.header, HDR), MMSYSERR_NOERROR);
  EXPECT_EQ(first.header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
}

TEST_F(WinmmInput, AddBufferChecksInOrderAndQueuedBuffersStayOverStartAndStop) {
  Buffer zero(0);
  for (Buffer* buffer : {&first, &second, &zero}) {
    ASSERT_EQ(midiInPrepareHeader(in, &buffer->header, HDR), MMSYSERR_NOERROR);
  }
  // Add buffer: short size and zero length first, then queued, then unprepared.
  EXPECT_EQ(midiInAddBuffer(in, &zero.header, HDR), MMSYSERR_INVALPARAM);
  EXPECT_EQ(midiInAddBuffer(in, &first.header, offsetof(MIDIHDR, dwOffset) - 1), MMSYSERR_INVALPARAM);
  first.header.dwBytesRecorded = 99;
  ASSERT_EQ(midiInAddBuffer(in, &first.header, HDR), MMSYSERR_NOERROR);
  EXPECT_EQ(first.header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE));
  EXPECT_EQ(first.header.dwBytesRecorded, 0u);
  EXPECT_EQ(midiInAddBuffer(in, &first.header, HDR), MIDIERR_STILLPLAYING);
  ASSERT_EQ(midiInAddBuffer(in, &second.header, HDR), MMSYSERR_NOERROR);
  EXPECT_EQ(midiInUnprepareHeader(in, &first.header, HDR), MIDIERR_STILLPLAYING);
  EXPECT_EQ(first.header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE));
  EXPECT_EQ(midiInClose(in), MIDIERR_STILLPLAYING);

  // Start twice, stop twice: no effect the second time. Empty buffers stay queued over a stop.
  EXPECT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  EXPECT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  EXPECT_EQ(midiInStop(in), MMSYSERR_NOERROR);
  EXPECT_EQ(midiInStop(in), MMSYSERR_NOERROR);
  EXPECT_TRUE(recorder.take().empty());
  EXPECT_EQ(first.header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE));
}

TEST_F(WinmmInput, ResetHandsEveryBufferBackAndUnprepareClearsOnlyPrepared) {
  prepare_and_queue(first);
  prepare_and_queue(second);
  // Reset hands every queued buffer back, in queue order, on the caller's thread.
  EXPECT_EQ(midiInReset(in), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.take(), (Lines{"LONGDATA 1 prepared+done here", "LONGDATA 2 prepared+done here"}));

  // Unprepare clears PREPARED only.
  EXPECT_EQ(midiInUnprepareHeader(in, &first.header, HDR), MMSYSERR_NOERROR);
  EXPECT_EQ(first.header.dwFlags, static_cast<DWORD>(MHDR_DONE));
  first.expect_sentinels();
  second.expect_sentinels();
  EXPECT_EQ(first.header.lpData, first.bytes);
  EXPECT_EQ(first.header.dwBufferLength, 512u);

  EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.take(), Lines{"CLOSE here"});
  in = nullptr;
}

// Note on, the same by running status, a quarter frame, a clock, a stray data byte after the quarter frame
// (system common ends running status), a program change, a tune request.
TEST_F(WinmmInput, ShortMessagesComeOneByOneFromTheInputThread) {
  prepare_and_queue(first);
  prepare_and_queue(second);
  ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  EXPECT_EQ(feed({0x90, 0x40, 0x7F, 0x41, 0x00, 0xF1, 0x25, 0xF8, 0x33, 0xC3, 0x05, 0xF6}),
            (Lines{"DATA 7F4090", "DATA 4190", "DATA 25F1", "DATA F8", "DATA 5C3", "DATA F6"}));
  EXPECT_EQ(first.header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE));  // untouched
}

// With two 512-byte buffers queued: a SysEx stays whole around a realtime byte, and one longer than a
// buffer goes on in the next.
TEST_F(WinmmInput, SysexFillsTheQueuedBuffersInTurn) {
  prepare_and_queue(first);
  prepare_and_queue(second);
  ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  // A reply with a clock byte inside: the clock is delivered on its own and the SysEx stays whole.
  EXPECT_EQ(feed({0xF0, 0x2C, 0x4D, 0xF8, 0x21, 0x33, 0x31, 0xF7}),
            (Lines{"DATA F8", "LONGDATA 1 prepared+done F0 2C 4D 21 33 31 F7"}));
  first.expect_sentinels();

  // 600 bytes: the first 512 in one buffer without F7, the other 88 in the next ending with F7.
  ASSERT_EQ(midiInAddBuffer(in, &first.header, HDR), MMSYSERR_NOERROR);
  std::vector<uint8_t> long_sysex(600, 0x11);
  long_sysex.front() = 0xF0;
  long_sysex.back() = 0xF7;
  long_sysex[511] = 0x22;
  EXPECT_EQ(feed(long_sysex),
            (Lines{"LONGDATA 2 prepared+done 512 bytes", "LONGDATA 1 prepared+done 88 bytes"}));
  EXPECT_EQ(second.bytes[511], 0x22);
  EXPECT_EQ(first.bytes[0], 0x11);
  EXPECT_EQ(first.bytes[87], char(0xF7));
}

TEST_F(WinmmInput, SysexWithoutABufferIsDroppedAndAStatusBreaksOne) {
  ASSERT_EQ(midiInPrepareHeader(in, &first.header, HDR), MMSYSERR_NOERROR);
  ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  // No buffer queued: the SysEx is dropped without a word, and only the short message comes through.
  EXPECT_EQ(feed({0xF0, 0x2C, 0x4D, 0x40, 0xF7, 0xF1, 0x01}), Lines{"DATA 1F1"});

  // A status byte breaks a SysEx: the buffer comes back as MIM_LONGERROR with what it holds.
  ASSERT_EQ(midiInAddBuffer(in, &first.header, HDR), MMSYSERR_NOERROR);
  EXPECT_EQ(feed({0xF0, 0x2C, 0x4D, 0x21, 0x90, 0x40, 0x7F}),
            (Lines{"LONGERROR 1 prepared+done F0 2C 4D 21", "DATA 7F4090"}));
}

TEST_F(WinmmInput, StopHandsBackAPartBufferAndAStartBeginsAfresh) {
  ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  // Stop hands back a partly filled buffer on the caller's thread; an empty one stays queued.
  prepare_and_queue(first);
  prepare_and_queue(second);
  EXPECT_TRUE(feed({0xF0, 0x2C, 0x4D, 0x21}).empty());
  ASSERT_EQ(midiInStop(in), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.take(), Lines{"LONGDATA 1 prepared+done F0 2C 4D 21 here"});
  EXPECT_EQ(second.header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE));
  // Input that arrives while stopped is dropped; started again, the parser begins afresh.
  EXPECT_TRUE(feed({0xF0, 0x01, 0xF7, 0x90, 0x40, 0x7F}).empty());
  ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  EXPECT_EQ(feed({0x05, 0xF7, 0xF0, 0x7E, 0xF7}), Lines{"LONGDATA 2 prepared+done F0 7E F7"});
}

// Names are UTF-8. szPname takes at most 31 bytes and a NUL, cut after the last whole character that fits:
// characters of two, three and four bytes across the 31st byte, both kinds of device.
TEST(Winmm, LongNamesAreCutAfterAWholeCharacter) {
  const std::string x(27, 'x');
  const std::string e_acute = "\xC3\xA9", euro = "\xE2\x82\xAC", keys = "\xF0\x9F\x8E\xB9";
  const std::pair<std::string, std::string> names[] = {
      {x + "abcd", x + "abcd"},                        // 31 bytes: whole
      {x + "abc" + e_acute, x + "abc"},                // the last character's second byte would be the 32nd
      {x + "ab" + e_acute + "z", x + "ab" + e_acute},  // ends on byte 31
      {x + "ab" + euro, x + "ab"},                     // three bytes, one of them past the field
      {x + "abc" + euro, x + "abc"},                   // three bytes, one in the field
      {x + "a" + keys, x + "a"},                       // four bytes, one past the field
      {x + keys + "z", x + keys},                      // four bytes, ending on byte 31
  };
  SimSetup setup;
  setup.outputs.clear();
  setup.inputs.clear();
  for (const auto& [name, cut] : names) {
    setup.outputs.push_back({name, false});
    setup.inputs.push_back({name, false});
  }
  winmm_use_backend(sim_start(setup));
  for (UINT i = 0; i < std::size(names); ++i) {
    MIDIOUTCAPSA out{};
    MIDIINCAPSA in{};
    ASSERT_EQ(midiOutGetDevCapsA(i, &out, sizeof out), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInGetDevCapsA(i, &in, sizeof in), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(out.szPname), names[i].second) << i;
    EXPECT_EQ(std::string(in.szPname), names[i].second) << i;
  }
}

// The unit's replies flood an input whose callback is held up; closing waits for the callback in
// progress, and once close has returned no callback runs any more.
TEST(Winmm, CloseWaitsForCallbackInProgress) {
  winmm_use_backend(sim_start(quick_unit()));
  struct Held {
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> closed{false};
    std::atomic<int> after_close{0};
  } held;
  auto callback = [](HMIDIIN, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
    auto* h = reinterpret_cast<Held*>(instance);
    if (h->closed) ++h->after_close;
    if (msg != MIM_DATA) return;
    h->entered = true;
    while (!h->release) std::this_thread::yield();
  };
  HMIDIIN in = nullptr;
  ASSERT_EQ(midiInOpen(&in, 0, reinterpret_cast<DWORD_PTR>(+callback), reinterpret_cast<DWORD_PTR>(&held),
                       CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  sim_inject(0, {0xF1, 0x01, 0xF1, 0x02, 0xF1, 0x03});
  while (!held.entered) std::this_thread::yield();

  std::atomic<bool> close_returned{false};
  std::atomic<pid_t> closer_tid{0};
  std::thread closer([&] {
    closer_tid = this_thread_tid();
    EXPECT_EQ(midiInStop(in), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    held.closed = true;
    close_returned = true;
  });
  // The closer either returns, or waits in the kernel for the callback.
  while (!close_returned && (closer_tid == 0 || !thread_sleeping(closer_tid))) std::this_thread::yield();
  EXPECT_FALSE(close_returned);
  held.release = true;
  closer.join();
  sim_inject(0, {0xF1, 0x04});
  sim_flush();
  EXPECT_EQ(held.after_close, 0);
}

}  // namespace
