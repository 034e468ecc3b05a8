// BUTTON for the Linux USER32 layer: push buttons, check boxes and group boxes. A click or Space toggles an
// automatic check box and notifies the dialog with BN_CLICKED.
#include <algorithm>

#include "platform/win32/user32_internal.h"

namespace {

DWORD button_type(const Window* w) { return w->style & BS_TYPEMASK; }

// Highest state BM_SETCHECK takes: 0 for buttons that have no check state.
int max_check(const Window* w) {
  switch (button_type(w)) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
      return BST_CHECKED;
    case BS_3STATE:
    case BS_AUTO3STATE:
      return BST_INDETERMINATE;
    default:
      return 0;
  }
}

bool has_focus(Window* w) {
  Window* d = dialog_of(w);
  return d && d->focus == w->hwnd;
}

void click(Window* w) {
  switch (button_type(w)) {
    case BS_GROUPBOX:
      return;
    case BS_AUTOCHECKBOX:
      update([&] { w->check = w->check == BST_UNCHECKED ? BST_CHECKED : BST_UNCHECKED; });
      break;
    case BS_AUTO3STATE:
      update([&] { w->check = (w->check + 1) % 3; });
      break;
    case BS_AUTORADIOBUTTON:
      update([&] { w->check = BST_CHECKED; });
      break;
    default:
      break;
  }
  // An auto check box has already toggled: the handler of BN_CLICKED sees the new state.
  notify_command(w, BN_CLICKED);
}

}  // namespace

void button_create(Window* w) { w->check = BST_UNCHECKED; }

LRESULT button_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result;
  if (text_message(w, message, wparam, lparam, result)) return result;
  switch (message) {
    case BM_GETCHECK:
      return max_check(w) ? w->check : BST_UNCHECKED;
    case BM_SETCHECK: {
      // Changes the state and repaints; no BN_CLICKED.
      int state = std::min(int(wparam), max_check(w));
      if (state != w->check) update([&] { w->check = state; });
      return 0;
    }
    case BM_GETSTATE:
      return w->check | (has_focus(w) ? BST_FOCUS : 0);
    case WM_GETDLGCODE:
      if (button_type(w) == BS_GROUPBOX) return DLGC_STATIC;
      if (button_type(w) == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
      if (button_type(w) == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
      return DLGC_BUTTON;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      screen_changed();
      if (w->style & BS_NOTIFY) notify_command(w, message == WM_SETFOCUS ? BN_SETFOCUS : BN_KILLFOCUS);
      return 0;
    case WM_ENABLE:
      screen_changed();
      return 0;
    default:
      return 0;
  }
}

void button_input(Window* w, const Input& input) {
  // A click counts when the mouse button comes up, Space when the key is released.
  if (input.kind == InputKind::click || (input.kind == InputKind::key_up && input.vk == VK_SPACE)) click(w);
}

bool button_wants_key(const Window* w, int vk) { return vk == VK_SPACE && button_type(w) != BS_GROUPBOX; }
