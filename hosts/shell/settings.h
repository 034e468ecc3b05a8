// The unit's ten settings as the shell commands, the settings file, the JSON output, `vexa --help` and the
// browser's Save/Load name them: one table that ties each name to the dialog control that shows and changes
// it. A value is what the control shows: 1 for a ticked box (stationary-ltc included, whose box is ticked
// while the unit holds 0), the slider's position, the ID in the ID box.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/protocol.h"

enum class SettingKind : uint8_t { CheckBox, Slider, IdBox };

struct Setting {
  const char* name;
  int control;
  SettingKind kind;
  int minimum;
  int maximum;
  MessageId read_back;  // the program's read-back message of the parameter
  const char* caption;  // the control's caption, or its group's
};

constexpr int SETTING_COUNT = 10;
extern const Setting SETTINGS[SETTING_COUNT];

// Index into SETTINGS, or -1 for a name that is no setting.
int setting_index(std::string_view name);

// One value per setting of SETTINGS, empty where it is not given (or was not reported).
using SettingValues = std::array<std::optional<int>, SETTING_COUNT>;

// "on" or "off" for a check box, the number otherwise.
std::string setting_text(const Setting& setting, int value);
// "on|off" or "0..126".
std::string setting_range(const Setting& setting);
// A value as typed on the command line ("on", "off", decimal digits); false with the problem in `error`.
bool parse_setting_text(const Setting& setting, std::string_view text, int& value, std::string& error);
// NAME=VALUE with both checked; false with the problem in `error`.
bool parse_assignment(std::string_view text, int& index, int& value, std::string& error);
