#include "hosts/shell/session.h"

#include <windows.h>

#include <algorithm>

#include "app/app.h"
#include "firmware/firmware.h"
#include "hosts/headless/headless.h"
#include "hosts/shell/printable.h"
#include "midi/midi.h"
#include "platform/midi/choice/midi_choice.h"
#include "platform/win32/user32_ext.h"
#include "platform/win32/winmm_ext.h"
#include "protocol/protocol.h"
#include "resource.h"

namespace {

// WinMain returns within this after the close: an upload worker stops at its next look first.
constexpr int END_TIMEOUT_MS = 20000;
// Boxes dismissed in one go; the program never stacks more than two.
constexpr int MAX_BOXES = 8;

// What the program's message boxes mean for a command.
struct BoxOutcome {
  const char* text;
  ExitCode code;
};
// Any other box (an upload's "Data corrupt") is a failure of the unit.
const BoxOutcome BOX_OUTCOMES[] = {
    {NO_OUTPUTS_TEXT, EXIT_NO_UNIT},
    {OUTPUT_BUSY_TEXT, EXIT_NO_UNIT},
    {INPUT_BUSY_TEXT, EXIT_NO_UNIT},
    {NOT_CONNECTED_TEXT, EXIT_NO_UNIT},
    {NOT_IN_UPDATE_MODE_TEXT, EXIT_WRONG_MODE},
    {DATA_FILE_CORRUPTED_TEXT, EXIT_USAGE},
    {PROGRAMMING_FAILED_TEXT, EXIT_UNIT_FAILED},
};

std::string chosen_port;

ExitCode outcome_of(const std::string& text) {
  for (const BoxOutcome& outcome : BOX_OUTCOMES) {
    if (text == outcome.text) return outcome.code;
  }
  return EXIT_UNIT_FAILED;
}

std::string one_line(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// Opens the port list as a person would and reads its entries.
int open_port_list(std::vector<std::string>& items) {
  if (headless_combo_open(IDC_PORT_COMBO) != USER32_OK) {
    note("the dialog's port list does not open");
    return EXIT_UNIT_FAILED;
  }
  if (int code = dismiss_boxes(); code != EXIT_DONE) {
    headless_combo_cancel(IDC_PORT_COMBO);
    // "JACK: no server running", "ALSA: no sequencer": why the service shows no outputs.
    if (const std::string problem = midi_service_problem(winmm_backend()); !problem.empty()) note(problem);
    return code;
  }
  items = headless_combo_items(IDC_PORT_COMBO);
  return EXIT_DONE;
}

// An entry of the list by its name and, among entries of that name, its place: the list is filled afresh
// each time it opens, and a device plugged in or out meanwhile moves the others.
struct Entry {
  std::string name;
  int nth;
  bool operator==(const Entry&) const = default;
};

int index_of(const std::vector<std::string>& items, const Entry& entry) {
  for (int i = 0, seen = 0; i < static_cast<int>(items.size()); ++i) {
    if (items[static_cast<size_t>(i)] == entry.name && seen++ == entry.nth) return i;
  }
  return -1;
}

// The entries to try: outputs of that exact name, or else every output that the program pairs with an input.
int port_candidates(const std::vector<std::string>& items, const std::string& port,
                    std::vector<Entry>& candidates) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (!port.empty() && items[i] != port) continue;
    if (find_matching_input(static_cast<uint32_t>(i)) != NO_MATCHING_INPUT)
      candidates.push_back({items[i], static_cast<int>(std::count(
                                          items.begin(), items.begin() + static_cast<long>(i), items[i]))});
  }
  if (!candidates.empty()) return EXIT_DONE;
  headless_combo_cancel(IDC_PORT_COMBO);
  if (port.empty())
    note("no MIDI output has an input of the same name: no unit is connected (see vexa list)");
  else if (std::find(items.begin(), items.end(), port) == items.end())
    note("no MIDI output is named \"" + port + "\" (see vexa list)");
  else
    note("the output \"" + port + "\" has no input of the same name: it is no unit (see vexa list)");
  return EXIT_NO_UNIT;
}

// The unit's status reply has been decoded and, from a running unit, the settings asked for are shown.
bool answered(const std::vector<int>& needed) {
  const DeviceStatus status = read_device_status();
  if (status.mode == Absent) return false;
  if (status.mode != Running) return true;
  const SettingValues shown = shown_settings();
  return std::all_of(needed.begin(), needed.end(), [&](int i) { return shown[static_cast<size_t>(i)]; });
}

// Asks the unit once more for what has not come of its answer. A busy MIDI service loses a message now and
// then (JACK drops the events of a cycle that a client misses), and the dialog too asks again at each tick.
void ask_again(const std::vector<int>& needed) {
  const SettingValues shown = shown_settings();
  for (int i : needed) {
    if (shown[static_cast<size_t>(i)]) continue;
    send_message(SETTINGS[i].read_back);
    Sleep(MESSAGE_PAUSE_MS);
  }
  send_message(MSG_STATUS_QUERY);
}

