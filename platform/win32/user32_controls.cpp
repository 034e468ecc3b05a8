// The standard controls of the Linux USER32 layer: BUTTON, EDIT, STATIC and COMBOBOX. Each answers its
// messages and turns a person's input into the notifications that the platform's control sends.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

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

// The text of a single-line edit box after an insertion at the caret, which is at the end unless the whole
// text is selected. An insertion that does not fit is cut back until it fits, with EN_MAXTEXT.
void edit_insert(Window* w, const std::string& insert) {
  std::string base = w->select_all ? std::string() : w->text;
  size_t capacity = size_t(edit_capacity(w));
  size_t room = capacity > base.size() ? capacity - base.size() : 0;
  std::string taken = insert.substr(0, room);
  std::string next = base + taken;
  bool changed = next != w->text;
  if (changed || (w->select_all && !taken.empty()))
    update([&] {
      w->text = next;
      w->select_all = false;
    });
  if (taken.size() < insert.size()) notify_command(w, EN_MAXTEXT);
  if (changed) {
    notify_command(w, EN_UPDATE);
    notify_command(w, EN_CHANGE);
  }
}

void edit_erase(Window* w, bool backwards) {
  std::string next = w->text;
  if (w->select_all)
    next.clear();
  else if (backwards && !next.empty())
    next.pop_back();
  bool changed = next != w->text;
  update([&] {
    w->text = next;
    w->select_all = false;
  });
  if (changed) {
    notify_command(w, EN_UPDATE);
    notify_command(w, EN_CHANGE);
  }
}

bool is_caret_key(int vk) {
  return vk == VK_LEFT || vk == VK_RIGHT || vk == VK_UP || vk == VK_DOWN || vk == VK_HOME || vk == VK_END;
}

void combo_select(Window* w, int index) {
  update([&] {
    w->selection = index;
    w->text = index >= 0 ? w->items[size_t(index)] : std::string();
    w->select_all = false;
  });
}

void combo_close(Window* w, bool chosen) {
  notify_command(w, chosen ? CBN_SELENDOK : CBN_SELENDCANCEL);
  update([&] { w->dropped = false; });
  notify_command(w, CBN_CLOSEUP);
}

void combo_edit(Window* w, const std::string& next) {
  if (next == w->text && !w->select_all) return;
  update([&] {
    w->text = next;
    w->select_all = false;
  });
  notify_command(w, CBN_EDITUPDATE);
  notify_command(w, CBN_EDITCHANGE);
}

}  // namespace

// BUTTON: push buttons, check boxes and group boxes.

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

// EDIT: single-line edit boxes.

void edit_create(Window*) {}

int edit_capacity(const Window* w) {
  int capacity = int(w->limit);
  if (!(w->style & (ES_AUTOHSCROLL | ES_MULTILINE))) {
    // Without horizontal scrolling the text must fit the box. It is cx dialog units wide, cx * 6 / 4
    // pixels at the dialog font's base units (a 21-unit box: 31 px). The border takes 2 px a side and the
    // margins 1 px a side, and the 8-point dialog font's digits are 6 px wide: a 21-unit box holds
    // 4 digits (24 px of 25), and a fifth typed digit is refused.
    constexpr int DIGIT_PX = 6;
    int inner = w->cx * BASE_UNIT_X / 4 - ((w->style & WS_BORDER) ? 4 : 0) - 2;
    capacity = std::min(capacity, std::max(0, inner / DIGIT_PX));
  }
  return capacity;
}

