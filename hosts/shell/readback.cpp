// Reading settings back after a change, which the dialog never does: it reads them only in the burst that
// follows choosing a port, and choosing the port again would send all eleven messages of the burst for one
// changed setting. Beside the program, with its own parts: the read-back messages of its message table go
// out through its send_sysex, each followed by its pause, and the replies reach the controls through its
// decoder as those of the burst do. Before that, the controls of the settings read are put back to how the
// dialog shows a value that has not been reported (disabled, the ID box empty), so that only a reply can
// show a value in them again.
#include <windows.h>

#include <algorithm>

#include "app/app.h"
#include "hosts/headless/headless.h"
#include "hosts/shell/commands.h"
#include "hosts/shell/session.h"
#include "hosts/shell/settings_dialog.h"
#include "midi/midi.h"
#include "protocol/protocol.h"
#include "resource.h"

namespace {

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

}  // namespace

SettingValues read_back(const std::vector<int>& indices) {
  headless_wait_idle();
  const HWND dialog = headless_dialog();
  for (int i : indices) forget_shown_value(dialog, SETTINGS[i]);
  for (int i : indices) {
    if (interrupted()) break;
    const Message& message = MessageTable[SETTINGS[i].read_back];
    send_sysex(message.bytes, message.length);
    Sleep(MESSAGE_PAUSE_MS);
  }
  // The unit has as long to answer as after the burst.
  const auto reported = [&indices] {
    const SettingValues shown = shown_settings();
    return std::all_of(indices.begin(), indices.end(), [&](int i) { return shown[static_cast<size_t>(i)]; });
  };
  headless_wait_until([&] { return interrupted() || reported(); }, PRESENCE_PERIOD_MS);
  headless_wait_idle();
  SettingValues values;
  const SettingValues shown = shown_settings();
  for (int i : indices) values[static_cast<size_t>(i)] = shown[static_cast<size_t>(i)];
  return values;
}
