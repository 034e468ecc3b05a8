// USER32 for the Linux layer: windows as handles, delivery of a message to a window's procedure, the focus,
// texts, and the window functions of the API.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/win32/user32_internal.h"

namespace {

constexpr uintptr_t HANDLE_BASE = 0x10000;

HWND handle_of_index(size_t index) { return reinterpret_cast<HWND>(HANDLE_BASE + 4 * index); }

Window* my_dialog_locked() {
  auto me = std::this_thread::get_id();
  auto& windows = state().windows;
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if ((*it)->alive && (*it)->kind == WindowKind::dialog && (*it)->thread == me) return it->get();
  return nullptr;
}

}  // namespace

std::mutex& user32_lock() { return state().lock; }

Window* window_locked(HWND hwnd) {
  uintptr_t v = reinterpret_cast<uintptr_t>(hwnd);
  if (v < HANDLE_BASE || (v & 3)) return nullptr;
  size_t index = (v - HANDLE_BASE) / 4;
  auto& windows = state().windows;
  return index < windows.size() ? windows[index].get() : nullptr;
}

Window* live_window(HWND hwnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  return live_locked(hwnd);
}

Window* live_locked(HWND hwnd) {
  Window* w = window_locked(hwnd);
  return w && w->alive ? w : nullptr;
}

bool shown_locked(const Window* w) {
  const Window* d = w->kind == WindowKind::dialog ? w : window_locked(w->parent);
  return d && d->alive && d->shown && (w->style & WS_VISIBLE);
}

Window* new_window_locked(WindowKind kind) {
  auto& windows = state().windows;
  auto w = std::make_unique<Window>();
  w->hwnd = handle_of_index(windows.size());
  w->kind = kind;
  w->thread = std::this_thread::get_id();
  windows.push_back(std::move(w));
  return windows.back().get();
}

Window* current_dialog_locked() {
  auto& windows = state().windows;
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if ((*it)->alive && (*it)->kind == WindowKind::dialog) return it->get();
  return nullptr;
}

Window* child_locked(const Window* dialog, int id) {
  for (HWND h : dialog->children) {
    Window* c = live_locked(h);
    if (c && WORD(c->id) == WORD(id)) return c;
  }
  return nullptr;
}

void screen_changed_locked() {
  auto& s = state();
  s.changes++;
  s.watchers.notify_all();
}

void screen_changed() {
  std::lock_guard<std::mutex> guard(state().lock);
  screen_changed_locked();
}

LRESULT deliver(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Window* w = live_window(hwnd);
  if (!w) return 0;
  switch (w->kind) {
    case WindowKind::dialog:
      return dialog_proc(w, message, wparam, lparam);
    case WindowKind::button:
      return button_proc(w, message, wparam, lparam);
    case WindowKind::edit:
      return edit_proc(w, message, wparam, lparam);
    case WindowKind::static_text:
      return static_proc(w, message, wparam, lparam);
    case WindowKind::combo:
      return combo_proc(w, message, wparam, lparam);
    case WindowKind::progress:
      return progress_proc(w, message, wparam, lparam);
    case WindowKind::trackbar:
      return trackbar_proc(w, message, wparam, lparam);
    case WindowKind::updown:
      return updown_proc(w, message, wparam, lparam);
  }
  return 0;
}

void notify_command(Window* control, int code) {
  SendMessageA(control->parent, WM_COMMAND, MAKEWPARAM(control->id, code),
               reinterpret_cast<LPARAM>(control->hwnd));
}

LRESULT send_notify(Window* control, NMHDR* header) {
  header->hwndFrom = control->hwnd;
  header->idFrom = WORD(control->id);
  return SendMessageA(control->parent, WM_NOTIFY, WORD(control->id), reinterpret_cast<LPARAM>(header));
}

LRESULT notify_header(Window* control, UINT code) {
  NMHDR header{};
  header.code = code;
  return send_notify(control, &header);
}

