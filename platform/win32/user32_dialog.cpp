// USER32 for the Linux layer: the dialog manager. It creates a dialog and its controls from a template, runs
// the modal loop, moves the focus among the tab stops, handles the dialog's keys (Tab, Escape, Enter) and
// hands person input to the controls; the default dialog procedure and the dialog functions of the API.
#include <algorithm>
#include <cstdlib>

#include "platform/win32/user32_internal.h"

namespace {

struct PictureSize {
  int width = 0, height = 0;  // pixels
};

// Size of a bitmap resource from its BITMAPINFOHEADER; zero when it is missing.
PictureSize bitmap_size(HINSTANCE instance, int bitmap_id) {
  PictureSize size;
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(bitmap_id), RT_BITMAP);
  const BYTE* bits = found ? static_cast<const BYTE*>(LockResource(LoadResource(instance, found))) : nullptr;
  if (!bits || SizeofResource(instance, found) < 12) return size;
  auto read32 = [&](int at) {
    return int32_t(bits[at] | bits[at + 1] << 8 | bits[at + 2] << 16 | uint32_t(bits[at + 3]) << 24);
  };
  size.width = read32(4);
  size.height = std::abs(read32(8));  // negative for a top-down bitmap
  return size;
}

Window* create_dialog(const Template& t, HWND owner, DLGPROC proc) {
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  my_queue_locked();
  Window* d = new_window_locked(WindowKind::dialog);
  d->style = t.style;
  d->ex_style = t.ex_style;
  d->x = t.x;
  d->y = t.y;
  d->cx = t.cx;
  d->cy = t.cy;
  d->text = t.title;
  d->font_face = t.font;
  d->point_size = t.point_size;
  d->parent = owner;
  d->dlgproc = proc;
  for (const TemplateItem& item : t.items) {
    Window* c = new_window_locked(item.kind);
    c->style = item.style | WS_CHILD;
    c->ex_style = item.ex_style;
    c->x = item.x;
    c->y = item.y;
    c->cx = item.cx;
    c->cy = item.cy;
    c->id = item.id;
    c->text = item.text;
    c->parent = d->hwnd;
    d->children.push_back(c->hwnd);
    switch (item.kind) {
      case WindowKind::button:
        button_create(c);
        break;
      case WindowKind::edit:
        edit_create(c);
        break;
      case WindowKind::static_text:
        static_create(c);
        break;
      case WindowKind::combo:
        combo_create(c);
        break;
      case WindowKind::progress:
        progress_create(c);
        break;
      case WindowKind::trackbar:
        trackbar_create(c);
        break;
      case WindowKind::updown:
        updown_create(c);
        break;
      case WindowKind::dialog:
        break;
    }
    if (item.kind == WindowKind::static_text && (item.style & SS_TYPEMASK) == SS_BITMAP && item.title_ordinal)
      c->bitmap_id = item.title_ordinal;
  }
  screen_changed_locked();
  return d;
}

HWND next_tab_stop(Window* d, HWND from, bool backwards) {
  std::lock_guard<std::mutex> guard(state().lock);
  int n = int(d->children.size());
  int start = backwards ? n : -1;
  for (int i = 0; i < n; ++i)
    if (d->children[i] == from) start = i;
  for (int step = 1; step <= n; ++step) {
    int i = ((start + (backwards ? -step : step)) % n + n) % n;
    Window* c = live_locked(d->children[i]);
    if (c && (c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED)) return c->hwnd;
  }
  return nullptr;
}

void focus_for_keyboard(Window* d, HWND target) {
  set_focus(d, target);
  Window* w = live_window(target);
  // An edit box reached by the keyboard selects its whole text (DLGC_HASSETSEL).
  if (w && w->kind == WindowKind::edit) deliver(target, EM_SETSEL, 0, -1);
}

void destroy_dialog(Window* d) {
  // Hiding the dialog takes the focus away: the focused control hears WM_KILLFOCUS, as on the platform.
  set_focus(d, nullptr);
  deliver(d->hwnd, WM_DESTROY, 0, 0);
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  d->alive = false;
  d->shown = false;
  d->timers.clear();
  for (HWND h : d->children)
    if (Window* c = window_locked(h)) c->alive = false;
  forget_dead_windows_locked();
  close_boxes_of_locked(d->hwnd);
  screen_changed_locked();
}

