// The unit's message set: every outgoing message except the data packets, prebuilt.
#include <windows.h>

#include "midi/midi.h"
#include "protocol/protocol.h"
#include "resource.h"

namespace {

constexpr Message parameter_message(uint8_t param, uint8_t value) {
  return {{SYSEX_START, MANUFACTURER_ID, MODEL_ID, param, value, SYSEX_END}, 6};
}

constexpr Message command_message(uint8_t command) {
  return {{SYSEX_START, MANUFACTURER_ID, MODEL_ID, command, SYSEX_END, 0}, 5};
}

}  // namespace

#define ON_OFF_ENTRIES(param)                                                    \
  parameter_message(param, VALUE_READ_BACK), parameter_message(param, VALUE_ON), \
      parameter_message(param, VALUE_OFF)

Message MessageTable[MESSAGE_COUNT] = {
    ON_OFF_ENTRIES(PARAM_BLANK_LEADING_ZERO),
    ON_OFF_ENTRIES(PARAM_BLANK_FRAMES),
    ON_OFF_ENTRIES(PARAM_STATIONARY_LTC),
    ON_OFF_ENTRIES(PARAM_INFINITE_FLYWHEEL),
    ON_OFF_ENTRIES(PARAM_MTC_MMC_LOCATE),
    ON_OFF_ENTRIES(PARAM_LTC_HOLD_OFF),
    ON_OFF_ENTRIES(PARAM_MTC_FULL_MESSAGE),
    ON_OFF_ENTRIES(PARAM_TRVX),
    parameter_message(PARAM_BRIGHTNESS, VALUE_READ_BACK),
    parameter_message(PARAM_BRIGHTNESS, 0),
    parameter_message(PARAM_MMC_ID, VALUE_READ_BACK),
    parameter_message(PARAM_MMC_ID, 0),
    command_message(COMMAND_STATUS_QUERY),
    command_message(COMMAND_ERASE),
    command_message(COMMAND_FINISH),
};

#undef ON_OFF_ENTRIES

const CheckBoxSetting CHECK_BOX_SETTINGS[8] = {
    {IDC_BLANK_LEADING_ZERO, PARAM_BLANK_LEADING_ZERO, MSG_BLANK_LEADING_ZERO_ON, MSG_BLANK_LEADING_ZERO_OFF,
     false},
    {IDC_BLANK_FRAMES, PARAM_BLANK_FRAMES, MSG_BLANK_FRAMES_ON, MSG_BLANK_FRAMES_OFF, false},
    {IDC_STATIONARY_LTC, PARAM_STATIONARY_LTC, MSG_STATIONARY_LTC_OFF, MSG_STATIONARY_LTC_ON, true},
    {IDC_INFINITE_FLYWHEEL, PARAM_INFINITE_FLYWHEEL, MSG_INFINITE_FLYWHEEL_ON, MSG_INFINITE_FLYWHEEL_OFF,
     false},
    {IDC_MTC_MMC_LOCATE, PARAM_MTC_MMC_LOCATE, MSG_MTC_MMC_LOCATE_ON, MSG_MTC_MMC_LOCATE_OFF, false},
    {IDC_LTC_HOLD_OFF, PARAM_LTC_HOLD_OFF, MSG_LTC_HOLD_OFF_ON, MSG_LTC_HOLD_OFF_OFF, false},
    {IDC_MTC_FULL_MESSAGE, PARAM_MTC_FULL_MESSAGE, MSG_MTC_FULL_MESSAGE_ON, MSG_MTC_FULL_MESSAGE_OFF, false},
    {IDC_ENABLE_TRVX, PARAM_TRVX, MSG_TRVX_ON, MSG_TRVX_OFF, false},
};

const CheckBoxSetting* check_box_for_control(int control) {
  for (const CheckBoxSetting& setting : CHECK_BOX_SETTINGS) {
    if (setting.control == control) return &setting;
  }
  return nullptr;
}

const CheckBoxSetting* check_box_for_reply(uint8_t code) {
  for (const CheckBoxSetting& setting : CHECK_BOX_SETTINGS) {
    if (setting.param + REPLY_PARAM_OFFSET == code) return &setting;
  }
  return nullptr;
}

int32_t send_message(MessageId id) { return send_sysex(MessageTable[id].bytes, MessageTable[id].length); }
