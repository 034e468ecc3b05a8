// Internals shared by the USER32 layer's files: windows (user32_window.cpp), message queues and loops
// (user32_message.cpp), dialog templates and the dialog manager (user32_template.cpp, user32_dialog.cpp),
// message boxes (user32_msgbox.cpp), the host API (user32_ext.cpp), the standard controls (user32_button.cpp,
// user32_edit.cpp, user32_static.cpp, user32_combo.cpp) and the common controls (comctl32_progress.cpp,
// comctl32_trackbar.cpp, comctl32_updown.cpp). Not for the program or the hosts.
//
// Locking: one lock guards all window state. A window's fields are written only on the thread that owns
// the window, always under the lock; that thread may read them without it. Other threads read under the
// lock. No window procedure, dialog procedure or notification runs with the lock held.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/fifo.h"
#include "platform/win32/user32_ext.h"

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

// A request from another thread; the task lives on the sender's stack, which waits until it is done.
struct SentMessage {
  HWND hwnd;
  LRESULT (*run)(void* task);
  void* task;
  LRESULT result = 0;
  bool done = false;
};

struct PostedMessage {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

struct ThreadQueue {
  std::thread::id thread;
  Fifo<SentMessage*> sent;
  Fifo<PostedMessage> posted;
  std::deque<Input> input;
  std::condition_variable wake;
  bool waiting = false;  // blocked in a loop's retrieval
  bool kicked = false;   // a loop's end condition may have changed since it last looked
};

struct OpenBox {
  User32MessageBox info;
  bool dismissed = false;
  int result = 0;
};

struct State {
  std::mutex lock;
  std::vector<std::unique_ptr<Window>> windows;  // never shrinks: handles stay unique and safe to look up
  std::vector<std::unique_ptr<ThreadQueue>> queues;
  std::condition_variable watchers;  // screen changes and idle
  std::condition_variable replies;   // sent messages carried out
  uint64_t changes = 0;
  std::vector<OpenBox*> boxes;
  std::vector<User32MessageBox> box_log;
  uint64_t box_serial = 0;
  unsigned timer_divisor = 1;
  bool manual_timers = false;
  int64_t manual_now = 0;
  bool drawn = false;  // user32_set_drawn
};

// The layer's state; the _locked functions below need its lock.
State& state();

// Windows (user32_window.cpp).
Window* new_window_locked(WindowKind kind);
// Live window of a handle; NULL for a dead one or a handle that never was a window.
Window* live_locked(HWND hwnd);
// A window is shown while its dialog is and its WS_VISIBLE is set.
bool shown_locked(const Window* w);
// The most recently created dialog that still exists.
Window* current_dialog_locked();
// Live control `id` of a dialog.
Window* child_locked(const Window* dialog, int id);
// Called after a window's text is set (user32_set_text_hook).
extern std::atomic<void (*)(HWND, const char*)> text_hook;
// Called before a posted message is delivered (user32_set_posted_hook).
extern std::atomic<void (*)(HWND, UINT, WPARAM, LPARAM)> posted_hook;

// Message queues and loops (user32_message.cpp).
// The timer clock in microseconds.
int64_t now_locked();
ThreadQueue* find_queue_locked(std::thread::id thread);
// The calling thread's queue, made on first use.
ThreadQueue& my_queue_locked();
// Wakes a queue's loop to look at its end condition again.
void kick_locked(ThreadQueue* q);
void kick_all_locked();
// Blocked in a loop's retrieval with nothing to retrieve.
bool thread_idle_locked(std::thread::id thread);
// Drops what the queues hold for windows that are no longer alive; their senders stop waiting.
void forget_dead_windows_locked();
// Runs a task on the thread that owns the window: directly on that thread, otherwise as a sent message
// that the owner carries out when it next retrieves messages, while the caller waits. 0 for a dead window.
// The task is called through a plain function pointer: nothing is allocated, whichever thread calls.
LRESULT call_on_owner(HWND hwnd, LRESULT (*run)(void* task), void* task);
template <typename Task>
LRESULT call_on_owner(HWND hwnd, Task task) {
  return call_on_owner(
      hwnd, [](void* t) { return LRESULT((*static_cast<Task*>(t))()); }, &task);
}
// A message loop on the calling thread until `stop` holds.
void run_loop(const std::function<bool()>& stop);

// Dialog templates (user32_template.cpp).
struct TemplateItem {
  DWORD style = 0, ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  WindowKind kind = WindowKind::static_text;
  std::string text;
  int title_ordinal = 0;
};

struct Template {
  DWORD style = 0, ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string title;
  std::string font;
  int point_size = 0;
  std::vector<TemplateItem> items;
};

// The name of a window class as the platform spells it ("Button", "msctls_trackbar32", ...).
const char* class_name(WindowKind kind);
// Parses a DLGTEMPLATE (the extended form is not supported). False when it is malformed or names a class
// that does not exist.
bool parse_template(const BYTE* bytes, size_t size, Template& t);

// The dialog manager (user32_dialog.cpp).
LRESULT dialog_proc(Window* d, UINT message, WPARAM wparam, LPARAM lparam);
// Person input retrieved by a dialog's thread: to the dialog manager's keys or the control.
void dispatch_input(const Input& input);

// Message boxes (user32_msgbox.cpp).
// A message box owned by the dialog is open: the dialog takes no input.
bool input_blocked_locked(const Window* dialog);
// Boxes owned by a dialog that goes; their callers get 0.
void close_boxes_of_locked(HWND dialog);
// OK pressed on an open box: MessageBoxA returns IDOK.
int dismiss_box_locked(OpenBox* b);

// Shared with the controls.

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

// Shared by the common controls: a value within a range given either way round, and a scroll message to
// the dialog.
inline int clamp_between(int value, int a, int b) {
  return std::clamp(value, std::min(a, b), std::max(a, b));
}
inline void scroll_parent(Window* w, UINT message, int code, int position) {
  SendMessageA(w->parent, message, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(w->hwnd));
}
