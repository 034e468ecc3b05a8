// The simulated vexa unit. It answers the parameter messages and the status query like the firmware, and
// the update handshake like the boot loader: erase, data packets checked for framing, checksum and number,
// verify and finish. Faults are chosen through SimConfig.
#include "sim/unit/unit.h"

#include <algorithm>

#include "sim/unit/firmware_format.h"

namespace {

constexpr uint8_t SYSEX_START = 0xF0;
constexpr uint8_t SYSEX_END = 0xF7;
constexpr uint8_t CMD_STATUS_QUERY = 0x10;
constexpr uint8_t CMD_ERASE = 0x12;
constexpr uint8_t CMD_DATA_PACKET = 0x30;
constexpr uint8_t CMD_FINISH = 0x50;
constexpr uint8_t VALUE_READ_BACK = 0x7F;
constexpr uint8_t CODE_RUNNING = 0x21;
constexpr uint8_t CODE_ERASED = 0x22;
constexpr uint8_t CODE_ACK = 0x40;
constexpr uint8_t CODE_NAK = 0x4E;
constexpr uint8_t CODE_FINISHED = 0x60;
constexpr uint8_t CODE_LONG_NOISE = 0x70;
constexpr uint8_t PARAM_REPLY_OFFSET = 0x10;
constexpr uint8_t PARAM_MMC_ID = 0x53;
constexpr uint8_t PARAM_BRIGHTNESS = 0x56;
constexpr uint8_t NO_FIRMWARE = 0x7F;

// Starts a reply due at `due`; put() appends its bytes.
void begin(SimReplies& replies, uint64_t due) {
  replies.spans.push_back(SimReplySpan{due, replies.bytes.size(), 0});
}

void put(SimReplies& replies, uint8_t byte) {
  replies.bytes.push_back(byte);
  ++replies.spans.back().length;
}

void push_chunk(SimReplies& replies, uint64_t due, std::initializer_list<uint8_t> bytes) {
  begin(replies, due);
  for (uint8_t byte : bytes) put(replies, byte);
}

// The extra traffic chosen in config.noise goes out right before each reply, in a fixed order.
void push_noise(SimUnit& unit, SimReplies& replies, uint64_t due) {
  const uint32_t noise = unit.config.noise;
  const uint8_t n = unit.noise_counter++;
  if (noise & SIM_NOISE_QUARTER_FRAME) push_chunk(replies, due, {0xF1, static_cast<uint8_t>(n & 0x7F)});
  if (noise & SIM_NOISE_FOREIGN_SYSEX)
    push_chunk(replies, due, {SYSEX_START, 0x7E, 0x7F, 0x06, 0x01, SYSEX_END});
  if (noise & SIM_NOISE_GARBAGE) push_chunk(replies, due, {0x12, 0x34, static_cast<uint8_t>(n & 0x7F)});
  if (noise & SIM_NOISE_BROKEN_SYSEX) {
    push_chunk(replies, due, {SYSEX_START, SIM_MANUFACTURER_ID, SIM_MODEL_ID, CODE_RUNNING, 0x33});
    push_chunk(replies, due, {0xF1, 0x05});
  }
  if (noise & SIM_NOISE_LONG_SYSEX) {
    const int length = std::max(unit.config.long_sysex_length, 5);
    push_chunk(replies, due, {SYSEX_START, SIM_MANUFACTURER_ID, SIM_MODEL_ID, CODE_LONG_NOISE});
    for (int i = 4; i < length - 1; ++i) put(replies, static_cast<uint8_t>(i & 0x7F));
    put(replies, SYSEX_END);
  }
}

// A reply F0 2C 4D code values... F7, in the manufacturer and model chosen in the config.
void reply(SimUnit& unit, SimReplies& replies, uint64_t due, uint8_t code,
           std::initializer_list<uint8_t> values) {
  push_noise(unit, replies, due);
  push_chunk(replies, due, {SYSEX_START, unit.config.reply_manufacturer, unit.config.reply_model, code});
  if (unit.config.noise & SIM_NOISE_REALTIME) put(replies, 0xF8);
  for (uint8_t value : values) put(replies, value);
  put(replies, SYSEX_END);
}

void reply_status(SimUnit& unit, SimReplies& replies, uint64_t due) {
  const uint8_t code = unit.mode == SimMode::Running ? CODE_RUNNING : unit.config.boot_code;
  reply(unit, replies, due, code, {unit.version[0], unit.version[1]});
}

// The packet's number when its data bytes are valid (sim/firmware_format.h), otherwise -1.
int packet_number(const uint8_t* bytes, int length) {
  if (length < static_cast<int>(FIRMWARE_PACKET_OVERHEAD)) return -1;
  const uint8_t* data = bytes + 4;
  const size_t count = static_cast<size_t>(length) - FIRMWARE_PACKET_OVERHEAD;
  if (!firmware_data_valid(data, count)) return -1;
  return static_cast<int>(firmware_packet_number(data));
}

void receive_status_query(SimUnit& unit, uint64_t now, SimReplies& replies) {
  if (unit.status_silenced < unit.config.status_silence) {
    ++unit.status_silenced;
    return;
  }
  const uint64_t due = now + unit.config.reply_latency_us;
  const bool verifying = unit.mode == SimMode::Boot && unit.erased && unit.next_packet > 0;
  if (!verifying) {
    reply_status(unit, replies, due);
    return;
  }
  switch (unit.config.verify_answer) {
    case SimVerifyAnswer::Normal:
      reply_status(unit, replies, due);
      break;
    case SimVerifyAnswer::Running:
      reply(unit, replies, due, CODE_RUNNING, {0x33, 0x31});
      break;
    case SimVerifyAnswer::BootNoFirmware:
      reply(unit, replies, due, unit.config.boot_code, {NO_FIRMWARE, NO_FIRMWARE});
      break;
    case SimVerifyAnswer::BootPartial:
      reply(unit, replies, due, unit.config.boot_code, {NO_FIRMWARE, 0x03});
      break;
    case SimVerifyAnswer::Silence:
      break;
  }
}

void receive_erase(SimUnit& unit, uint64_t now, SimReplies& replies) {
  unit.erased = true;
  unit.erase_done_us = now + unit.config.erase_time_us;
  unit.version[0] = NO_FIRMWARE;
  unit.version[1] = NO_FIRMWARE;
  unit.packets.clear();
  unit.next_packet = 0;
  unit.script_packet = -1;
  unit.script_used = 0;
  if (!unit.config.erase_never_answers) reply(unit, replies, unit.erase_done_us, CODE_ERASED, {});
}

// The next letter of the script for the packet the unit waits for, or 'A' when it is used up.
char next_script_letter(SimUnit& unit) {
  const auto own = unit.config.packet_scripts.find(unit.next_packet);
  const std::string& script =
      own != unit.config.packet_scripts.end() ? own->second : unit.config.every_packet_script;
  if (unit.script_packet != unit.next_packet) {
    unit.script_packet = unit.next_packet;
    unit.script_used = 0;
  }
  if (unit.script_used >= static_cast<int>(script.size())) return 'A';
  return script[static_cast<size_t>(unit.script_used++)];
}

void receive_packet(SimUnit& unit, const uint8_t* bytes, int length, uint64_t now, SimReplies& replies) {
  uint64_t due = now + unit.config.reply_latency_us;
  switch (next_script_letter(unit)) {
    case 'N':
      reply(unit, replies, due, CODE_NAK, {});
      return;
    case 'T':
      return;
    case 'R':
      reply(unit, replies, due, CODE_RUNNING, {0x33, 0x31});
      return;
    case 'B':
      reply(unit, replies, due, unit.config.boot_code, {unit.version[0], unit.version[1]});
      return;
    case 'U':
      unit.unplugged = true;
      return;
    case 'L':
      due += unit.config.late_reply_us;
      break;
    default:
      break;
  }
  const int number = packet_number(bytes, length);
  const bool ready = unit.erased && now >= unit.erase_done_us;
  if (ready && number >= 0 && number == unit.next_packet) {
    if (unit.config.keep_history) unit.packets.emplace_back(bytes, bytes + length);
    ++unit.next_packet;
    unit.version[0] = unit.config.written_version[0];
    unit.version[1] = unit.config.written_version[1];
    if (unit.config.unplug_after_packets >= 0 && unit.next_packet >= unit.config.unplug_after_packets) {
      unit.unplugged = true;
      return;
    }
    reply(unit, replies, due, CODE_ACK, {});
  } else if (ready && number >= 0 && number == unit.next_packet - 1) {
    reply(unit, replies, due, CODE_ACK, {});  // a repeat after a lost ACK is taken again without writing
  } else {
    reply(unit, replies, due, CODE_NAK, {});
  }
}

void receive_finish(SimUnit& unit, uint64_t now, SimReplies& replies) {
  if (unit.config.finish_silence) return;
  reply(unit, replies, now + unit.config.reply_latency_us, CODE_FINISHED, {});
  unit.mode = SimMode::Running;
  unit.erased = false;
}

void receive_parameter(SimUnit& unit, int index, uint8_t value, uint64_t now, SimReplies& replies) {
  if (unit.mode == SimMode::Boot && !unit.config.params_in_boot) return;
  const uint8_t param = sim_param_bytes[index];
  if (value == VALUE_READ_BACK) {
    reply(unit, replies, now + unit.config.reply_latency_us, static_cast<uint8_t>(param + PARAM_REPLY_OFFSET),
          {unit.settings[index]});
    return;
  }
  const uint8_t highest = param == PARAM_MMC_ID ? 126 : param == PARAM_BRIGHTNESS ? 15 : 1;
  if (value <= highest) unit.settings[index] = value;
}

}  // namespace