INT_PTR run_dialog(HINSTANCE instance, const Template& t, HWND owner, DLGPROC proc, LPARAM param) {
  if (owner && !live_window(owner)) return -1;
  Window* d = create_dialog(t, owner, proc);
  // A picture control takes the size of its bitmap, whatever its template rectangle says.
  for (HWND h : d->children) {
    Window* c = live_window(h);
    PictureSize size = c && c->bitmap_id ? bitmap_size(instance, c->bitmap_id) : PictureSize{};
    if (size.width > 0)
      update([&] {
        c->bitmap_width = size.width;
        c->bitmap_height = size.height;
        c->cx = (size.width * 4 + BASE_UNIT_X / 2) / BASE_UNIT_X;
        c->cy = (size.height * 8 + BASE_UNIT_Y / 2) / BASE_UNIT_Y;
      });
  }
  HWND first = next_tab_stop(d, nullptr, false);
  if (deliver(d->hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param)) {
    // WM_INITDIALOG may have disabled controls: the first tab stop is looked up again.
    if (HWND focus = next_tab_stop(d, nullptr, false)) focus_for_keyboard(d, focus);
  }
  update([&] {
    if (!d->ended) d->shown = true;
  });
  run_loop([d] { return d->ended; });
  destroy_dialog(d);
  std::lock_guard<std::mutex> guard(state().lock);
  return d->result;
}

