// The simulated vexa unit: the protocol logic only, with no threads, clocks or platform calls, so that the
// Linux WINMM layer, the vexa-sim program and the Windows driver DLL can all host it. The host hands it each
// message that the computer sent together with the current time; the unit answers with replies, each with
// the time at which it is due, and the host delivers them on its own timer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/unit/mtc.h"

constexpr uint8_t SIM_MANUFACTURER_ID = 0x2C;
constexpr uint8_t SIM_MODEL_ID = 0x4D;

// What the unit runs: its firmware, or its boot loader (update mode).
enum class SimMode : uint8_t { Running, Boot };

// How the unit answers the status query that follows the writing of packets (the verify step).
enum class SimVerifyAnswer : uint8_t {
  Normal,          // boot code with the version of the written image
  Running,         // REPLY_RUNNING 33 31
  BootNoFirmware,  // boot code with 7F 7F
  BootPartial,     // boot code with 7F 03
  Silence,         // no answer
};

// Extra traffic that the unit sends before each reply (bit set in SimConfig::noise).
constexpr uint32_t SIM_NOISE_QUARTER_FRAME = 1u << 0;  // MTC quarter frame F1 xx
constexpr uint32_t SIM_NOISE_FOREIGN_SYSEX = 1u << 1;  // a complete SysEx of another maker
constexpr uint32_t SIM_NOISE_LONG_SYSEX = 1u << 2;     // a unit SysEx of long_sysex_length bytes
constexpr uint32_t SIM_NOISE_GARBAGE = 1u << 3;        // stray data bytes with no status byte
constexpr uint32_t SIM_NOISE_REALTIME = 1u << 4;       // timing clock F8 inside the reply itself
constexpr uint32_t SIM_NOISE_BROKEN_SYSEX = 1u << 5;   // a SysEx cut off by a quarter frame

// The ten parameters in the order of their bytes: 52 53 55 56 58 59 5A 5B 5C 5D.
constexpr int SIM_PARAM_COUNT = 10;
extern const uint8_t sim_param_bytes[SIM_PARAM_COUNT];

// Behaviour and faults, chosen by the host (tests, vexa-sim options). A plain struct: change fields freely.
struct SimConfig {
  uint32_t reply_latency_us = 1000;  // every reply is due this long after the message that caused it
  uint32_t erase_time_us = 300000;   // REPLY_ERASED comes this long after MSG_ERASE
  bool erase_never_answers = false;  // MSG_ERASE is never answered
  SimMode mode = SimMode::Running;
  uint8_t boot_code = 0x1F;           // REPLY_BOOT code: 0x1F or 0x20
  uint8_t version[2] = {0x33, 0x31};  // firmware held at start; {0x7F, 0x7F} = no valid firmware
  uint8_t settings[SIM_PARAM_COUNT] = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0};  // by sim_param_bytes order
  bool params_in_boot = false;                       // the boot loader also answers parameter messages
  uint8_t reply_manufacturer = SIM_MANUFACTURER_ID;  // other values: replies of another maker
  uint8_t reply_model = SIM_MODEL_ID;                // other values: replies of another model

  // Data packet k (the k-th packet of the image, 0-based, i.e. the one the unit is waiting for) is
  // answered by the letters of its script, one letter per receipt, then normally:
  //   A normal check (ACK or NAK)   N NAK   T silence   R REPLY_RUNNING   B REPLY_BOOT
  //   L normal check, answer delayed by late_reply_us   U unplug (no answer)
  std::map<int, std::string> packet_scripts;
  std::string every_packet_script;  // script for every packet without one of its own
  uint32_t late_reply_us = 0;

  int status_silence = 0;  // this many status queries (any stage) go unanswered
  SimVerifyAnswer verify_answer = SimVerifyAnswer::Normal;
  bool finish_silence = false;                // MSG_FINISH goes unanswered
  uint8_t written_version[2] = {0x33, 0x31};  // the version that the written image carries

  int unplug_after_packets = -1;  // >= 0: the unit is unplugged when this many packets are accepted
  uint32_t noise = 0;             // SIM_NOISE_* bits
  int long_sysex_length = 600;    // bytes of SIM_NOISE_LONG_SYSEX, F0 and F7 included

  SimTimecodeInput timecode;  // the time code input and how it runs (mtc.h)

  // SimUnit::received and SimUnit::packets keep a copy of every message and accepted packet. Off, they
  // stay empty and a long run allocates nothing per message.
  bool keep_history = true;

  bool operator==(const SimConfig&) const = default;
};

