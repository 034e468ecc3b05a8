// The dialog's side of an upload: status line, progress bar and the return to the unconnected state.
#include <windows.h>

#include <commctrl.h>

#include "app/app.h"
#include "firmware/firmware.h"
#include "midi/midi.h"
#include "protocol/protocol.h"
#include "resource.h"

const char* const STATUS_TEXTS[10] = {
    nullptr,                   // 0
    "Preparing",               // STATUS_PREPARING
    "Erasing",                 // STATUS_ERASING
    "Writing",                 // STATUS_WRITING
    "Programming successful",  // STATUS_SUCCESS
    "",                        // STATUS_BLANK
    "Timeout error",           // STATUS_TIMEOUT
    "Checksum error",          // STATUS_CHECKSUM
    nullptr,                   // 8
    "Invalid firmware",        // STATUS_INVALID_FIRMWARE
};

namespace {

constexpr DWORD DONE_PAUSE_MS = 2000;

}  // namespace

const char* upload_status_text(uint32_t status) {
  return status < sizeof STATUS_TEXTS / sizeof STATUS_TEXTS[0] ? STATUS_TEXTS[status] : nullptr;
}

void on_upload_status(LPARAM status) {
  uint32_t code = static_cast<uint32_t>(status);
  if (code == STATUS_DATA_CORRUPT) {
    show_message(DATA_CORRUPT_TEXT, "Warning");
    PostMessageA(main_dialog, WM_CLOSE, 0, 0);
    return;
  }
  if (const char* text = upload_status_text(code); text != nullptr) {
    SetDlgItemTextA(main_dialog, IDC_STATUS_TEXT, text);
  }
}

void on_upload_progress(LPARAM position) {
  SendDlgItemMessageA(main_dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void on_upload_done() {
  upload_running = false;
  if (close_pending) {
    close_dialog();
    return;
  }
  Sleep(DONE_PAUSE_MS);
  close_midi_in();
  close_midi_out();
  device_mode = Absent;
  shown_mode = NothingShown;
  SendDlgItemMessageA(main_dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
  enable_control(IDC_PORT_COMBO, TRUE);
  SetDlgItemTextA(main_dialog, IDC_STATUS_TEXT, " ");
  arm_presence_timer();
}
