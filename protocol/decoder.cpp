// The reply decoder: every complete message from the unit becomes shared state and control updates.
#include <windows.h>

#include <commctrl.h>

#include "app/app.h"
#include "midi/midi.h"
#include "protocol/protocol.h"
#include "resource.h"

std::atomic<uint8_t> last_reply{0};
std::atomic<uint8_t> device_mode{Absent};
std::atomic<uint8_t> fw_major{0};
std::atomic<uint8_t> fw_minor{0};
std::atomic<uint8_t> mmc_id{0};

namespace {

// Sequence count of the status triple (odd while a status reply is being stored). Only the MIDI
// input thread, whose callbacks never overlap, writes the triple; readers retry until they have
// read all three bytes between two equal even counts.
std::atomic<uint32_t> status_sequence{0};

void publish_status(uint8_t mode, uint8_t major, uint8_t minor) {
  status_sequence.fetch_add(1);
  fw_major = major;
  fw_minor = minor;
  device_mode = mode;
  status_sequence.fetch_add(1);
}

void set_check_box(const CheckBoxSetting& setting, uint8_t value) {
  HWND box = GetDlgItem(main_dialog, setting.control);
  bool ticked = (value == VALUE_ON) != setting.inverted;
  SendMessageA(box, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
  EnableWindow(box, TRUE);
}

}  // namespace

DeviceStatus read_device_status() {
  for (;;) {
    uint32_t before = status_sequence.load();
    DeviceStatus status{device_mode.load(), fw_major.load(), fw_minor.load()};
    if ((before & 1) == 0 && status_sequence.load() == before) return status;
  }
}

void decode_reply(RxBuffer buffer) {
  const uint8_t* reply = buffer == RX_BUFFER_2 ? rx_buffer_2 : rx_buffer_1;
  if (reply[0] != SYSEX_START) return;
  if (reply[1] != MANUFACTURER_ID || reply[2] != MODEL_ID) return;
  uint8_t code = reply[CODE_INDEX];
  uint8_t value = reply[VALUE_INDEX];
  // Positions 4 and 5 are read whatever the message's length: a short reply finds there what an
  // earlier message left in the buffer, never anything outside it.
  // The mode and version of a status reply are stored before its code, so that the upload worker,
  // which sees the code first, reads the version that came with it.
  if (is_boot_reply(code)) publish_status(UpdateMode, value, reply[VALUE_INDEX + 1]);
  if (code == REPLY_RUNNING) publish_status(Running, value, reply[VALUE_INDEX + 1]);
  last_reply = code;
  if (code < REPLY_FIRST_HANDLED || code > REPLY_LAST_HANDLED) return;

  bool shown_in_dialog =
      check_box_for_reply(code) != nullptr || code == PARAM_BRIGHTNESS + REPLY_PARAM_OFFSET;
  if (code == PARAM_MMC_ID + REPLY_PARAM_OFFSET) {
    if (value <= MMC_ID_MAX) mmc_id = value;
    shown_in_dialog = true;
  }
  HWND dialog = main_dialog;
  if (shown_in_dialog && dialog != nullptr) PostMessageA(dialog, WM_UNIT_REPLY, code, value);
}

void apply_reply(uint8_t code, uint8_t value) {
  if (const CheckBoxSetting* setting = check_box_for_reply(code)) {
    set_check_box(*setting, value);
  } else if (code == PARAM_MMC_ID + REPLY_PARAM_OFFSET) {
    if (value <= MMC_ID_MAX) {
      show_mmc_id(static_cast<int8_t>(value));
      SendDlgItemMessageA(main_dialog, IDC_MMC_ID_SPIN, UDM_SETPOS, 0, value);
    }
    enable_control(IDC_MMC_ID_SPIN, TRUE);
    enable_control(IDC_MMC_ID_EDIT, TRUE);
  } else if (code == PARAM_BRIGHTNESS + REPLY_PARAM_OFFSET) {
    // Not masked: the slider keeps its position within its range.
    SendDlgItemMessageA(main_dialog, IDC_BRIGHTNESS, TBM_SETRANGE, TRUE, MAKELPARAM(0, BRIGHTNESS_MAX));
    SendDlgItemMessageA(main_dialog, IDC_BRIGHTNESS, TBM_SETPOS, TRUE, value);
    enable_control(IDC_BRIGHTNESS, TRUE);
  }
}

void show_mmc_id(int8_t id) {
  char text[4];
  int rest = id;
  text[0] = '0';
  if (rest > 99) {
    text[0] = '1';
    rest -= 100;
  }
  text[1] = '0';
  while (rest >= 10) {
    ++text[1];
    rest -= 10;
  }
  text[2] = static_cast<char>('0' + rest);
  text[3] = '\0';
  SendDlgItemMessageA(main_dialog, IDC_MMC_ID_EDIT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
