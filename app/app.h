// Application shell: entry point, the main dialog and its routing, port selection and presence monitor.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

// What the unit last reported (device_mode), and what the display shows (shown_mode).
enum DeviceMode : uint8_t {
  Absent = 0,
  Running = 1,
  UpdateMode = 2,
  // shown_mode only: nothing shown yet, so the next tick draws whatever the unit reports. It differs
  // from every mode the unit reports, so that an absent unit is also drawn as not found.
  NothingShown = 99,
};

// The dialog's only timer: one-shot in effect, every tick stops it and re-arms it.
constexpr UINT_PTR PRESENCE_TIMER = 1;
constexpr UINT PRESENCE_PERIOD_MS = 500;
// Pause after every read-back or set message, so the unit gets at most one per 50 ms.
constexpr DWORD MESSAGE_PAUSE_MS = 50;
// Posted by the reply decoder on the MIDI input thread; the dialog thread applies the control
// updates (wParam reply code, lParam value byte). Posting is the one call that is safe inside a
// MIDI callback, and it never makes the input thread wait for the dialog thread.
constexpr UINT WM_UNIT_REPLY = WM_APP + 1;

// The port messages' texts, by which the shell commands tell their outcomes apart.
inline constexpr char NO_OUTPUTS_TEXT[] = "No MIDI outputs available";
inline constexpr char OUTPUT_BUSY_TEXT[] =
    "Selected MIDI output not available.\nPort is probably used by an other application.";
inline constexpr char INPUT_BUSY_TEXT[] =
    "Selected MIDI input not available.\nPort is probably used by an other application.";

// The device text for a unit in update mode and for one without valid firmware.
inline constexpr char UPDATE_MODE_TEXT[] = "vexa in update mode";
inline constexpr char INVALID_FIRMWARE_TEXT[] = "Invalid firmware";

extern HINSTANCE app_instance;
extern std::atomic<HWND> main_dialog;
extern HGLOBAL firmware_resource;
extern const uint8_t* firmware_image;
// Size of the embedded image resource: the terminator scan never runs past it.
extern DWORD firmware_size;

extern std::atomic<uint8_t> shown_mode;
extern char version_text[13];

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);
INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// A message box owned by the dialog with an OK button only.
void show_message(const char* text, const char* title);
void enable_control(int id, BOOL enable);
// Releases the image, closes both ports and ends the dialog.
void close_dialog();

void on_port_dropdown();
void on_port_closeup();
void presence_tick();
void send_read_back_burst();
void show_not_found();
void arm_presence_timer();
void stop_presence_timer();
