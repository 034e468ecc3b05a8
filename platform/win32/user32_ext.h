// Linux-only host API of the USER32 layer, for the front ends and the headless test driver; never included
// by the program.
//
// Person input is queued to the UI thread (the thread that runs the dialog) as the platform's input queue
// would hold it: it is retrieved after sent and posted messages and before paint and timers, passes the
// dialog manager's keyboard handling and reaches the controls, which notify the dialog as the real ones do.
// All functions here may be called from any thread. Reading state takes the layer's lock for a moment and
// never runs the dialog procedure.
//
// Controls are named by their dialog id. The functions work on the current dialog: the most recently
// created modal dialog that still exists.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// Results of the input functions.
constexpr int USER32_OK = 0;
constexpr int USER32_NO_DIALOG = -1;   // no dialog is open
constexpr int USER32_NO_CONTROL = -2;  // no control with that id, or it cannot take this input
constexpr int USER32_REFUSED = -3;     // the control is disabled or hidden, or a message box blocks input

// Person input. Each call queues the input and returns at once.
int user32_click(int id);                               // mouse click (press and release) on a control
int user32_key(int vk, bool shift = false);             // key press and release at the focused control
int user32_key_to(int id, int vk, bool shift = false);  // focus the control as a click would, then the key
int user32_type(const char* text);                      // typed characters at the focused control
int user32_paste(int id, const char* text);    // paste into an edit box or the combo box's edit field
int user32_combo_open(int id);                 // click on the drop-down arrow of a closed list
int user32_combo_choose(int id, int index);    // click on entry `index` of the open list
int user32_combo_cancel(int id);               // close the open list without a choice
int user32_slider_drag(int id, int position);  // press on the thumb, move it to `position`, release
int user32_updown_press(int id, bool up);      // press an arrow of an up-down control
int user32_updown_release(int id);             // release it
int user32_close();                            // the window's close button

// What a control is to a person, worked out once here from its class and style: every host keys its own
// drawing and handling by it.
enum class User32Kind {
  push_button,   // BUTTON of any other style (radio buttons too: the dialog has none)
  check_box,     // BUTTON BS_CHECKBOX, BS_AUTOCHECKBOX, BS_3STATE or BS_AUTO3STATE
  group_box,     // BUTTON BS_GROUPBOX
  text,          // STATIC of any style but SS_BITMAP
  picture,       // STATIC SS_BITMAP
  edit,          // EDIT
  combo_box,     // COMBOBOX
  progress_bar,  // msctls_progress32
  trackbar,      // msctls_trackbar32
  up_down,       // msctls_updown32
};
// The kind as the browser page's state spells it: "push_button", "check_box", ...
const char* user32_kind_name(User32Kind kind);

// State of one control, copied under the lock.
struct User32Control {
  HWND hwnd;
  std::string class_name;  // "Button", "Edit", "Static", "ComboBox", "msctls_progress32", ...
  User32Kind kind;         // from the class and the style
  int id;                  // -1 for an id of 0xFFFF
  int x, y, cx, cy;        // dialog units; a bitmap picture takes its bitmap's size
  DWORD style;
  std::string text;  // caption, edit text, or the combo box's edit field
  bool enabled;
  bool visible;
  bool focused;
  int check;                        // BUTTON: BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE
  int position, minimum, maximum;   // progress bar, trackbar, up-down
  std::vector<std::string> items;   // COMBOBOX list
  int selection;                    // COMBOBOX: -1 when none
  bool dropped;                     // COMBOBOX: the list is open
  int bitmap_id;                    // STATIC SS_BITMAP: resource id of the picture, else 0
  int bitmap_width, bitmap_height;  // its size in pixels, 0 when the bitmap is missing
  bool operator==(const User32Control&) const = default;
};

struct User32Dialog {
  HWND hwnd;
  std::string title;
  int x, y, cx, cy;  // dialog units
  DWORD style;
  std::string font_face;
  int point_size;
  bool visible;                         // after WM_INITDIALOG
  bool input_blocked;                   // a message box owned by the dialog is open
  int focus_id;                         // id of the focused control, 0 when none
  std::vector<User32Control> controls;  // template order
  bool operator==(const User32Dialog&) const = default;
};

