// The simulated vexa unit: its answer to every message of the unit's set, the update handshake and the
// faults that tests choose. What the program's own tests already drive through it (the embedded image's
// upload, erase and finish silences, verify answers, unplugging after packets) is left to them.
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

Bytes parameter(uint8_t param, uint8_t value) { return {0xF0, 0x2C, 0x4D, param, value, 0xF7}; }

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

TEST(SimUnit, ParametersReadBackAndSet) {
  SimUnit unit;
  sim_unit_init(unit, SimConfig{});
  // Defaults: all off, MMC ID 0, brightness 8; each reply code is the parameter byte + 0x10.
  for (int i = 0; i < SIM_PARAM_COUNT; ++i) {
    const uint8_t param = sim_param_bytes[i];
    const uint8_t expected = param == 0x56 ? 8 : 0;
    EXPECT_EQ(answer(unit, parameter(param, 0x7F)), parameter(static_cast<uint8_t>(param + 0x10), expected));
  }
  // Set messages are not answered; values out of range are ignored.
  EXPECT_TRUE(say(unit, parameter(0x5D, 0x01)).empty());
  EXPECT_TRUE(say(unit, parameter(0x5D, 0x02)).empty());
  EXPECT_TRUE(say(unit, parameter(0x58, 0x01)).empty());
  EXPECT_TRUE(say(unit, parameter(0x56, 0x07)).empty());
  EXPECT_TRUE(say(unit, parameter(0x56, 0x10)).empty());
  EXPECT_TRUE(say(unit, parameter(0x53, 0x7E)).empty());
  EXPECT_EQ(sim_unit_setting(unit, 0x5D), 1);
  EXPECT_EQ(sim_unit_setting(unit, 0x58), 1);
  EXPECT_EQ(sim_unit_setting(unit, 0x56), 7);
  EXPECT_EQ(sim_unit_setting(unit, 0x53), 126);
  EXPECT_EQ(answer(unit, parameter(0x53, 0x7F)), parameter(0x63, 126));
  // Bytes 54 and 57 are no parameters; other models and broken frames are not for this unit.
  EXPECT_TRUE(say(unit, parameter(0x54, 0x7F)).empty());
  EXPECT_TRUE(say(unit, parameter(0x57, 0x7F)).empty());
  EXPECT_TRUE(say(unit, {0xF0, 0x2C, 0x4E, 0x56, 0x7F, 0xF7}).empty());
  EXPECT_TRUE(say(unit, {0xF0, 0x2C, 0x4D, 0x56, 0x7F}).empty());
  EXPECT_TRUE(say(unit, {0xF1, 0x01}).empty());
  EXPECT_EQ(unit.received.size(), 22u);
  EXPECT_EQ(sim_unit_count(unit, 0x56), 4);

  // Settings from the config; the boot loader does not answer parameters unless asked to.
  SimConfig config = update_mode();
  config.settings[3] = 15;
  sim_unit_init(unit, config);
  EXPECT_TRUE(say(unit, parameter(0x56, 0x7F)).empty());
  config.params_in_boot = true;
  sim_unit_init(unit, config);
  EXPECT_EQ(answer(unit, parameter(0x56, 0x7F)), parameter(0x66, 15));
}

TEST(SimUnit, StatusQueryAndTiming) {
  SimConfig config;
  config.reply_latency_us = 2500;
  SimUnit unit;
  sim_unit_init(unit, config);
  auto replies = say(unit, STATUS_QUERY, 1000);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes, (Bytes{0xF0, 0x2C, 0x4D, 0x21, 0x33, 0x31, 0xF7}));
  EXPECT_EQ(replies[0].due_us, 3500u);

  config = update_mode();
  config.version[0] = 0x32;
  config.version[1] = 0x39;
  sim_unit_init(unit, config);
  EXPECT_EQ(answer(unit, STATUS_QUERY), (Bytes{0xF0, 0x2C, 0x4D, 0x1F, 0x32, 0x39, 0xF7}));

  // Commands of the boot loader mean nothing to the running firmware.
  sim_unit_init(unit, SimConfig{});
  EXPECT_TRUE(say(unit, ERASE).empty());
  EXPECT_TRUE(say(unit, make_packet(0, {1, 2})).empty());
  EXPECT_TRUE(say(unit, FINISH).empty());

  // Replies of another maker or model.
  config = SimConfig{};
  config.reply_model = 0x4E;
  sim_unit_init(unit, config);
  EXPECT_EQ(answer(unit, STATUS_QUERY), (Bytes{0xF0, 0x2C, 0x4E, 0x21, 0x33, 0x31, 0xF7}));
}

