// Port selection and the half-second presence monitor.
#include <windows.h>

#include <commctrl.h>

#include "app/app.h"
#include "midi/midi.h"
#include "protocol/protocol.h"
#include "resource.h"

std::atomic<uint8_t> shown_mode{NothingShown};
// "Firmware  . " with the major version character at index 9 and the minor one at index 11.
char version_text[13] = "Firmware  . ";

namespace {

constexpr int VERSION_MAJOR_INDEX = 9;
constexpr int VERSION_MINOR_INDEX = 11;

// The settings controls and the update button, in the order the not-found display disables them.
const int NOT_FOUND_DISABLED[] = {
    IDC_UPDATE_BUTTON,    IDC_BRIGHTNESS,        IDC_BLANK_LEADING_ZERO, IDC_BLANK_FRAMES,
    IDC_STATIONARY_LTC,   IDC_INFINITE_FLYWHEEL, IDC_MTC_MMC_LOCATE,     IDC_LTC_HOLD_OFF,
    IDC_MTC_FULL_MESSAGE, IDC_ENABLE_TRVX,       IDC_MMC_ID_EDIT,        IDC_MMC_ID_SPIN,
};

const MessageId READ_BACK_BURST[] = {
    MSG_READ_BLANK_LEADING_ZERO, MSG_READ_BLANK_FRAMES,      MSG_READ_MMC_ID,
    MSG_READ_STATIONARY_LTC,     MSG_READ_INFINITE_FLYWHEEL, MSG_READ_MTC_MMC_LOCATE,
    MSG_READ_LTC_HOLD_OFF,       MSG_READ_MTC_FULL_MESSAGE,  MSG_READ_TRVX,
    MSG_READ_BRIGHTNESS,         MSG_STATUS_QUERY,
};

void close_ports() {
  close_midi_in();
  close_midi_out();
}

}  // namespace

void arm_presence_timer() { SetTimer(main_dialog, PRESENCE_TIMER, PRESENCE_PERIOD_MS, nullptr); }

void stop_presence_timer() { KillTimer(main_dialog, PRESENCE_TIMER); }

void on_port_dropdown() {
  stop_presence_timer();
  if (midi_in_port.load() != nullptr) close_midi_in();
  if (midi_out_port.load() != nullptr) close_midi_out();
  if (fill_output_list(main_dialog) != 0) {
    show_message(NO_OUTPUTS_TEXT, "Warning");
    SendDlgItemMessageA(main_dialog, IDC_PORT_COMBO, CB_INSERTSTRING, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(NO_OUTPUTS_TEXT));
  }
}

void on_port_closeup() {
  device_mode = Absent;
  shown_mode = NothingShown;
  LRESULT selection = SendDlgItemMessageA(main_dialog, IDC_PORT_COMBO, CB_GETCURSEL, 0, 0);
  if (selection == CB_ERR) {
    arm_presence_timer();
    return;
  }
  uint32_t output = static_cast<uint32_t>(selection);
  int32_t input = find_matching_input(output);
  if (input == NO_MATCHING_INPUT) {
    arm_presence_timer();
    return;
  }
  if (open_midi_out(output) != 0) {
    arm_presence_timer();
    show_message(OUTPUT_BUSY_TEXT, "Warning");
    return;
  }
  if (open_midi_in(static_cast<uint32_t>(input)) != 0) {
    if (midi_out_port.load() != nullptr) close_midi_out();
    arm_presence_timer();
    show_message(INPUT_BUSY_TEXT, "Warning");
    return;
  }
  send_read_back_burst();
  arm_presence_timer();
}

void send_read_back_burst() {
  for (MessageId message : READ_BACK_BURST) {
    send_message(message);
    Sleep(MESSAGE_PAUSE_MS);
  }
}

void show_not_found() {
  SetDlgItemTextA(main_dialog, IDC_DEVICE_TEXT, "vexa not found");
  for (int control : NOT_FOUND_DISABLED) enable_control(control, FALSE);
  SendDlgItemMessageA(main_dialog, IDC_PORT_COMBO, CB_RESETCONTENT, 0, 0);
}

void presence_tick() {
  stop_presence_timer();
  MMRESULT probe = midiInStart(midi_in_port.load());
  bool gone = probe == MMSYSERR_INVALHANDLE || probe == MMSYSERR_NODRIVER;
  if (gone) {
    close_ports();
    device_mode = Absent;
    shown_mode = NothingShown;
  }
  // Mode and version come from one status reply: a tick never shows the mode of one reply with
  // the version of another.
  DeviceStatus status = read_device_status();
  bool not_found = gone;
  if (!gone) {
    if (status.mode == Running) {
      if (shown_mode != Running) {
        if (status.major == VERSION_INVALID || status.minor == VERSION_INVALID) {
          SetDlgItemTextA(main_dialog, IDC_DEVICE_TEXT, INVALID_FIRMWARE_TEXT);
        } else {
          version_text[VERSION_MAJOR_INDEX] = static_cast<char>(status.major);
          version_text[VERSION_MINOR_INDEX] = static_cast<char>(status.minor);
          SetDlgItemTextA(main_dialog, IDC_DEVICE_TEXT, version_text);
        }
      }
      enable_control(IDC_UPDATE_BUTTON, FALSE);
    } else if (status.mode == UpdateMode) {
      if (shown_mode != UpdateMode) SetDlgItemTextA(main_dialog, IDC_DEVICE_TEXT, UPDATE_MODE_TEXT);
      enable_control(IDC_UPDATE_BUTTON, TRUE);
    } else {
      not_found = status.mode != shown_mode;
    }
  }
  if (not_found) show_not_found();
  // The mode that was drawn: a reply that landed since the snapshot is drawn at the next tick.
  shown_mode = status.mode;
  arm_presence_timer();
}
