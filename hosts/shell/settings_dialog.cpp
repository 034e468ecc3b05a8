#include "hosts/shell/settings_dialog.h"

#include <windows.h>

#include "app/app.h"
#include "hosts/shell/printable.h"
#include "platform/win32/user32_ext.h"
#include "protocol/protocol.h"
#include "resource.h"

namespace {

const char RUNNING_PREFIX[] = "Firmware ";

bool read(int control, User32Control& out) { return user32_read_control(control, out); }

}  // namespace

ShownUnit shown_unit() {
  User32Control text{};
  if (!read(IDC_DEVICE_TEXT, text)) return {UnitState::Absent, ""};
  if (text.text == UPDATE_MODE_TEXT) return {UnitState::UpdateMode, ""};
  if (text.text == INVALID_FIRMWARE_TEXT) return {UnitState::Running, ""};
  if (text.text.rfind(RUNNING_PREFIX, 0) == 0)
    return {UnitState::Running, printable(text.text.substr(sizeof RUNNING_PREFIX - 1))};
  return {UnitState::Absent, ""};
}

const char* unit_state_name(UnitState state) {
  switch (state) {
    case UnitState::Running:
      return "running";
    case UnitState::UpdateMode:
      return "update-mode";
    default:
      return "absent";
  }
}

std::string unit_state_text(const ShownUnit& unit) {
  if (unit.state != UnitState::Running) return unit_state_name(unit.state);
  return std::string("running ") + (unit.firmware.empty() ? "invalid-firmware" : unit.firmware);
}

SettingValues shown_settings() {
  SettingValues values;
  for (int i = 0; i < SETTING_COUNT; ++i) {
    User32Control c{};
    if (!read(SETTINGS[i].control, c) || !c.enabled) continue;
    switch (SETTINGS[i].kind) {
      case SettingKind::CheckBox:
        values[static_cast<size_t>(i)] = c.check == BST_CHECKED ? 1 : 0;
        break;
      case SettingKind::Slider:
        values[static_cast<size_t>(i)] = c.position;
        break;
      case SettingKind::IdBox:
        // The program's own reading of the box; an empty box shows no ID.
        if (const int32_t id = parse_mmc_id(c.text.c_str()); id >= 0) values[static_cast<size_t>(i)] = id;
        break;
    }
  }
  return values;
}

std::vector<PersonInput> inputs_to_set(int index, int wanted) {
  const Setting& setting = SETTINGS[index];
  const std::optional<int> shown = shown_settings()[static_cast<size_t>(index)];
  if (shown == wanted) return {};
  switch (setting.kind) {
    case SettingKind::CheckBox:
      return {{PersonInput::Click, setting.control, 0, ""}};
    case SettingKind::Slider:
      return {{PersonInput::Drag, setting.control, wanted, ""}};
    case SettingKind::IdBox:
      break;
  }
  User32Control box{};
  read(setting.control, box);
  std::vector<PersonInput> inputs = {{PersonInput::Click, setting.control, 0, ""}};
  for (size_t i = 0; i < box.text.size(); ++i) inputs.push_back({PersonInput::Key, 0, VK_BACK, ""});
  inputs.push_back({PersonInput::Type, 0, 0, std::to_string(wanted)});
  inputs.push_back({PersonInput::Key, 0, VK_TAB, ""});
  return inputs;
}

int queue_input(const PersonInput& input) {
  switch (input.kind) {
    case PersonInput::Click:
      return user32_click(input.control);
    case PersonInput::Drag:
      return user32_slider_drag(input.control, input.value);
    case PersonInput::Key:
      return user32_key(input.value);
    case PersonInput::Type:
      return user32_type(input.text.c_str());
  }
  return USER32_NO_CONTROL;
}
