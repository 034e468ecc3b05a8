// Entry point and the main dialog: set-up, routing of every event, help buttons and tear-down.
#include <windows.h>

#include <commctrl.h>

#include "app/app.h"
#include "firmware/firmware.h"
#include "midi/midi.h"
#include "protocol/protocol.h"
#include "resource.h"

HINSTANCE app_instance = nullptr;
std::atomic<HWND> main_dialog{nullptr};
HGLOBAL firmware_resource = nullptr;
const uint8_t* firmware_image = nullptr;
DWORD firmware_size = 0;

namespace {

const char HELP_UPDATE_TEXT[] =
    "To program new firmware 3.1 you must boot vexa in update mode:\n\nStep 1:\nHold down both keys while "
    "connecting the unit to the USB port of your computer.\nStep 2:\nSelect device vexa below the picture.\n"
    "Step 3:\nPress Update firmware button.";

const char HELP_SETTINGS_TEXT[] =
    "Blank leading zero of the time code display, i.e.  1:00:00:00 instead of 01:00:00:00.\n\n"
    "Blank frames when running. Running time code will be displayed without the frame count.\n\n"
    "Stationary LTC timecode (not incrementing) is used to spot an exact position. Some LTC readers may not "
    "interpret stationary time code and produce errors.\n\n"
    "MTC full messages encode the complete time into a single message. High speed, low speed or reverse "
    "timecode is output as  full message when enabled.\n\n"
    "MMC midi machine control locate cmd is an alternative method to spot a computer to a timecode position. "
    "When your DAW software does not follow to MTC full messages you can use MMC Locate instead. You have to "
    "enable MMC slave functionality in your DAW software as well.\n\n"
    "Infinite flywheel: When the timecode input signal disappears during timecode translation, the Infinite "
    "flywheel option continues re-generation until a new valid time code will be detected. The display is "
    "showing the timecode input signal.\n\n"
    "Extended LTC hold off option delays the MTC trigger start for 30 frames. This serves to get more "
    "accurate "
    "MTC triggers from tape machines with ramping start up behaviour.\n\n"
    "Enable TRVX allows controlling the vexa with MIDI control change commands. See Quorvanex Midi Control "
    "Change Protocol for more informations.\n\n"
    "MIDI Machine Control ID serves to address MMC machines individually in addition to ID 127 (broadcast). "
    "Some software interprets ID values 0..126 as 1..127.\n\n"
    "Brightness slider sets timecode display and status LED brightness.\n\n"
    "All settings are stored non volatile.";

void on_init_dialog(HWND window) {
  HICON icon = LoadIconA(app_instance, MAKEINTRESOURCEA(IDI_APP));
  if (icon != nullptr) SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  main_dialog = window;
  SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, 0, 0);

  // The find result is not tested by itself: a missing resource makes the load fail.
  HRSRC found = FindResourceA(app_instance, "FirmwareFile", "BINTYPE");
  // "hResLoad" and "lpResLock" are the program's own warnings for a missing firmware resource.
  firmware_resource = LoadResource(app_instance, found);
  if (firmware_resource == nullptr) show_message("hResLoad", "Warning");
  firmware_size = found != nullptr ? SizeofResource(app_instance, found) : 0;
  firmware_image = static_cast<const uint8_t*>(LockResource(firmware_resource));
  if (firmware_image == nullptr) show_message("lpResLock", "Warning");

  enable_control(IDC_UPDATE_BUTTON, FALSE);
  SendDlgItemMessageA(window, IDC_MMC_ID_SPIN, UDM_SETRANGE, 0, MMC_ID_MAX);
}

void on_close() {
  // Closing during an upload waits for the worker: it stops at its next look and posts
  // CMD_UPLOAD_DONE, whose handler then finishes the close. No thread is left using a port or
  // the window after the dialog has gone.
  if (upload_running) {
    close_pending = true;
    upload_stop = 1;
    return;
  }
  close_dialog();
}

bool is_check_box(WORD id) { return check_box_for_control(id) != nullptr; }

void on_command(WORD id, WORD code, LPARAM lparam) {
  if (is_check_box(id)) {
    on_check_box(id);
    return;
  }
  switch (id) {
    case IDC_UPDATE_BUTTON:
      on_update_button();
      break;
    case IDC_HELP_UPDATE:
      show_message(HELP_UPDATE_TEXT, "Help");
      break;
    case IDC_HELP_SETTINGS:
      show_message(HELP_SETTINGS_TEXT, "Help");
      break;
    case IDC_PORT_COMBO:
      if (code == CBN_DROPDOWN)
        on_port_dropdown();
      else if (code == CBN_CLOSEUP)
        on_port_closeup();
      break;
    case IDC_MMC_ID_EDIT:
      if (code == EN_KILLFOCUS || code == EN_MAXTEXT) on_mmc_id_commit();
      break;
    case CMD_UPLOAD_DONE:
      on_upload_done();
      break;
    case CMD_UPLOAD_STATUS:
      on_upload_status(lparam);
      break;
    case CMD_UPLOAD_PROGRESS:
      on_upload_progress(lparam);
      break;
    default:
      break;
  }
}

}  // namespace

void show_message(const char* text, const char* title) { MessageBoxA(main_dialog, text, title, MB_OK); }

void enable_control(int id, BOOL enable) { EnableWindow(GetDlgItem(main_dialog, id), enable); }

void close_dialog() {
  FreeResource(firmware_resource);
  close_midi_in();
  close_midi_out();
  EndDialog(main_dialog, 0);
}

INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      on_init_dialog(window);
      return TRUE;
    case WM_CLOSE:
      on_close();
      return TRUE;
    case WM_TIMER:
      presence_tick();
      return TRUE;
    case WM_NOTIFY:
      if (LOWORD(wparam) == IDC_BRIGHTNESS) on_slider_notify();
      return TRUE;
    case WM_VSCROLL:
      on_spin_scroll();
      return TRUE;
    case WM_COMMAND:
      on_command(LOWORD(wparam), HIWORD(wparam), lparam);
      return TRUE;
    case WM_UNIT_REPLY:
      apply_reply(static_cast<uint8_t>(wparam), static_cast<uint8_t>(lparam));
      return TRUE;
    default:
      return FALSE;
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  app_instance = instance;
  // Loading the common-control library registers its window classes (progress bar, trackbar,
  // up-down), which the dialog template names; no initialisation call is needed.
  LoadLibraryA("comctl32.dll");
  init_port_lock();
  return static_cast<int>(
      DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, main_dialog_proc, 0));
}
