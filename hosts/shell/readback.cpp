// Reading settings back after a change, which the dialog never does: it reads them only in the burst that
// follows choosing a port, and choosing the port again would send all eleven messages of the burst for one
// changed setting. Beside the program, with its own parts: the read-back messages of its message table go
// out through its send_sysex, each followed by its pause, and the replies come through its decoder, which
// posts each to the dialog. The value compared is the reply's own byte as the decoder posts it, not what a
// control makes of it: a slider shows 31 as 15 and a box shows 5 as off, and neither is a confirmation.
// Shared by `vexa set` and `vexa restore` and the browser's "Load settings…".
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "app/app.h"
#include "hosts/shell/settings_dialog.h"
#include "midi/midi.h"
#include "platform/win32/user32_ext.h"
#include "protocol/protocol.h"

namespace {

constexpr int NO_REPLY = -1;
constexpr int IDLE_TIMEOUT_MS = 10000;
// A reply wakes no wait of the layer's; the replies are looked at this often.
constexpr int RECHECK_MS = 10;

// The value byte of the last reply of each code since the read-back began.
std::mutex replies_lock;
std::array<int, 128> reply_bytes;

void record_reply(HWND, UINT message, WPARAM code, LPARAM value) {
  if (message != WM_UNIT_REPLY || code >= reply_bytes.size()) return;
  std::lock_guard<std::mutex> hold(replies_lock);
  reply_bytes[code] = static_cast<int>(value);
}

int reply_byte(const Setting& setting) {
  const uint8_t code = MessageTable[setting.read_back].bytes[CODE_INDEX] + REPLY_PARAM_OFFSET;
  std::lock_guard<std::mutex> hold(replies_lock);
  return reply_bytes[code];
}

// The value that the setting's control stands for with the unit holding `byte`, as the decoder shows it;
// empty for a byte that the control cannot show.
std::optional<int> shown_value(const Setting& setting, int byte) {
  if (setting.kind != SettingKind::CheckBox)
    return byte >= setting.minimum && byte <= setting.maximum ? std::optional<int>(byte) : std::nullopt;
  if (byte != VALUE_ON && byte != VALUE_OFF) return std::nullopt;
  return (byte == VALUE_ON) != check_box_for_control(setting.control)->inverted ? 1 : 0;
}

bool all_reported(const std::vector<int>& indices) {
  return std::all_of(indices.begin(), indices.end(),
                     [](int i) { return reply_byte(SETTINGS[i]) != NO_REPLY; });
}

}  // namespace

ReadBack read_back(const std::vector<int>& indices, bool (*stop)()) {
  user32_wait_idle(IDLE_TIMEOUT_MS);
  {
    std::lock_guard<std::mutex> hold(replies_lock);
    reply_bytes.fill(NO_REPLY);
  }
  user32_set_posted_hook(record_reply);
  for (int i : indices) {
    if (stop()) break;
    const Message& message = MessageTable[SETTINGS[i].read_back];
    send_sysex(message.bytes, message.length);
    Sleep(MESSAGE_PAUSE_MS);
  }
  // The unit has as long to answer as after the burst.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PRESENCE_PERIOD_MS);
  for (uint64_t seen = user32_change_count();
       !stop() && !all_reported(indices) && std::chrono::steady_clock::now() < deadline;)
    seen = user32_wait_change(seen, RECHECK_MS);
  user32_set_posted_hook(nullptr);
  // The controls show the replies before the caller reads or uses the dialog again.
  user32_wait_idle(IDLE_TIMEOUT_MS);
  ReadBack result;
  for (int i : indices) {
    const int byte = reply_byte(SETTINGS[i]);
    result[static_cast<size_t>(i)] = {byte == NO_REPLY ? std::nullopt : shown_value(SETTINGS[i], byte), byte};
  }
  return result;
}

std::string unconfirmed(int index, const SettingValues& wanted, const ReadBack& after) {
  const size_t at = static_cast<size_t>(index);
  const std::string name = SETTINGS[index].name;
  if (after[at].byte == NO_REPLY) return "the unit did not report " + name + " back";
  if (after[at].value == wanted[at]) return "";
  const std::string reported =
      after[at].value ? setting_text(SETTINGS[index], *after[at].value) : std::to_string(after[at].byte);
  return name + " was set to " + setting_text(SETTINGS[index], *wanted[at]) + ", but the unit reports " +
         reported;
}
