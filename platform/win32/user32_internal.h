// Internals shared by the USER32 layer (user32.cpp), its standard controls (user32_controls.cpp) and the
// common controls (comctl32.cpp). Not for the program or the hosts.
//
// Locking: one lock guards all window state. A window's fields are written only on the thread that owns
// the window, always under the lock; that thread may read them without it. Other threads read under the
// lock. No window procedure, dialog procedure or notification runs with the lock held.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Dialog base units of the 8-point dialog font: 4 horizontal dialog units are 6 pixels, 8 vertical ones 13.
constexpr int BASE_UNIT_X = 6;
constexpr int BASE_UNIT_Y = 13;

enum class WindowKind { dialog, button, edit, static_text, combo, progress, trackbar, updown };

struct WindowTimer {
  UINT_PTR id;
  UINT period;  // ms as the program gave it
  int64_t due;  // on the layer's timer clock
};

struct Window {
  HWND hwnd = nullptr;
  WindowKind kind = WindowKind::dialog;
  int id = 0;
  DWORD style = 0;
  DWORD ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::string text;
  HWND parent = nullptr;  // the dialog, for controls
  std::thread::id thread;
  bool alive = true;
  bool needs_paint = false;

  // Dialog.
  DLGPROC dlgproc = nullptr;
  bool shown = false;
  bool ended = false;
  INT_PTR result = 0;
  HWND focus = nullptr;
  HICON icons[2] = {nullptr, nullptr};
  std::vector<HWND> children;
  std::string font_face;
  int point_size = 0;
  std::vector<WindowTimer> timers;

  // BUTTON.
  int check = BST_UNCHECKED;
  // EDIT and the combo box's edit field: the whole text is selected (after Tab), so typing replaces it.
  bool select_all = false;
  UINT limit = 30000;
  // COMBOBOX.
  std::vector<std::string> items;
  int selection = -1;
  bool dropped = false;
  // Progress bar, trackbar, up-down.
  int minimum = 0, maximum = 0, position = 0, line = 1, page = 20, step = 10;
  bool dragging = false;
  // STATIC picture.
  int bitmap_id = 0, bitmap_width = 0, bitmap_height = 0;
};

// Person input as the UI thread retrieves it from its input queue.
enum class InputKind {
  click,
  key_down,
  key_up,
  character,
  paste,
  combo_open,
  combo_choose,
  combo_cancel,
  drag_press,
  drag_move,
  drag_release,
  updown_press,
  updown_release,
  close
};

struct Input {
  InputKind kind = InputKind::click;
  HWND dialog = nullptr;
  HWND control = nullptr;  // NULL: the focused control at the time of retrieval
  int vk = 0;
  bool shift = false;
  std::string text;
  int value = 0;
};

std::mutex& user32_lock();
// Window of a handle, alive or not; NULL for a handle that never was a window. Needs the lock.
Window* window_locked(HWND hwnd);
// Live window of a handle, taking the lock for the look-up.
Window* live_window(HWND hwnd);
// Counts a change of what a front end shows. The _locked form needs the lock.
void screen_changed_locked();
void screen_changed();
// Marks a control for repainting; the owner thread paints it when nothing but timers waits.
void invalidate(Window* w);
// Sets a field of a window under the lock (the owner thread's writes).
template <typename F>
void update(F&& change) {
  std::lock_guard<std::mutex> guard(user32_lock());
  change();
  screen_changed_locked();
}

// Runs a message through a window's procedure on the calling (owner) thread.
LRESULT deliver(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// WM_COMMAND from a control to its dialog with the notification code in the high word.
void notify_command(Window* control, int code);
// WM_NOTIFY with a bare NMHDR; returns the dialog's answer.
LRESULT notify_header(Window* control, UINT code);
LRESULT send_notify(Window* control, NMHDR* header);
// Moves the keyboard focus within a dialog on its thread (WM_KILLFOCUS, then WM_SETFOCUS).
void set_focus(Window* dialog, HWND target);
Window* dialog_of(Window* w);
bool is_enabled(const Window* w);
bool takes_focus(const Window* w);

// Text messages common to all classes (WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH); false when not one.
bool text_message(Window* w, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);

// Control classes: defaults at creation, window procedure, person input, keys the control handles itself.
void button_create(Window* w);
LRESULT button_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam);
void button_input(Window* w, const Input& input);
bool button_wants_key(const Window* w, int vk);

void edit_create(Window* w);
LRESULT edit_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam);
void edit_input(Window* w, const Input& input);
bool edit_wants_key(const Window* w, int vk);
int edit_capacity(const Window* w);

void static_create(Window* w);
LRESULT static_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam);

void combo_create(Window* w);
LRESULT combo_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam);
void combo_input(Window* w, const Input& input);
bool combo_wants_key(const Window* w, int vk);

void progress_create(Window* w);
LRESULT progress_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam);

void trackbar_create(Window* w);
LRESULT trackbar_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam);
void trackbar_input(Window* w, const Input& input);
bool trackbar_wants_key(const Window* w, int vk);
void trackbar_paint(Window* w);

void updown_create(Window* w);
LRESULT updown_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam);
void updown_input(Window* w, const Input& input);
bool updown_wants_key(const Window* w, int vk);

// Case-insensitive comparison of a text with a NUL-terminated one.
bool same_text(const std::string& a, const char* b);