// Opens the list again (but for the first try) and chooses `entry`, when it is still there. The program then
// opens the pair and sends its read-back burst; the unit has as long to answer as the dialog gives it before
// its first presence tick, and once more after it is asked again.
bool try_port(const Entry& entry, bool reopen, const std::vector<int>& needed, bool& refused) {
  std::vector<std::string> items;
  if (reopen && open_port_list(items) != EXIT_DONE) return false;
  const int index = reopen ? index_of(items, entry) : index_of(headless_combo_items(IDC_PORT_COMBO), entry);
  if (index < 0) {
    headless_combo_cancel(IDC_PORT_COMBO);
    return false;
  }
  headless_combo_choose(IDC_PORT_COMBO, index);
  refused = dismiss_boxes() != EXIT_DONE;
  if (refused) return false;
  const auto done = [&] { return interrupted() || answered(needed); };
  if (!headless_wait_until(done, PRESENCE_PERIOD_MS) && !interrupted()) {
    ask_again(needed);
    headless_wait_until(done, PRESENCE_PERIOD_MS);
  }
  return read_device_status().mode != Absent;
}

// One tick of the presence monitor, and what it shows.
ShownUnit tick() {
  user32_advance_timers(PRESENCE_PERIOD_MS);
  headless_wait_idle();
  return shown_unit();
}

int several_units(const std::vector<Entry>& answering) {
  std::string names;
  for (const Entry& entry : answering) names += (names.empty() ? "\"" : ", \"") + entry.name + "\"";
  note("several units answer: " + names + "; choose one with --port NAME");
  return EXIT_USAGE;
}

}  // namespace

int program_start(HINSTANCE module) {
  user32_set_manual_timers(true);
  if (headless_start(WinMain, module) != 0 || !headless_wait_dialog()) {
    note("the program's dialog did not open");
    return EXIT_UNIT_FAILED;
  }
  // A program without its firmware image warns at the start; an update finds that out by itself.
  for (int i = 0; i < MAX_BOXES && !headless_boxes().empty(); ++i) headless_dismiss_box();
  return EXIT_DONE;
}

int connect_unit(const std::string& port, const std::vector<int>& needed, ShownUnit& unit) {
  unit = {UnitState::Absent, ""};
  std::vector<std::string> items;
  if (int code = open_port_list(items); code != EXIT_DONE) return code;
  std::vector<Entry> candidates;
  if (int code = port_candidates(items, port, candidates); code != EXIT_DONE) return code;
  std::vector<Entry> answering;
  bool refused = false;
  const Entry* current = nullptr;
  for (size_t k = 0; k < candidates.size() && !interrupted(); ++k) {
    if (try_port(candidates[k], k > 0, needed, refused)) answering.push_back(candidates[k]);
    current = &candidates[k];
  }
  if (interrupted()) return interrupted_exit();
  if (answering.size() > 1) return several_units(answering);
  if (answering.size() == 1 && answering[0] != *current) {
    current = &answering[0];
    try_port(*current, true, needed, refused);
  }
  chosen_port = current->name;
  unit = tick();
  if (unit.state != UnitState::Absent) return EXIT_DONE;
  if (!refused) note("no unit answers on \"" + chosen_port + "\"");
  return EXIT_NO_UNIT;
}

std::string connected_port() { return printable(chosen_port); }

int perform(const PersonInput& input) {
  int result = USER32_OK;
  switch (input.kind) {
    case PersonInput::Click:
      result = headless_click(input.control);
      break;
    case PersonInput::Drag:
      result = headless_slider_drag(input.control, input.value);
      break;
    case PersonInput::Key:
      result = headless_key(input.value);
      break;
    case PersonInput::Type:
      result = headless_type(input.text.c_str());
      break;
  }
  if (int code = dismiss_boxes(); code != EXIT_DONE) return code;
  if (result == USER32_OK) return EXIT_DONE;
  note("the dialog did not take the input (" + std::to_string(result) + ")");
  return EXIT_UNIT_FAILED;
}

int dismiss_boxes() {
  int code = EXIT_DONE;
  for (int i = 0; i < MAX_BOXES; ++i) {
    const std::vector<User32MessageBox> boxes = headless_boxes();
    if (boxes.empty()) break;
    note(boxes.back().title + ": " + one_line(boxes.back().text));
    if (code == EXIT_DONE) code = outcome_of(boxes.back().text);
    headless_dismiss_box();
  }
  return code;
}

int program_end(int code) {
  for (int i = 0; i < MAX_BOXES && !headless_boxes().empty(); ++i) headless_dismiss_box();
  if (headless_running()) {
    if (headless_combo_dropped(IDC_PORT_COMBO)) headless_combo_cancel(IDC_PORT_COMBO);
    headless_close();
  }
  // Boxes that come up while the dialog closes (an upload ending meanwhile) would hold it open.
  for (int i = 0; i < MAX_BOXES && headless_running(); ++i) {
    headless_wait_until([] { return !headless_running() || !headless_boxes().empty(); }, END_TIMEOUT_MS);
    while (!headless_boxes().empty()) headless_dismiss_box();
  }
  if (headless_exit_code(END_TIMEOUT_MS) == HEADLESS_TIMEOUT) {
    note("the program's dialog did not close");
    if (code == EXIT_DONE) code = EXIT_UNIT_FAILED;
  }
  if (!interrupted()) return code;
  note("interrupted; the ports are closed");
  return interrupted_exit();
}
