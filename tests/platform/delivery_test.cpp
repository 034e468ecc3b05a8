// The timing of input: bytes handed to an input for a later time, bytes withdrawn when the unit goes, and
// the simulated unit without its history.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "midi_support.h"
#include "sim/unit/firmware_format.h"
#include "sim/unit/unit.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// A back-end with one input whose bytes the test hands over itself.
MidiSink* test_sink = nullptr;
int one() { return 1; }
bool name_of(int device, char* name, int size) {
  if (device != 0 || size < 5) return false;
  std::strcpy(name, "test");
  return true;
}
int no_output(int, int*) { return MMSYSERR_BADDEVICEID; }
int close_nothing(int) { return MMSYSERR_NOERROR; }
int send_nothing(int, const uint8_t*, int) { return MMSYSERR_NODRIVER; }
int open_test_input(int device, MidiSink* sink, int* port) {
  if (device != 0) return MMSYSERR_BADDEVICEID;
  test_sink = sink;
  *port = 1;
  return MMSYSERR_NOERROR;
}
void close_test_input(int) { test_sink = nullptr; }
bool never_gone(int) { return false; }
void no_threads() {}
const MidiBackend test_backend = {"test",     one,           one,          name_of,         name_of,
                                  no_output,  close_nothing, send_nothing, open_test_input, close_test_input,
                                  never_gone, never_gone,    no_threads};

TEST(ArrivalTimes, BytesDueLaterWaitForTheirTimeWithoutHoldingBackEarlierOnes) {
  winmm_use_backend(&test_backend);
  EventRecorder recorder;
  HMIDIIN in = nullptr;
  ASSERT_EQ(open_recorded_input(&in, 0, recorder), MMSYSERR_NOERROR);
  ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);

  recorder.take();  // MIM_OPEN
  const uint8_t later[] = {0x90, 0x40, 0x7F};
  const uint8_t sooner[] = {0xF8, 0xFA};
  test_sink->arriving(test_sink, later, 3, Clock::now() + std::chrono::milliseconds(200));
  test_sink->arrived(test_sink, sooner, 2);
  test_sink->wait_delivered(test_sink);
  std::vector<RecordedEvent> events = recorder.take();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].param1, 0xF8u);
  EXPECT_EQ(events[1].param1, 0xFAu);
  EXPECT_EQ(events[2].param1, 0x7F4090u);
  EXPECT_GE(events[2].param2, 200u);  // stamped with the time it was due

  // Withdrawn before their time, bytes never arrive, and nobody waits for them.
  test_sink->arriving(test_sink, later, 3, Clock::now() + std::chrono::seconds(60));
  test_sink->arrived(test_sink, sooner, 1);
  test_sink->withdraw(test_sink);
  test_sink->wait_delivered(test_sink);
  events = recorder.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].param1, 0xF8u);

  EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
  events = recorder.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].msg, static_cast<UINT>(MIM_CLOSE));
  winmm_use_backend(sim_start());
}

// The unit's replies to the update handshake, laid end to end, from a unit with or without its history.
Bytes handshake_replies(bool keep_history, SimUnit& unit) {
  SimConfig config;
  config.mode = SimMode::Boot;
  config.erase_time_us = 0;
  config.keep_history = keep_history;
  sim_unit_init(unit, config);
  Bytes packet{0xF0, 0x2C, 0x4D, 0x30, 0, 0, 0, 0x11, 0x22};
  firmware_put_packet_number(packet.data() + 4, 0);
  packet.push_back(firmware_checksum(packet.data() + 4, packet.size() - 4));
  packet.push_back(0xF7);
  const Bytes messages[] = {{0xF0, 0x2C, 0x4D, 0x10, 0xF7}, {0xF0, 0x2C, 0x4D, 0x12, 0xF7}, packet, packet};
  SimReplies replies;
  uint64_t now = 0;
  for (const Bytes& message : messages) {
    sim_unit_receive(unit, message.data(), static_cast<int>(message.size()), now += 10, replies);
  }
  size_t end = 0;
  for (const SimReplySpan& span : replies.spans) {
    EXPECT_EQ(span.offset, end);
    end += span.length;
  }
  EXPECT_EQ(end, replies.bytes.size());
  EXPECT_EQ(replies.spans.size(), 4u);
  return replies.bytes;
}

TEST(SimUnit, WithoutHistoryItAnswersAlikeAndKeepsNoCopies) {
  SimUnit with;
  SimUnit without;
  const Bytes expected{0xF0, 0x2C, 0x4D, 0x1F, 0x33, 0x31, 0xF7, 0xF0, 0x2C, 0x4D, 0x22,
                       0xF7, 0xF0, 0x2C, 0x4D, 0x40, 0xF7, 0xF0, 0x2C, 0x4D, 0x40, 0xF7};
  EXPECT_EQ(handshake_replies(true, with), expected);
  EXPECT_EQ(handshake_replies(false, without), expected);
  EXPECT_EQ(with.received.size(), 4u);
  EXPECT_EQ(with.packets.size(), 1u);
  EXPECT_TRUE(without.received.empty());
  EXPECT_TRUE(without.packets.empty());
  EXPECT_EQ(without.next_packet, 1);
}

}  // namespace
