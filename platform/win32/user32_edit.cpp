// EDIT for the Linux USER32 layer: single-line edit boxes, with their capacity, selection and EN_
// notifications.
#include <algorithm>
#include <cctype>

#include "platform/win32/user32_internal.h"

namespace {

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

}  // namespace

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
