// The simulated vexa unit: packets its boot loader refuses, and noise around its replies. What the
// program's own tests already drive through it (settings, status, the upload with its packet scripts,
// silences, verify answers, unplugging after packets) is left to them.
#include <gtest/gtest.h>

#include <vector>

#include "sim/unit/firmware_format.h"
#include "sim/unit/unit.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes STATUS_QUERY{0xF0, 0x2C, 0x4D, 0x10, 0xF7};
const Bytes ERASE{0xF0, 0x2C, 0x4D, 0x12, 0xF7};
const Bytes FINISH{0xF0, 0x2C, 0x4D, 0x50, 0xF7};
const Bytes ACK{0xF0, 0x2C, 0x4D, 0x40, 0xF7};
const Bytes NAK{0xF0, 0x2C, 0x4D, 0x4E, 0xF7};

std::vector<SimReply> say(SimUnit& unit, const Bytes& message, uint64_t now = 0) {
  std::vector<SimReply> replies;
  sim_unit_receive(unit, message.data(), static_cast<int>(message.size()), now, replies);
  return replies;
}

// The single reply to a message, or an empty message when there is not exactly one.
Bytes answer(SimUnit& unit, const Bytes& message, uint64_t now = 0) {
  const auto replies = say(unit, message, now);
  return replies.size() == 1 ? replies[0].bytes : Bytes{};
}

// A packet with the given number and payload, framed and summed as the boot loader expects.
Bytes make_packet(uint32_t number, const Bytes& payload) {
  Bytes packet{0xF0, 0x2C, 0x4D, 0x30, 0, 0, 0};
  firmware_put_packet_number(packet.data() + 4, number);
  for (uint8_t byte : payload) packet.push_back(byte);
  packet.push_back(firmware_checksum(packet.data() + 4, packet.size() - 4));
  packet.push_back(0xF7);
  return packet;
}

SimConfig update_mode() {
  SimConfig config;
  config.mode = SimMode::Boot;
  config.version[0] = 0x7F;
  config.version[1] = 0x7F;
  config.erase_time_us = 1000;
  return config;
}

// A unit in update mode that has erased and is ready for packet 0.
SimUnit erased_unit(const SimConfig& config) {
  SimUnit unit;
  sim_unit_init(unit, config);
  say(unit, ERASE, 0);
  return unit;
}

TEST(SimUnit, RejectsBadPackets) {
  SimUnit unit = erased_unit(update_mode());
  const uint64_t ready = 1000;
  Bytes bad_sum = make_packet(0, {1, 2, 3});
  bad_sum[bad_sum.size() - 2] ^= 1;
  EXPECT_EQ(answer(unit, bad_sum, ready), NAK);
  EXPECT_EQ(answer(unit, make_packet(1, {1, 2}), ready), NAK);        // not the packet it waits for
  EXPECT_EQ(answer(unit, make_packet(0, {}), ready), NAK);            // no payload
  EXPECT_EQ(answer(unit, make_packet(0, Bytes(21, 1)), ready), NAK);  // 24 data bytes at most
  Bytes high = make_packet(0, {0x01, 0x02});
  high[7] = 0x81;
  EXPECT_EQ(answer(unit, high, ready), NAK);
  EXPECT_EQ(answer(unit, {0xF0, 0x2C, 0x4D, 0x30, 0xF7}, ready), NAK);
  EXPECT_TRUE(unit.packets.empty());
  EXPECT_EQ(answer(unit, make_packet(0, {1, 2}), ready), ACK);
  // The same packet again (its ACK was lost) is acknowledged and not written twice.
  EXPECT_EQ(answer(unit, make_packet(0, {1, 2}), ready), ACK);
  EXPECT_EQ(unit.packets.size(), 1u);
  EXPECT_EQ(unit.next_packet, 1);
  // A new erase starts over.
  say(unit, ERASE, ready);
  EXPECT_TRUE(unit.packets.empty());
  EXPECT_EQ(answer(unit, make_packet(0, {1, 2}), 2 * ready), ACK);
}

TEST(SimUnit, NoiseAroundReplies) {
  SimConfig config;
  config.noise = SIM_NOISE_QUARTER_FRAME | SIM_NOISE_FOREIGN_SYSEX | SIM_NOISE_GARBAGE |
                 SIM_NOISE_BROKEN_SYSEX | SIM_NOISE_LONG_SYSEX | SIM_NOISE_REALTIME;
  config.long_sysex_length = 600;
  SimUnit unit;
  sim_unit_init(unit, config);
  const auto replies = say(unit, STATUS_QUERY, 10);
  ASSERT_EQ(replies.size(), 7u);
  EXPECT_EQ(replies[0].bytes, (Bytes{0xF1, 0x00}));
  EXPECT_EQ(replies[1].bytes.front(), 0xF0);
  EXPECT_EQ(replies[1].bytes[1], 0x7E);
  EXPECT_LT(replies[2].bytes.front(), 0x80);
  EXPECT_EQ(replies[3].bytes.back(), 0x33);   // a SysEx without its end
  EXPECT_EQ(replies[4].bytes.front(), 0xF1);  // ... cut off by a quarter frame
  EXPECT_EQ(replies[5].bytes.size(), 600u);
  EXPECT_EQ(replies[5].bytes.back(), 0xF7);
  EXPECT_EQ(replies[6].bytes, (Bytes{0xF0, 0x2C, 0x4D, 0x21, 0xF8, 0x33, 0x31, 0xF7}));
  for (const SimReply& reply : replies) EXPECT_EQ(reply.due_us, replies[6].due_us);
  EXPECT_EQ(say(unit, STATUS_QUERY, 10)[0].bytes, (Bytes{0xF1, 0x01}));
}

}  // namespace