// The caption of dialog template `id` in `module`, as a dialog made from it would have it; empty when the
// module holds no such template.
std::string user32_template_caption(HMODULE module, int id);

// Copies the current dialog; false when none is open.
bool user32_read_dialog(User32Dialog& out);
// Copies one control of the current dialog; false when there is no such control.
bool user32_read_control(int id, User32Control& out);
HWND user32_current_dialog();  // NULL when none

// Message boxes, as they are shown (MessageBoxA) and dismissed.
struct User32MessageBox {
  uint64_t serial;  // counts the boxes of the process from 1
  HWND owner;
  std::string title;
  std::string text;
  UINT type;
  std::thread::id thread;  // the thread that called MessageBoxA
  bool on_ui_thread;       // that thread runs the owner's message loop
  bool operator==(const User32MessageBox&) const = default;
};
std::vector<User32MessageBox> user32_open_boxes();  // the stack of open boxes, bottom first
std::vector<User32MessageBox> user32_box_log();     // every box shown since start, oldest first
// Presses OK on the topmost open box (or the one with that serial); MessageBoxA returns IDOK.
// USER32_NO_DIALOG when no box is open or the serial is unknown.
int user32_dismiss_box();
int user32_dismiss_box(uint64_t serial);

// Screen changes: a counter that goes up with every change of what a front end shows (texts, states,
// positions, lists, focus, boxes, the dialog opening or ending).
uint64_t user32_change_count();
// Waits until the counter differs from `seen` or `timeout_ms` passes; returns the counter. The counter also
// goes up each time a UI thread starts waiting for messages, so waiters can re-check idleness.
uint64_t user32_wait_change(uint64_t seen, int timeout_ms);
// Counts a change from outside the layer (a host's own state), waking user32_wait_change.
void user32_wake_watchers();
// Called after a window's text is set (WM_SETTEXT), on the thread that set it, outside the layer's lock;
// NULL removes it. Tests use it to make other threads act at that exact point.
void user32_set_text_hook(void (*hook)(HWND window, const char* text));
// Called with every posted message just before it is delivered, on the thread that delivers it, outside
// the layer's lock; NULL removes it.
void user32_set_posted_hook(void (*hook)(HWND window, UINT message, WPARAM wparam, LPARAM lparam));

// Whether the host draws the windows on a screen (the terminal and the browser do; the headless driver
// does not unless asked). Only drawn windows are painted, so only they get the paint notifications
// (NM_CUSTOMDRAW) by which a program learns that it was seen. Off by default; paint waiting meanwhile
// comes when it is turned on.
void user32_set_drawn(bool drawn);

// UI thread activity. Idle means the thread owning the current dialog is blocked in a message loop with
// nothing to retrieve but timers that are not yet due (no sent, posted or input message, no paint, no
// due timer), or that no dialog is open and no dialog thread is running a loop.
bool user32_ui_idle();
// The same for one thread: true while it is blocked in a message loop (a dialog's or a message box's) with
// nothing to retrieve.
bool user32_thread_idle(std::thread::id thread);
// Waits until idle; false on time-out.
bool user32_wait_idle(int timeout_ms);
// What waits in a thread's queue: counts of sent, posted and input messages; whether the thread is
// blocked in a loop's retrieval.
struct User32Queue {
  int sent;
  int posted;
  int input;
  bool waiting;
};
User32Queue user32_queue(std::thread::id thread);

// Timer clock. By default timers run on real time. A divisor speeds every timer period up (500 ms with
// divisor 10 elapses after 50 ms). The manual clock stops time until user32_advance_timers moves it on,
// so tests can step timers exactly.
void user32_set_timer_divisor(unsigned divisor);  // 0 counts as 1
void user32_set_manual_timers(bool manual);
void user32_advance_timers(DWORD ms);
