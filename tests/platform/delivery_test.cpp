// The timing of input: bytes handed to an input for a later time, bytes withdrawn when the unit goes, and
// the simulated unit without its history.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "midi_support.h"
#include "platform/midi/sim/midi_sim.h"
#include "sim/unit/firmware_format.h"
#include "sim/unit/unit.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

TEST(ArrivalTimes, BytesDueLaterWaitForTheirTimeWithoutHoldingBackEarlierOnes) {
  winmm_use_backend(&one_input_backend);
  EventRecorder recorder;
  HMIDIIN in = nullptr;
  ASSERT_EQ(open_recorded_input(&in, 0, recorder), MMSYSERR_NOERROR);
  ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  const uint8_t later[] = {0x90, 0x40, 0x7F};
  const uint8_t sooner[] = {0xF8, 0xFA};
  one_input_sink->arriving(one_input_sink, later, 3, Clock::now() + std::chrono::milliseconds(200));
  one_input_sink->arrived(one_input_sink, sooner, 2);
  one_input_sink->wait_delivered(one_input_sink);
  EXPECT_EQ(recorder.take(), (std::vector<std::string>{"OPEN here", "DATA F8", "DATA FA", "DATA 7F4090"}));
  EXPECT_GE(recorder.times.back(), 200u);  // stamped with the time it was due

  // Withdrawn before their time, bytes never arrive, and nobody waits for them.
  one_input_sink->arriving(one_input_sink, later, 3, Clock::now() + std::chrono::seconds(60));
  one_input_sink->arrived(one_input_sink, sooner, 1);
  one_input_sink->withdraw(one_input_sink);
  one_input_sink->wait_delivered(one_input_sink);
  EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.take(), (std::vector<std::string>{"DATA F8", "CLOSE here"}));
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
