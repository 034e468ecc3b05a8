// Headless driver: runs the program's WinMain on a UI thread of its own and lets a test act as a person
// and read the dialog, without any screen.
//
//   headless_start(WinMain);                    // WinMain(GetModuleHandleA(NULL), NULL, "", SW_SHOWDEFAULT)
//   headless_wait_idle();                       // the dialog is up and has painted
//   headless_click(IDC_HELP_UPDATE);            // a person's click; returns once the program has reacted
//   headless_boxes();                           // the open message boxes (title, text)
//   headless_dismiss_box();                     // OK on the top box
//   headless_close();                           // the close button
//   int code = headless_exit_code(5000);        // WinMain's result
//
// Actions are synchronous: each one queues the input and then waits until the UI thread is idle again
// (blocked in a message loop with only future timers left). A message box shown by a handler counts as
// idle, since its loop waits for the person. Work of other threads (the MIDI input thread, the upload
// worker) is not part of idle: wait for its effect with headless_wait_until or headless_wait_box.
// Action results are those of user32_ext.h (USER32_OK, USER32_NO_CONTROL, USER32_REFUSED...), or
// HEADLESS_TIMEOUT when the UI thread did not become idle within the driver's time-out (10 s).
// Timeouts are in milliseconds. Readers name controls by their dialog id and read the current dialog; they
// answer empty values (text "", false, -1) when the control or the dialog does not exist.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/win32/user32_ext.h"

typedef int(WINAPI* HeadlessEntry)(HINSTANCE, HINSTANCE, LPSTR, int);

constexpr int HEADLESS_TIMEOUT = -100;

// Starts entry(module, NULL, "", SW_SHOWDEFAULT) on a new UI thread; module NULL means
// GetModuleHandleA(NULL). One program runs at a time; returns -1 while one still runs.
int headless_start(HeadlessEntry entry, HINSTANCE module = nullptr);
// Waits until the entry has returned and gives its result; HEADLESS_TIMEOUT if it has not returned in time.
int headless_exit_code(int timeout_ms = 10000);
bool headless_running();

// Waiting. Each returns true when the condition holds, false on time-out.
bool headless_wait_idle(int timeout_ms = 10000);
bool headless_wait_until(const std::function<bool()>& condition, int timeout_ms = 10000);
bool headless_wait_box(int timeout_ms = 10000);     // until a message box is open
bool headless_wait_dialog(int timeout_ms = 10000);  // until a dialog is open and idle

// Person actions, synchronous as described above.
int headless_click(int id);
int headless_key(int vk, bool shift = false);  // at the focused control
int headless_key_to(int id, int vk, bool shift = false);
int headless_type(const char* text);             // at the focused control
int headless_type_to(int id, const char* text);  // click into the control, then type
int headless_paste(int id, const char* text);
int headless_combo_open(int id);
int headless_combo_choose(int id, int index);
int headless_combo_cancel(int id);
int headless_slider_drag(int id, int position);
int headless_spin(int id, bool up);  // press and release one arrow
int headless_close();
int headless_dismiss_box();  // OK on the top box, then wait idle

// Readers.
HWND headless_dialog();
std::string headless_title();
std::string headless_text(int id);
bool headless_enabled(int id);
bool headless_visible(int id);
int headless_checked(int id);   // BST_ value, -1 when there is no such control
int headless_position(int id);  // trackbar, up-down, progress bar
int headless_range_min(int id);
int headless_range_max(int id);
std::vector<std::string> headless_combo_items(int id);
int headless_combo_selection(int id);
bool headless_combo_dropped(int id);
int headless_focus_id();                           // 0 when nothing has the focus
std::vector<User32MessageBox> headless_boxes();    // open boxes, bottom first
std::vector<User32MessageBox> headless_box_log();  // every box shown, oldest first
