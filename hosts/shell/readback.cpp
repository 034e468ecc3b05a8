// Reading settings back after a change, which the dialog never does: it reads them only in the burst that
// follows choosing a port, and choosing the port again would send all eleven messages of the burst for one
// changed setting. Beside the program, with its own parts: the read-back messages of its message table go
// out through its send_sysex, each followed by its pause, and the replies reach the controls through its
// decoder as those of the burst do. Before that, the controls of the settings read are put back to how the
// dialog shows a value that has not been reported (disabled, the ID box empty), so that only a reply can
// show a value in them again. Shared by `vexa set` and `vexa restore` and the browser's "Load settings…".
#include <windows.h>

#include <algorithm>
#include <chrono>

#include "app/app.h"
#include "hosts/shell/settings_dialog.h"
#include "midi/midi.h"
#include "platform/win32/user32_ext.h"
#include "protocol/protocol.h"
#include "resource.h"

namespace {

constexpr int IDLE_TIMEOUT_MS = 10000;
// The controls' state wakes the wait; `stop` does not, so it is looked at this often.
constexpr int RECHECK_MS = 10;

void forget_shown_value(HWND dialog, const Setting& setting) {
  // A disabled control loses the focus; the ID box would take that as a commit and send its ID. The
  // person's Tab that committed a typed ID has already moved the focus on.
  if (setting.kind == SettingKind::IdBox) {
    EnableWindow(GetDlgItem(dialog, IDC_MMC_ID_SPIN), FALSE);
    EnableWindow(GetDlgItem(dialog, setting.control), FALSE);
    SetDlgItemTextA(dialog, setting.control, "");
    return;
  }
  EnableWindow(GetDlgItem(dialog, setting.control), FALSE);
}

bool reported(const std::vector<int>& indices) {
  const SettingValues shown = shown_settings();
  return std::all_of(indices.begin(), indices.end(), [&](int i) { return shown[static_cast<size_t>(i)]; });
}

}  // namespace

SettingValues read_back(const std::vector<int>& indices, bool (*stop)()) {
  user32_wait_idle(IDLE_TIMEOUT_MS);
  const HWND dialog = user32_current_dialog();
  for (int i : indices) forget_shown_value(dialog, SETTINGS[i]);
  for (int i : indices) {
    if (stop()) break;
    const Message& message = MessageTable[SETTINGS[i].read_back];
    send_sysex(message.bytes, message.length);
    Sleep(MESSAGE_PAUSE_MS);
  }
  // The unit has as long to answer as after the burst.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PRESENCE_PERIOD_MS);
  for (uint64_t seen = user32_change_count();
       !stop() && !reported(indices) && std::chrono::steady_clock::now() < deadline;)
    seen = user32_wait_change(seen, RECHECK_MS);
  user32_wait_idle(IDLE_TIMEOUT_MS);
  SettingValues values;
  const SettingValues shown = shown_settings();
  for (int i : indices) values[static_cast<size_t>(i)] = shown[static_cast<size_t>(i)];
  return values;
}

std::string unconfirmed(int index, const SettingValues& wanted, const SettingValues& after) {
  const size_t at = static_cast<size_t>(index);
  const std::string name = SETTINGS[index].name;
  if (!after[at]) return "the unit did not report " + name + " back";
  if (after[at] == wanted[at]) return "";
  return name + " was set to " + setting_text(SETTINGS[index], *wanted[at]) + ", but the unit reports " +
         setting_text(SETTINGS[index], *after[at]);
}