// One reply: bytes as the unit sends them, due at due_us on the host's clock.
struct SimReply {
  uint64_t due_us = 0;
  std::vector<uint8_t> bytes;
};

// The replies to one message in the order in which they are sent, their bytes laid end to end. A host
// that keeps one and clears it (sim_replies_clear) before each message allocates nothing once it has held
// its largest answer.
struct SimReplySpan {
  uint64_t due_us;
  size_t offset;  // into SimReplies::bytes
  size_t length;
};
struct SimReplies {
  std::vector<SimReplySpan> spans;
  std::vector<uint8_t> bytes;
};

struct SimUnit {
  SimConfig config;
  SimMode mode = SimMode::Running;
  uint8_t version[2] = {0x33, 0x31};
  uint8_t settings[SIM_PARAM_COUNT] = {};
  bool erased = false;                         // MSG_ERASE was taken since the boot loader started
  uint64_t erase_done_us = 0;                  // packets before this time are refused (NAK)
  int next_packet = 0;                         // number of the packet that the unit expects
  std::vector<std::vector<uint8_t>> packets;   // accepted packets, whole messages, in order
  std::vector<std::vector<uint8_t>> received;  // every message received, in order
  int script_packet = -1;                      // the packet whose script letters are being used ...
  int script_used = 0;                         // ... and how many of them
  int status_silenced = 0;                     // status queries left unanswered so far
  bool unplugged = false;                      // set by U or unplug_after_packets; the host removes the ports
  uint8_t noise_counter = 0;
  SimMtcOutput mtc;  // the time code output (mtc.cpp)
};

// Starts the unit afresh with the given behaviour (settings, mode and version from the config).
void sim_unit_init(SimUnit& unit, const SimConfig& config);

// The unit receives one complete message (a SysEx F0..F7 or a short message) at now_us and appends its
// replies to `replies`, in the order in which they are sent. A message that is not for the unit is recorded
// in `received` and not answered. After `unplugged` is set nothing more is answered.
void sim_unit_receive(SimUnit& unit, const uint8_t* bytes, int length, uint64_t now_us, SimReplies& replies);
// The same, each reply appended as a vector of its own.
void sim_unit_receive(SimUnit& unit, const uint8_t* bytes, int length, uint64_t now_us,
                      std::vector<SimReply>& replies);

void sim_replies_clear(SimReplies& replies);

// Index of a parameter byte in settings[] (0..9), or -1 for a byte that is no parameter.
int sim_param_index(uint8_t param);

// The unit's current value of a parameter byte (0x52..0x5D); 0xFF for a byte that is no parameter.
uint8_t sim_unit_setting(const SimUnit& unit, uint8_t param);

// How many received messages had the form F0 2C 4D code ...
int sim_unit_count(const SimUnit& unit, uint8_t code);

// The MIDI time code that the unit sends up to until_us (mtc.cpp), from the time code input of its config
// and under its settings (full message, MMC Locate with its MMC ID, hold-off, flywheel, stationary LTC),
// each message appended as a reply due when it goes out; messages due before from_us are not appended (a
// host that looked late loses them, as a cable would). Nothing while the unit runs its boot loader or is
// unplugged.
void sim_unit_timecode(SimUnit& unit, uint64_t from_us, uint64_t until_us, SimReplies& replies);
// When sim_unit_timecode next has something to do; UINT64_MAX for never.
uint64_t sim_unit_timecode_next_us(const SimUnit& unit);

// The accepted packets laid end to end, as the unit would have written them.
std::vector<uint8_t> sim_unit_written_image(const SimUnit& unit);
