#include "hosts/shell/settings.h"

#include "resource.h"

const Setting SETTINGS[SETTING_COUNT] = {
    {"blank-leading-zero", IDC_BLANK_LEADING_ZERO, SettingKind::CheckBox, 0, 1, MSG_READ_BLANK_LEADING_ZERO,
     "Blank leading zero"},
    {"blank-frames", IDC_BLANK_FRAMES, SettingKind::CheckBox, 0, 1, MSG_READ_BLANK_FRAMES,
     "Blank frames when running"},
    {"stationary-ltc", IDC_STATIONARY_LTC, SettingKind::CheckBox, 0, 1, MSG_READ_STATIONARY_LTC,
     "Enable stationary LTC output"},
    {"mtc-full-message", IDC_MTC_FULL_MESSAGE, SettingKind::CheckBox, 0, 1, MSG_READ_MTC_FULL_MESSAGE,
     "Enable MTC full message"},
    {"mtc-mmc-locate", IDC_MTC_MMC_LOCATE, SettingKind::CheckBox, 0, 1, MSG_READ_MTC_MMC_LOCATE,
     "MTC with MMC Locate"},
    {"infinite-flywheel", IDC_INFINITE_FLYWHEEL, SettingKind::CheckBox, 0, 1, MSG_READ_INFINITE_FLYWHEEL,
     "Infinite flywheel"},
    {"ltc-hold-off", IDC_LTC_HOLD_OFF, SettingKind::CheckBox, 0, 1, MSG_READ_LTC_HOLD_OFF,
     "Extended LTC hold off"},
    {"trvx", IDC_ENABLE_TRVX, SettingKind::CheckBox, 0, 1, MSG_READ_TRVX, "Enable TRVX"},
    {"mmc-id", IDC_MMC_ID_EDIT, SettingKind::IdBox, 0, MMC_ID_MAX, MSG_READ_MMC_ID,
     "MIDI Machine Control ID"},
    {"brightness", IDC_BRIGHTNESS, SettingKind::Slider, 0, BRIGHTNESS_MAX, MSG_READ_BRIGHTNESS, "Brightness"},
};

int setting_index(std::string_view name) {
  for (int i = 0; i < SETTING_COUNT; ++i) {
    if (name == SETTINGS[i].name) return i;
  }
  return -1;
}

std::string setting_text(const Setting& setting, int value) {
  if (setting.kind == SettingKind::CheckBox) return value != 0 ? "on" : "off";
  return std::to_string(value);
}

std::string setting_range(const Setting& setting) {
  if (setting.kind == SettingKind::CheckBox) return "on|off";
  return std::to_string(setting.minimum) + ".." + std::to_string(setting.maximum);
}

bool parse_setting_text(const Setting& setting, std::string_view text, int& value, std::string& error) {
  const std::string wanted = std::string(setting.name) + " takes " + setting_range(setting);
  if (setting.kind == SettingKind::CheckBox) {
    if (text == "on" || text == "off") {
      value = text == "on" ? 1 : 0;
      return true;
    }
    error = wanted + ", not \"" + std::string(text) + "\"";
    return false;
  }
  // Decimal digits only, and few enough that the number cannot overflow.
  bool digits = !text.empty() && text.size() <= 6;
  int number = 0;
  for (char c : text) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) number = number * 10 + (c - '0');
  }
  if (!digits || number < setting.minimum || number > setting.maximum) {
    error = wanted + ", not \"" + std::string(text) + "\"";
    return false;
  }
  value = number;
  return true;
}

bool parse_assignment(std::string_view text, int& index, int& value, std::string& error) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    error = "\"" + std::string(text) + "\" is not NAME=VALUE";
    return false;
  }
  const std::string_view name = text.substr(0, equals);
  index = setting_index(name);
  if (index < 0) {
    error = "unknown setting \"" + std::string(name) + "\"";
    return false;
  }
  return parse_setting_text(SETTINGS[index], text.substr(equals + 1), value, error);
}
