// Device control protocol: the unit's System Exclusive messages, the reply decoder and the
// handlers of the settings controls.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "midi/midi.h"

// Framing of every message in either direction: F0 2C 4D code [values...] F7.
constexpr uint8_t SYSEX_START = 0xF0;
constexpr uint8_t SYSEX_END = 0xF7;
constexpr uint8_t MANUFACTURER_ID = 0x2C;
constexpr uint8_t MODEL_ID = 0x4D;
constexpr int32_t CODE_INDEX = 3;
constexpr int32_t VALUE_INDEX = 4;

// Command bytes.
constexpr uint8_t COMMAND_STATUS_QUERY = 0x10;
constexpr uint8_t COMMAND_ERASE = 0x12;
constexpr uint8_t COMMAND_FINISH = 0x50;
// Command byte of a data packet; packets are sent as stored in the firmware image.
constexpr uint8_t MSG_DATA_PACKET = 0x30;

// Parameter bytes; a parameter's reply code is its byte plus REPLY_PARAM_OFFSET.
constexpr uint8_t PARAM_BLANK_LEADING_ZERO = 0x52;
constexpr uint8_t PARAM_MMC_ID = 0x53;
constexpr uint8_t PARAM_BLANK_FRAMES = 0x55;
constexpr uint8_t PARAM_BRIGHTNESS = 0x56;
constexpr uint8_t PARAM_STATIONARY_LTC = 0x58;
constexpr uint8_t PARAM_INFINITE_FLYWHEEL = 0x59;
constexpr uint8_t PARAM_MTC_MMC_LOCATE = 0x5A;
constexpr uint8_t PARAM_LTC_HOLD_OFF = 0x5B;
constexpr uint8_t PARAM_MTC_FULL_MESSAGE = 0x5C;
constexpr uint8_t PARAM_TRVX = 0x5D;
constexpr uint8_t REPLY_PARAM_OFFSET = 0x10;

constexpr uint8_t VALUE_OFF = 0x00;
constexpr uint8_t VALUE_ON = 0x01;
constexpr uint8_t VALUE_READ_BACK = 0x7F;
constexpr uint8_t BRIGHTNESS_MAX = 15;
constexpr uint8_t MMC_ID_MAX = 126;
// A version byte of 0x7F means that the unit holds no valid firmware.
constexpr uint8_t VERSION_INVALID = 127;

// Reply codes.
constexpr uint8_t REPLY_BOOT = 0x1F;
constexpr uint8_t REPLY_BOOT_ALT = 0x20;
constexpr uint8_t REPLY_RUNNING = 0x21;
constexpr uint8_t REPLY_ERASED = 0x22;
constexpr uint8_t REPLY_ACK = 0x40;
constexpr uint8_t REPLY_NAK = 0x4E;
constexpr uint8_t REPLY_FINISHED = 0x60;
constexpr uint8_t REPLY_FIRST_HANDLED = 0x1F;
constexpr uint8_t REPLY_LAST_HANDLED = 0x6D;

inline bool is_boot_reply(uint8_t code) { return code == REPLY_BOOT || code == REPLY_BOOT_ALT; }

struct Message {
  uint8_t bytes[6];
  uint8_t length;
};

// Entries of MessageTable. Every outgoing message except the data packets is one of these.
enum MessageId : uint8_t {
  MSG_READ_BLANK_LEADING_ZERO,
  MSG_BLANK_LEADING_ZERO_ON,
  MSG_BLANK_LEADING_ZERO_OFF,
  MSG_READ_BLANK_FRAMES,
  MSG_BLANK_FRAMES_ON,
  MSG_BLANK_FRAMES_OFF,
  MSG_READ_STATIONARY_LTC,
  MSG_STATIONARY_LTC_ON,
  MSG_STATIONARY_LTC_OFF,
  MSG_READ_INFINITE_FLYWHEEL,
  MSG_INFINITE_FLYWHEEL_ON,
  MSG_INFINITE_FLYWHEEL_OFF,
  MSG_READ_MTC_MMC_LOCATE,
  MSG_MTC_MMC_LOCATE_ON,
  MSG_MTC_MMC_LOCATE_OFF,
  MSG_READ_LTC_HOLD_OFF,
  MSG_LTC_HOLD_OFF_ON,
  MSG_LTC_HOLD_OFF_OFF,
  MSG_READ_MTC_FULL_MESSAGE,
  MSG_MTC_FULL_MESSAGE_ON,
  MSG_MTC_FULL_MESSAGE_OFF,
  MSG_READ_TRVX,
  MSG_TRVX_ON,
  MSG_TRVX_OFF,
  MSG_READ_BRIGHTNESS,
  MSG_SET_BRIGHTNESS,
  MSG_READ_MMC_ID,
  MSG_SET_MMC_ID,
  MSG_STATUS_QUERY,
  MSG_ERASE,
  MSG_FINISH,
  MESSAGE_COUNT
};
static_assert(MESSAGE_COUNT == 31);

// The value bytes of MSG_SET_BRIGHTNESS and MSG_SET_MMC_ID are written by the dialog thread right
// before each send; every other entry stays as built.
extern Message MessageTable[MESSAGE_COUNT];

int32_t send_message(MessageId id);

// The eight on/off settings: control, parameter, and the messages for a ticked and an unticked box.
// Stationary LTC is inverted: value 1 switches the output off, so a ticked box sends 0.
struct CheckBoxSetting {
  int control;
  uint8_t param;
  MessageId when_ticked;
  MessageId when_unticked;
  bool inverted;
};
extern const CheckBoxSetting CHECK_BOX_SETTINGS[8];
const CheckBoxSetting* check_box_for_control(int control);
const CheckBoxSetting* check_box_for_reply(uint8_t code);

// Shared state written by the decoder on the MIDI input thread.
extern std::atomic<uint8_t> last_reply;
extern std::atomic<uint8_t> device_mode;
extern std::atomic<uint8_t> fw_major;
extern std::atomic<uint8_t> fw_minor;
extern std::atomic<uint8_t> mmc_id;
extern std::atomic<uint8_t> brightness_sent;

// Mode and version bytes of one status reply, read as one consistent set.
struct DeviceStatus {
  uint8_t mode;
  uint8_t major;
  uint8_t minor;
};
DeviceStatus read_device_status();

void decode_reply(RxBuffer buffer);
void apply_reply(uint8_t code, uint8_t value);
void show_mmc_id(int8_t id);

// The ID that the ID box's text stands for, or -1 when the text is not one: 0..9, 00..99, or three
// characters 000..126 (of a longer text, the first three).
int32_t parse_mmc_id(const char* text);

void on_check_box(int control);
void on_slider_notify();
void on_spin_scroll();
void on_mmc_id_commit();