LRESULT edit_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SETTEXT: {
      LRESULT result;
      text_message(w, message, wparam, lparam, result);
      update([&] { w->select_all = false; });
      notify_command(w, EN_UPDATE);
      notify_command(w, EN_CHANGE);
      return result;
    }
    case EM_SETSEL: {
      bool all = wparam == 0 && (lparam == -1 || size_t(lparam) >= w->text.size());
      update([&] { w->select_all = all && !w->text.empty(); });
      return 0;
    }
    case EM_GETSEL: {
      WORD end = WORD(w->text.size());
      return MAKELONG(w->select_all ? 0 : end, end);
    }
    case EM_LIMITTEXT:
      update([&] { w->limit = wparam ? UINT(wparam) : 0x7FFFFFFE; });
      return 0;
    case EM_REPLACESEL: {
      const char* text = reinterpret_cast<const char*>(lparam);
      edit_insert(w, text ? text : "");
      return 0;
    }
    case WM_GETDLGCODE:
      return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case WM_SETFOCUS:
      screen_changed();
      notify_command(w, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      screen_changed();
      notify_command(w, EN_KILLFOCUS);
      return 0;
    case WM_ENABLE:
      screen_changed();
      return 0;
    default: {
      LRESULT result = 0;
      text_message(w, message, wparam, lparam, result);
      return result;
    }
  }
}

void edit_input(Window* w, const Input& input) {
  if (w->style & ES_READONLY) return;
  switch (input.kind) {
    case InputKind::click:
      // The click puts the caret into the text (at its end here) and clears a selection.
      update([&] { w->select_all = false; });
      break;
    case InputKind::character: {
      char c = char(input.value);
      // ES_NUMBER refuses typed non-digits without a notification; pasting is not filtered.
      if ((w->style & ES_NUMBER) && !std::isdigit(static_cast<unsigned char>(c))) return;
      edit_insert(w, std::string(1, c));
      break;
    }
    case InputKind::paste:
      edit_insert(w, input.text);
      break;
    case InputKind::key_down:
      if (input.vk == VK_BACK || input.vk == VK_DELETE)
        edit_erase(w, input.vk == VK_BACK);
      else if (is_caret_key(input.vk))
        update([&] { w->select_all = false; });
      break;
    default:
      break;
  }
}

bool edit_wants_key(const Window*, int vk) { return vk == VK_BACK || vk == VK_DELETE || is_caret_key(vk); }

// STATIC: texts and pictures.

void static_create(Window*) {}

LRESULT static_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result;
  if (text_message(w, message, wparam, lparam, result)) return result;
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    case WM_ENABLE:
      screen_changed();
      return 0;
    default:
      return 0;
  }
}

// COMBOBOX with an edit field (CBS_DROPDOWN): the list, the selection and the person's list actions.

void combo_create(Window* w) { w->selection = -1; }

LRESULT combo_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result;
  if (text_message(w, message, wparam, lparam, result)) return result;
  int count = int(w->items.size());
  const char* text = reinterpret_cast<const char*>(lparam);
  switch (message) {
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
      int at = message == CB_INSERTSTRING ? int(wparam) : count;
      if (at == -1) at = count;  // -1 appends and never sorts
      if (message == CB_ADDSTRING && (w->style & CBS_SORT))
        at = int(std::count_if(w->items.begin(), w->items.end(), [&](const std::string& item) {
          return strcasecmp(item.c_str(), text ? text : "") <= 0;
        }));
      if (at < 0 || at > count) return CB_ERR;
      update([&] {
        w->items.insert(w->items.begin() + at, text ? text : "");
        if (w->selection >= at) w->selection++;
      });
      return at;
    }
    case CB_DELETESTRING: {
      int at = int(wparam);
      if (at < 0 || at >= count) return CB_ERR;
      update([&] {
        w->items.erase(w->items.begin() + at);
        if (w->selection == at)
          w->selection = -1;
        else if (w->selection > at)
          w->selection--;
      });
      return count - 1;
    }
    case CB_RESETCONTENT:
      update([&] {
        w->items.clear();
        w->selection = -1;
        w->text.clear();
      });
      return CB_OKAY;
    case CB_GETCOUNT:
      return count;
    case CB_GETCURSEL:
      return w->selection;
    case CB_SETCURSEL: {
      // No notification. -1 or an index outside the list clears the selection and the edit field.
      int at = int(wparam);
      bool valid = at >= 0 && at < count;
      combo_select(w, valid ? at : -1);
      return valid ? at : CB_ERR;
    }
    case CB_GETLBTEXT:
    case CB_GETLBTEXTLEN: {
      int at = int(wparam);
      if (at < 0 || at >= count) return CB_ERR;
      const std::string& item = w->items[size_t(at)];
      if (message == CB_GETLBTEXT && lparam)
        std::memcpy(reinterpret_cast<char*>(lparam), item.c_str(), item.size() + 1);
      return LRESULT(item.size());
    }
    case CB_FINDSTRINGEXACT:
      for (int i = 0; i < count; ++i) {
        int at = (int(wparam) + 1 + i) % count;
        if (text && same_text(w->items[size_t(at)], text)) return at;
      }
      return CB_ERR;
    case CB_GETDROPPEDSTATE:
      return w->dropped ? TRUE : FALSE;
    case WM_GETDLGCODE:
      return DLGC_WANTCHARS | DLGC_WANTARROWS | (w->dropped ? DLGC_WANTMESSAGE : 0);
    case WM_SETFOCUS:
      screen_changed();
      notify_command(w, CBN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      if (w->dropped) combo_close(w, false);
      screen_changed();
      notify_command(w, CBN_KILLFOCUS);
      return 0;
    case WM_ENABLE:
      screen_changed();
      return 0;
    default:
      return 0;
  }
}