const uint8_t sim_param_bytes[SIM_PARAM_COUNT] = {0x52, 0x53, 0x55, 0x56, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D};

void sim_unit_init(SimUnit& unit, const SimConfig& config) {
  unit = SimUnit{};
  unit.config = config;
  unit.mode = config.mode;
  unit.version[0] = config.version[0];
  unit.version[1] = config.version[1];
  std::copy(config.settings, config.settings + SIM_PARAM_COUNT, unit.settings);
}

void sim_unit_receive(SimUnit& unit, const uint8_t* bytes, int length, uint64_t now_us, SimReplies& replies) {
  if (length <= 0) return;
  if (unit.config.keep_history) unit.received.emplace_back(bytes, bytes + length);
  if (unit.unplugged) return;
  if (length < 5 || bytes[0] != SYSEX_START || bytes[length - 1] != SYSEX_END) return;
  if (bytes[1] != SIM_MANUFACTURER_ID || bytes[2] != SIM_MODEL_ID) return;
  const uint8_t code = bytes[3];
  const bool boot = unit.mode == SimMode::Boot;
  if (code == CMD_STATUS_QUERY && length == 5) {
    receive_status_query(unit, now_us, replies);
  } else if (code == CMD_ERASE && length == 5 && boot) {
    receive_erase(unit, now_us, replies);
  } else if (code == CMD_DATA_PACKET && boot) {
    receive_packet(unit, bytes, length, now_us, replies);
  } else if (code == CMD_FINISH && length == 5 && boot) {
    receive_finish(unit, now_us, replies);
  } else if (sim_param_index(code) >= 0 && length == 6) {
    receive_parameter(unit, sim_param_index(code), bytes[4], now_us, replies);
  }
}