// The program's upload of the embedded image drives the whole handshake; here, the times and the answers
// around it.
TEST(SimUnit, EraseWriteAndFinish) {
  SimConfig config = update_mode();
  config.erase_time_us = 400000;
  SimUnit unit;
  sim_unit_init(unit, config);
  EXPECT_EQ(answer(unit, STATUS_QUERY), (Bytes{0xF0, 0x2C, 0x4D, 0x1F, 0x7F, 0x7F, 0xF7}));
  auto replies = say(unit, ERASE, 100);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes, (Bytes{0xF0, 0x2C, 0x4D, 0x22, 0xF7}));
  EXPECT_EQ(replies[0].due_us, 400100u);
  // A packet while the erase is still running is refused.
  const Bytes p0 = make_packet(0, {1, 2}), p1 = make_packet(1, {3});
  EXPECT_EQ(answer(unit, p0, 200000), NAK);
  EXPECT_EQ(answer(unit, p0, 400100), ACK);
  EXPECT_EQ(answer(unit, p1, 400101), ACK);
  Bytes image = p0;
  image.insert(image.end(), p1.begin(), p1.end());
  EXPECT_EQ(sim_unit_written_image(unit), image);
  EXPECT_EQ(sim_unit_count(unit, 0x30), 3);

  EXPECT_EQ(answer(unit, STATUS_QUERY), (Bytes{0xF0, 0x2C, 0x4D, 0x1F, 0x33, 0x31, 0xF7}));
  EXPECT_EQ(answer(unit, FINISH), (Bytes{0xF0, 0x2C, 0x4D, 0x60, 0xF7}));
  EXPECT_EQ(unit.mode, SimMode::Running);
  EXPECT_EQ(answer(unit, STATUS_QUERY), (Bytes{0xF0, 0x2C, 0x4D, 0x21, 0x33, 0x31, 0xF7}));
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

TEST(SimUnit, PacketScriptsAndFaults) {
  const uint64_t ready = 1000;
  SimConfig config = update_mode();
  config.packet_scripts[1] = "NTRBA";
  config.every_packet_script = "N";
  config.late_reply_us = 700000;
  config.packet_scripts[2] = "L";
  SimUnit unit = erased_unit(config);
  const Bytes p0 = make_packet(0, {5}), p1 = make_packet(1, {6}), p2 = make_packet(2, {7});
  EXPECT_EQ(answer(unit, p0, ready), NAK);  // every packet: one NAK first
  EXPECT_EQ(answer(unit, p0, ready), ACK);
  EXPECT_EQ(answer(unit, p1, ready), NAK);
  EXPECT_TRUE(say(unit, p1, ready).empty());
  EXPECT_EQ(answer(unit, p1, ready), (Bytes{0xF0, 0x2C, 0x4D, 0x21, 0x33, 0x31, 0xF7}));
  EXPECT_EQ(answer(unit, p1, ready), (Bytes{0xF0, 0x2C, 0x4D, 0x1F, 0x33, 0x31, 0xF7}));
  EXPECT_EQ(answer(unit, p1, ready), ACK);
  auto replies = say(unit, p2, ready);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes, ACK);
  EXPECT_EQ(replies[0].due_us, ready + config.reply_latency_us + 700000);
  EXPECT_EQ(unit.packets.size(), 3u);

  // Unplugged by a script letter: no answer, nothing more answered.
  config = update_mode();
  config.packet_scripts[0] = "U";
  unit = erased_unit(config);
  EXPECT_TRUE(say(unit, p0, ready).empty());
  EXPECT_TRUE(unit.unplugged);
  EXPECT_TRUE(say(unit, STATUS_QUERY, ready).empty());

  // Before any packet the status query is no verify yet; a silent verify answers nothing after one.
  config = update_mode();
  config.verify_answer = SimVerifyAnswer::Silence;
  unit = erased_unit(config);
  EXPECT_EQ(answer(unit, STATUS_QUERY, ready), (Bytes{0xF0, 0x2C, 0x4D, 0x1F, 0x7F, 0x7F, 0xF7}));
  EXPECT_EQ(answer(unit, p0, ready), ACK);
  EXPECT_TRUE(say(unit, STATUS_QUERY, ready).empty());
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
