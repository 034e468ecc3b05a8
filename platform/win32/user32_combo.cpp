// COMBOBOX for the Linux USER32 layer, with an edit field (CBS_DROPDOWN): the list, the selection and the
// person's list actions, with the CBN_ notifications that the platform's control sends.
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/win32/user32_internal.h"

namespace {

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

// CB_ADDSTRING and CB_INSERTSTRING: the index of the new entry, or CB_ERR.
LRESULT combo_insert(Window* w, UINT message, WPARAM wparam, const char* text) {
  const int count = int(w->items.size());
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

// CB_DELETESTRING: the entries left, or CB_ERR.
LRESULT combo_delete(Window* w, int at) {
  const int count = int(w->items.size());
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

// CB_FINDSTRINGEXACT: the first entry after `after` (wrapping round) that matches the text whole.
LRESULT combo_find(const Window* w, int after, const char* text) {
  const int count = int(w->items.size());
  for (int i = 0; i < count; ++i) {
    int at = (after + 1 + i) % count;
    if (text && same_text(w->items[size_t(at)], text)) return at;
  }
  return CB_ERR;
}

// The keys that the control handles itself: the arrows move the selection, open or closed, with
// CBN_SELCHANGE only; Enter, Escape and F4 close an open list; Backspace and Delete edit the field.
void combo_key(Window* w, int vk) {
  const int count = int(w->items.size());
  switch (vk) {
    case VK_UP:
    case VK_DOWN: {
      if (count == 0) return;
      int next = w->selection < 0 ? 0 : std::clamp(w->selection + (vk == VK_DOWN ? 1 : -1), 0, count - 1);
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
      combo_edit(w, w->select_all || w->text.empty() ? std::string() : w->text.substr(0, w->text.size() - 1));
      break;
    case VK_DELETE:
      if (w->select_all) combo_edit(w, std::string());
      break;
    default:
      break;
  }
}

}  // namespace

void combo_create(Window* w) { w->selection = -1; }

LRESULT combo_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result;
  if (text_message(w, message, wparam, lparam, result)) return result;
  int count = int(w->items.size());
  const char* text = reinterpret_cast<const char*>(lparam);
  switch (message) {
    case CB_ADDSTRING:
    case CB_INSERTSTRING:
      return combo_insert(w, message, wparam, text);
    case CB_DELETESTRING:
      return combo_delete(w, int(wparam));
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
      return combo_find(w, int(wparam), text);
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
      combo_key(w, input.vk);
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
