// The dialog as a person reads and uses it for the settings: what the presence monitor shows of the unit,
// the values that the settings controls show (only those that the unit has reported: the controls are
// enabled once their value has come), and the inputs with which a person changes a setting. Shared by the
// shell commands (which make the inputs through the headless host and wait for each) and the browser's
// "Load settings…" (which queues them).
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hosts/shell/settings.h"

enum class UnitState : uint8_t { Absent, Running, UpdateMode };

struct ShownUnit {
  UnitState state;
  std::string firmware;  // "3.1" while running valid firmware; empty otherwise
};

// What the device text shows: "Firmware 3.1", "Invalid firmware", "vexa in update mode", "vexa not found".
ShownUnit shown_unit();
// "running", "update-mode" or "absent".
const char* unit_state_name(UnitState state);
// "running 3.1", "running invalid-firmware", "update-mode" or "absent".
std::string unit_state_text(const ShownUnit& unit);
// The values of the enabled settings controls; the others are left empty.
SettingValues shown_settings();

struct PersonInput {
  enum Kind : uint8_t { Click, Drag, Key, Type };
  Kind kind;
  int control;       // Click, Drag
  int value;         // Drag: the position; Key: the virtual key
  std::string text;  // Type
};

// What a person does to change setting `index` to `wanted`: click its box, drag the slider, or click into
// the ID box, erase it, type the ID and press Tab (leaving the box commits the ID). Nothing when the
// control already shows `wanted`.
std::vector<PersonInput> inputs_to_set(int index, int wanted);
// Queues one input at the current dialog (user32_ext.h); returns the layer's result.
int queue_input(const PersonInput& input);

// What the unit reported of a setting that was read back: the byte of its reply, and the value that the
// setting's control shows for that byte (empty for a byte that no control shows).
struct Reported {
  std::optional<int> value;
  int byte = -1;  // -1: no reply came
};
using ReadBack = std::array<Reported, SETTING_COUNT>;

// Reads the settings `indices` back from the unit once the dialog is idle (readback.cpp). `stop` ends it
// early (an interrupt).
ReadBack read_back(const std::vector<int>& indices, bool (*stop)());
// Empty when the read-back `after` confirms setting `index` as `wanted`; otherwise the line that says how
// the unit did not.
std::string unconfirmed(int index, const SettingValues& wanted, const ReadBack& after);
