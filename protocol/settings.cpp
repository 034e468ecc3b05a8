// Handlers that turn a change of a settings control into one set message to the unit.
#include <windows.h>

#include <commctrl.h>

#include "app/app.h"
#include "protocol/protocol.h"
#include "resource.h"

std::atomic<uint8_t> brightness_sent{0};

namespace {

// The ID box holds at most four characters and the terminating zero; only the first three count.
constexpr int ID_TEXT_BUFFER = 5;

void send_and_pause(MessageId id) {
  send_message(id);
  Sleep(MESSAGE_PAUSE_MS);
}

void send_mmc_id() {
  MessageTable[MSG_SET_MMC_ID].bytes[VALUE_INDEX] = mmc_id;
  send_and_pause(MSG_SET_MMC_ID);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t parse_mmc_id(const char* text) {
  int length = 0;
  while (length < 3 && text[length] != '\0') ++length;
  switch (length) {
    case 1:
      return is_digit(text[0]) ? text[0] - '0' : -1;
    case 2:
      return is_digit(text[0]) && is_digit(text[1]) ? 10 * (text[0] - '0') + (text[1] - '0') : -1;
    case 3: {
      if ((text[0] != '0' && text[0] != '1') || !is_digit(text[1]) || !is_digit(text[2])) return -1;
      int32_t id = 100 * (text[0] - '0') + 10 * (text[1] - '0') + (text[2] - '0');
      return id <= MMC_ID_MAX ? id : -1;
    }
    default:
      return -1;
  }
}

void on_check_box(int control) {
  const CheckBoxSetting* setting = check_box_for_control(control);
  if (setting == nullptr) return;
  LRESULT state = SendMessageA(GetDlgItem(main_dialog, control), BM_GETCHECK, 0, 0);
  send_and_pause(state == BST_CHECKED ? setting->when_ticked : setting->when_unticked);
}

void on_slider_notify() {
  uint8_t value =
      static_cast<uint8_t>(SendDlgItemMessageA(main_dialog, IDC_BRIGHTNESS, TBM_GETPOS, 0, 0) & 0x0F);
  if (value == brightness_sent) return;
  MessageTable[MSG_SET_BRIGHTNESS].bytes[VALUE_INDEX] = value;
  send_and_pause(MSG_SET_BRIGHTNESS);
  brightness_sent = value;
}

void on_spin_scroll() {
  mmc_id = LOBYTE(SendDlgItemMessageA(main_dialog, IDC_MMC_ID_SPIN, UDM_GETPOS, 0, 0));
  show_mmc_id(static_cast<int8_t>(mmc_id.load()));
  send_mmc_id();
}

void on_mmc_id_commit() {
  char text[ID_TEXT_BUFFER] = {};
  GetDlgItemTextA(main_dialog, IDC_MMC_ID_EDIT, text, ID_TEXT_BUFFER);
  int32_t typed = parse_mmc_id(text);
  if (typed >= 0) mmc_id = static_cast<uint8_t>(typed);
  show_mmc_id(static_cast<int8_t>(mmc_id.load()));
  SendDlgItemMessageA(main_dialog, IDC_MMC_ID_SPIN, UDM_SETPOS, 0, mmc_id.load());
  send_mmc_id();
}