// The dialog manager's keys: Tab and Shift+Tab among the tab stops, Escape, Enter.
void dialog_key(Window* d, Window* focused, int vk, bool shift) {
  switch (vk) {
    case VK_TAB:
      if (HWND next = next_tab_stop(d, d->focus, shift))
        if (next != d->focus) focus_for_keyboard(d, next);
      break;
    case VK_ESCAPE: {
      HWND cancel = GetDlgItem(d->hwnd, IDCANCEL);
      if (!cancel || IsWindowEnabled(cancel))
        deliver(d->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      break;
    }
    case VK_RETURN: {
      // A focused push button is the default one; otherwise a BS_DEFPUSHBUTTON, otherwise IDOK.
      int id = IDOK;
      HWND button = nullptr;
      auto push = [](const Window* w) {
        DWORD type = w->style & BS_TYPEMASK;
        return w->kind == WindowKind::button && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
      };
      if (focused && push(focused)) {
        id = focused->id;
        button = focused->hwnd;
      } else {
        std::lock_guard<std::mutex> guard(state().lock);
        for (HWND h : d->children) {
          Window* c = live_locked(h);
          if (c && push(c) && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            id = c->id;
            button = h;
            break;
          }
        }
      }
      if (!button) button = GetDlgItem(d->hwnd, id);
      if (!button || IsWindowEnabled(button))
        deliver(d->hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
      break;
    }
    default:
      break;
  }
}

bool wants_key(const Window* c, int vk) {
  switch (c->kind) {
    case WindowKind::button:
      return button_wants_key(c, vk);
    case WindowKind::edit:
      return edit_wants_key(c, vk);
    case WindowKind::combo:
      return combo_wants_key(c, vk);
    case WindowKind::trackbar:
      return trackbar_wants_key(c, vk);
    case WindowKind::updown:
      return updown_wants_key(c, vk);
    default:
      return false;
  }
}

void control_input(Window* c, const Input& input) {
  switch (c->kind) {
    case WindowKind::button:
      button_input(c, input);
      break;
    case WindowKind::edit:
      edit_input(c, input);
      break;
    case WindowKind::combo:
      combo_input(c, input);
      break;
    case WindowKind::trackbar:
      trackbar_input(c, input);
      break;
    case WindowKind::updown:
      updown_input(c, input);
      break;
    default:
      break;
  }
}

}  // namespace

void dispatch_input(const Input& input) {
  Window* d = live_window(input.dialog);
  if (!d) return;
  {
    std::lock_guard<std::mutex> guard(state().lock);
    if (input_blocked_locked(d)) return;  // the owner of an open message box takes no input
  }
  if (input.kind == InputKind::close) {
    deliver(d->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    return;
  }
  Window* c = input.control ? live_window(input.control) : live_window(d->focus);
  if (input.control && (!c || !is_enabled(c) || !(c->style & WS_VISIBLE)))
    return;  // disabled and hidden controls take no input
  bool keyboard = input.kind == InputKind::key_down || input.kind == InputKind::key_up ||
                  input.kind == InputKind::character;
  bool focusing = input.kind != InputKind::key_up && input.kind != InputKind::drag_move &&
                  input.kind != InputKind::drag_release && input.kind != InputKind::combo_choose &&
                  input.kind != InputKind::combo_cancel;
  if (input.control && focusing && takes_focus(c) && d->focus != c->hwnd) set_focus(d, c->hwnd);
  if (!keyboard) {
    if (c) control_input(c, input);
    return;
  }
  if (c && (input.kind == InputKind::character || wants_key(c, input.vk))) {
    control_input(c, input);
    return;
  }
  if (input.kind == InputKind::key_down) dialog_key(d, c, input.vk, input.shift);
}

LRESULT dialog_proc(Window* d, UINT message, WPARAM wparam, LPARAM lparam) {
  INT_PTR handled = d->dlgproc ? d->dlgproc(d->hwnd, message, wparam, lparam) : FALSE;
  if (message == WM_INITDIALOG) return handled;
  if (handled) return 0;  // DWLP_MSGRESULT, which nothing here sets
  LRESULT result;
  if (text_message(d, message, wparam, lparam, result)) return result;
  switch (message) {
    case WM_SETICON: {
      int slot = wparam == ICON_BIG ? 1 : 0;
      HICON previous = d->icons[slot];
      update([&] { d->icons[slot] = reinterpret_cast<HICON>(lparam); });
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == SC_CLOSE) deliver(d->hwnd, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE: {
      // Unhandled, the close button acts as the Cancel button.
      HWND cancel = GetDlgItem(d->hwnd, IDCANCEL);
      if (!cancel || IsWindowEnabled(cancel))
        PostMessageA(d->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    default:
      return 0;
  }
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  HRSRC found = FindResourceA(hInstance, lpTemplateName, RT_DIALOG);
  if (!found) return -1;
  const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(hInstance, found)));
  Template t;
  if (!bytes || !parse_template(bytes, SizeofResource(hInstance, found), t)) return -1;
  return run_dialog(hInstance, t, hWndParent, lpDialogFunc, dwInitParam);
}

std::string user32_template_caption(HMODULE module, int id) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), RT_DIALOG);
  const BYTE* bytes = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
  Template t;
  return bytes && parse_template(bytes, SizeofResource(module, found), t) ? t.title : "";
}

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE hInstance, LPCDLGTEMPLATEA hDialogTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  Template t;
  if (!hDialogTemplate || !parse_template(reinterpret_cast<const BYTE*>(hDialogTemplate), SIZE_MAX / 2, t))
    return -1;
  return run_dialog(hInstance, t, hWndParent, lpDialogFunc, dwInitParam);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = live_locked(hDlg);
  if (!d || d->kind != WindowKind::dialog) return FALSE;
  // The loop notices at its next retrieval; ended, result and shown are read under the lock only.
  d->ended = true;
  d->result = nResult;
  d->shown = false;
  kick_locked(find_queue_locked(d->thread));
  screen_changed_locked();
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = live_locked(hDlg);
  if (!d) return nullptr;
  Window* c = child_locked(d, nIDDlgItem);
  return c ? c->hwnd : nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  return w && w->kind != WindowKind::dialog ? w->id : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
  HWND c = GetDlgItem(hDlg, nIDDlgItem);
  return c ? BOOL(SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString))) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
  HWND c = GetDlgItem(hDlg, nIDDlgItem);
  if (!c) {
    if (lpString && cchMax > 0) lpString[0] = '\0';
    return 0;
  }
  return UINT(SendMessageA(c, WM_GETTEXT, WPARAM(cchMax), reinterpret_cast<LPARAM>(lpString)));
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam) {
  HWND c = GetDlgItem(hDlg, nIDDlgItem);
  return c ? SendMessageA(c, Msg, wParam, lParam) : 0;
}