void combo_input(Window* w, const Input& input) {
  int count = int(w->items.size());
  switch (input.kind) {
    case InputKind::combo_open:
      if (w->dropped) return;
      notify_command(w, CBN_DROPDOWN);  // before the list shows, so that its handler can fill it
      update([&] { w->dropped = true; });
      break;
    case InputKind::combo_choose:
      if (!w->dropped || input.value < 0 || input.value >= count) return;
      // The selection and the edit text are set before the notifications: CBN_CLOSEUP sees them.
      combo_select(w, input.value);
      combo_close(w, true);
      notify_command(w, CBN_SELCHANGE);
      break;
    case InputKind::combo_cancel:
      if (w->dropped) combo_close(w, false);
      break;
    case InputKind::key_down:
      switch (input.vk) {
        case VK_UP:
        case VK_DOWN: {
          // The arrow keys move the selection, open or closed, with CBN_SELCHANGE only.
          if (count == 0) return;
          int next =
              w->selection < 0 ? 0 : std::clamp(w->selection + (input.vk == VK_DOWN ? 1 : -1), 0, count - 1);
          if (next == w->selection) return;
          combo_select(w, next);
          notify_command(w, CBN_SELCHANGE);
          break;
        }
        case VK_RETURN:
          if (w->dropped) combo_close(w, true);
          break;
        case VK_ESCAPE:
          if (w->dropped) combo_close(w, false);
          break;
        case VK_F4:
          if (w->dropped)
            combo_close(w, true);
          else {
            Input open;
            open.kind = InputKind::combo_open;
            combo_input(w, open);
          }
          break;
        case VK_BACK:
          combo_edit(
              w, w->select_all || w->text.empty() ? std::string() : w->text.substr(0, w->text.size() - 1));
          break;
        case VK_DELETE:
          if (w->select_all) combo_edit(w, std::string());
          break;
        default:
          break;
      }
      break;
    case InputKind::character:
      combo_edit(w, (w->select_all ? std::string() : w->text) + char(input.value));
      break;
    case InputKind::paste:
      combo_edit(w, (w->select_all ? std::string() : w->text) + input.text);
      break;
    default:
      break;
  }
}

bool combo_wants_key(const Window* w, int vk) {
  if (vk == VK_RETURN || vk == VK_ESCAPE) return w->dropped;
  return vk == VK_UP || vk == VK_DOWN || vk == VK_F4 || vk == VK_BACK || vk == VK_DELETE || vk == VK_LEFT ||
         vk == VK_RIGHT || vk == VK_HOME || vk == VK_END;
}
