// The page's "Save settings…" and "Load settings…": the settings file of the shell commands, written and
// checked by the same C++ (hosts/shell/settings_file.h), with the dialog read and used as the commands
// read and use it (hosts/shell/settings_dialog.h). The page calls these on its main thread. A loaded file is
// applied as `vexa restore` applies one: checked whole first, then a person's inputs at the dialog one at a
// time until one is refused, then read back from the unit, on a thread of its own (the page's thread may
// not wait); the page hears at the end which settings the unit did not confirm.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "hosts/shell/settings_dialog.h"
#include "hosts/shell/settings_file.h"
#include "platform/win32/user32_ext.h"

namespace {

constexpr int IDLE_TIMEOUT_MS = 10000;

// The text of the last answer, for the page to read until its next call.
std::string answer;
// A loaded file is being applied.
std::atomic<bool> applying{false};

// Why the dialog cannot be saved or loaded now; null when it can.
const char* not_ready(const SettingValues& values) {
  if (applying.load()) return "the last file is still being loaded";
  if (!user32_open_boxes().empty()) return "a message box is open";
  const bool all = std::all_of(values.begin(), values.end(),
                               [](const std::optional<int>& value) { return value.has_value(); });
  return shown_unit().state == UnitState::Running && all ? nullptr : "no running vexa is connected";
}

bool program_gone() { return user32_current_dialog() == nullptr; }

// Sets setting `index` to `wanted` with a person's inputs, each once the dialog has taken the one before;
// false when the dialog refused one or a message box came up.
bool set_at_dialog(int index, int wanted) {
  for (const PersonInput& input : inputs_to_set(index, wanted)) {
    if (queue_input(input) != USER32_OK || !user32_wait_idle(IDLE_TIMEOUT_MS) || !user32_open_boxes().empty())
      return false;
  }
  return true;
}

void apply(const SettingValues wanted) {
  const SettingValues before = shown_settings();
  std::vector<int> changed;
  std::string problem;
  for (int i = 0; i < SETTING_COUNT && problem.empty(); ++i) {
    const size_t at = static_cast<size_t>(i);
    if (before[at] == wanted[at]) continue;
    changed.push_back(i);
    if (!set_at_dialog(i, *wanted[at])) problem = std::string("the dialog did not take ") + SETTINGS[i].name;
  }
  const ReadBack after = read_back(changed, program_gone);
  for (int i : changed) {
    const std::string line = unconfirmed(i, wanted, after);
    if (!line.empty()) problem += (problem.empty() ? "" : "; ") + line;
  }
  // The page takes the copy and frees it.
  char* copy = static_cast<char*>(std::malloc(problem.size() + 1));
  applying.store(false);
  if (!copy) return;
  std::memcpy(copy, problem.c_str(), problem.size() + 1);
  MAIN_THREAD_ASYNC_EM_ASM({ Module['vexaPage'].settings_loaded($0); }, copy);
}

}  // namespace

extern "C" {

// 1 while a running unit is connected, the dialog shows all ten of its settings and no message box, and no
// file is being loaded.
EMSCRIPTEN_KEEPALIVE int web_settings_ready() { return not_ready(shown_settings()) ? 0 : 1; }

// The settings file of what the dialog shows; empty when it is not ready.
EMSCRIPTEN_KEEPALIVE const char* web_settings_save() {
  const SettingValues values = shown_settings();
  answer = not_ready(values) ? "" : settings_file_write({shown_unit().firmware, values});
  return answer.c_str();
}

// Checks the whole file (`length` bytes at `text`). Taken, it starts applying it and answers an empty text;
// the page hears the outcome through Module.vexaPage.settings_loaded. Refused, it answers the problem and
// nothing changes.
EMSCRIPTEN_KEEPALIVE const char* web_settings_load(const char* text, int length) {
  SettingsFile file;
  if (const char* problem = not_ready(shown_settings())) {
    answer = problem;
  } else if (settings_file_read(std::string_view(text, static_cast<size_t>(std::max(length, 0))), file,
                                answer)) {
    answer.clear();
    applying.store(true);
    std::thread(apply, file.values).detach();
  }
  return answer.c_str();
}

}  // extern "C"