void sim_unit_receive(SimUnit& unit, const uint8_t* bytes, int length, uint64_t now_us,
                      std::vector<SimReply>& replies) {
  SimReplies spans;
  sim_unit_receive(unit, bytes, length, now_us, spans);
  for (const SimReplySpan& span : spans.spans) {
    const uint8_t* first = spans.bytes.data() + span.offset;
    replies.push_back(SimReply{span.due_us, std::vector<uint8_t>(first, first + span.length)});
  }
}

void sim_replies_clear(SimReplies& replies) {
  replies.spans.clear();
  replies.bytes.clear();
}

int sim_param_index(uint8_t param) {
  const uint8_t* end = sim_param_bytes + SIM_PARAM_COUNT;
  const uint8_t* found = std::find(sim_param_bytes, end, param);
  return found == end ? -1 : static_cast<int>(found - sim_param_bytes);
}

uint8_t sim_unit_setting(const SimUnit& unit, uint8_t param) {
  const int index = sim_param_index(param);
  return index < 0 ? 0xFF : unit.settings[index];
}

int sim_unit_count(const SimUnit& unit, uint8_t code) {
  return static_cast<int>(std::count_if(unit.received.begin(), unit.received.end(), [code](const auto& m) {
    return m.size() >= 4 && m[0] == SYSEX_START && m[1] == SIM_MANUFACTURER_ID && m[2] == SIM_MODEL_ID &&
           m[3] == code;
  }));
}

std::vector<uint8_t> sim_unit_written_image(const SimUnit& unit) {
  std::vector<uint8_t> image;
  for (const auto& packet : unit.packets) image.insert(image.end(), packet.begin(), packet.end());
  return image;
}
