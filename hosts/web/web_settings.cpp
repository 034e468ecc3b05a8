// The page's "Save settings…" and "Load settings…": the settings file of the shell commands, written and
// checked by the same C++ (hosts/shell/settings_file.h), with the dialog read and used as the commands
// read and use it (hosts/shell/settings_dialog.h). The page calls these on its main thread; a loaded file
// becomes a person's inputs at the dialog, queued as the page queues clicks and keys.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "hosts/shell/settings_dialog.h"
#include "hosts/shell/settings_file.h"

namespace {

// The text of the last answer, for the page to read until its next call.
std::string answer;

bool ready(const SettingValues& values) {
  return shown_unit().state == UnitState::Running &&
         std::all_of(values.begin(), values.end(),
                     [](const std::optional<int>& value) { return value.has_value(); });
}

}  // namespace

extern "C" {

// 1 while a running unit is connected and the dialog shows all ten of its settings.
EMSCRIPTEN_KEEPALIVE int web_settings_ready() { return ready(shown_settings()) ? 1 : 0; }

// The settings file of what the dialog shows; empty when it does not show all ten settings of a running unit.
EMSCRIPTEN_KEEPALIVE const char* web_settings_save() {
  const SettingValues values = shown_settings();
  answer = ready(values) ? settings_file_write({shown_unit().firmware, values}) : "";
  return answer.c_str();
}

// Checks the whole file (`length` bytes at `text`). Taken, it queues the inputs that set what differs at the
// dialog's controls and answers an empty text; refused, it answers the problem and nothing changes.
EMSCRIPTEN_KEEPALIVE const char* web_settings_load(const char* text, int length) {
  SettingsFile file;
  if (!ready(shown_settings())) {
    answer = "no running vexa is connected";
  } else if (settings_file_read(std::string_view(text, static_cast<size_t>(std::max(length, 0))), file,
                                answer)) {
    answer.clear();
    for (int i = 0; i < SETTING_COUNT; ++i) {
      for (const PersonInput& input : inputs_to_set(i, *file.values[static_cast<size_t>(i)]))
        queue_input(input);
    }
  }
  return answer.c_str();
}

}  // extern "C"