void set_focus(Window* dialog, HWND target) {
  HWND old = dialog->focus;
  if (old == target) return;
  // The focus moves first; then the old window hears WM_KILLFOCUS and the new one WM_SETFOCUS.
  update([&] { dialog->focus = target; });
  if (old) deliver(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(target), 0);
  if (target && dialog->focus == target) deliver(target, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
}

Window* dialog_of(Window* w) {
  if (w->kind == WindowKind::dialog) return w;
  std::lock_guard<std::mutex> guard(state().lock);
  return live_locked(w->parent);
}

bool is_enabled(const Window* w) { return !(w->style & WS_DISABLED); }

bool takes_focus(const Window* w) {
  if (!w || !is_enabled(w) || !(w->style & WS_VISIBLE)) return false;
  switch (w->kind) {
    case WindowKind::button:
      return (w->style & BS_TYPEMASK) != BS_GROUPBOX;
    case WindowKind::edit:
    case WindowKind::combo:
    case WindowKind::trackbar:
      return true;
    default:
      return false;  // statics, the progress bar, and an up-down without a buddy
  }
}

std::atomic<void (*)(HWND, const char*)> text_hook{nullptr};

bool text_message(Window* w, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  switch (message) {
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lparam);
      update([&] { w->text.assign(text ? text : ""); });
      if (void (*hook)(HWND, const char*) = text_hook.load()) hook(w->hwnd, text ? text : "");
      result = TRUE;
      return true;
    }
    case WM_GETTEXT: {
      char* buffer = reinterpret_cast<char*>(lparam);
      if (!buffer || wparam == 0) {
        result = 0;
        return true;
      }
      size_t n = std::min(w->text.size(), size_t(wparam) - 1);
      std::memcpy(buffer, w->text.data(), n);
      buffer[n] = '\0';
      result = LRESULT(n);
      return true;
    }
    case WM_GETTEXTLENGTH:
      result = LRESULT(w->text.size());
      return true;
    default:
      return false;
  }
}

BOOL WINAPI IsWindow(HWND hWnd) { return live_window(hWnd) != nullptr; }

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  return w && shown_locked(w);
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  return w && !(w->style & WS_DISABLED);
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
  // Carried out on the owner thread, where the focus and the control's own reaction live.
  return BOOL(call_on_owner(hWnd, [=]() -> LRESULT {
    Window* w = live_window(hWnd);
    if (!w) return FALSE;
    bool was_disabled = w->style & WS_DISABLED;
    if (bool(bEnable) == !was_disabled) return was_disabled;
    update([&] {
      if (bEnable)
        w->style &= ~DWORD(WS_DISABLED);
      else
        w->style |= WS_DISABLED;
    });
    if (!bEnable) {
      Window* d = dialog_of(w);
      if (d && d->focus == hWnd) set_focus(d, nullptr);  // a disabled window cannot keep the focus
    }
    deliver(hWnd, WM_ENABLE, bEnable ? TRUE : FALSE, 0);
    return was_disabled;
  }));
}

HWND WINAPI SetFocus(HWND hWnd) {
  Window* d;
  Window* w = nullptr;
  {
    std::lock_guard<std::mutex> guard(state().lock);
    if (hWnd) {
      w = live_locked(hWnd);
      if (!w || w->thread != std::this_thread::get_id())
        return nullptr;  // only windows of the calling thread
      d = w->kind == WindowKind::dialog ? w : live_locked(w->parent);
    } else {
      d = my_dialog_locked();
    }
  }
  if (!d) return nullptr;
  HWND previous = d->focus;
  if (w != d) set_focus(d, hWnd);
  return previous;
}

HWND WINAPI GetFocus(void) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = my_dialog_locked();
  return d ? d->focus : nullptr;
}

HWND WINAPI GetParent(HWND hWnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  return w ? w->parent : nullptr;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  return BOOL(SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  if (lpString && nMaxCount > 0) lpString[0] = '\0';
  return int(SendMessageA(hWnd, WM_GETTEXT, WPARAM(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
}

int WINAPI GetWindowTextLengthA(HWND hWnd) { return int(SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0)); }

// Window class names and combo box entries compare without regard to case.
bool same_text(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}
