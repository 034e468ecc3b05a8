// The up-down control of the Linux COMCTL32 layer (msctls_updown32), always without a buddy here: its
// range and position, arrows and keys, with UDN_DELTAPOS and the scroll messages.
#include "platform/win32/user32_internal.h"

namespace {

UINT updown_scroll(const Window* w) { return (w->style & UDS_HORZ) ? WM_HSCROLL : WM_VSCROLL; }

// One arrow action: UDN_DELTAPOS first (a non-zero answer vetoes), then one step within the range, then
// SB_THUMBPOSITION with the position, also at the end of the range where the position stays.
void updown_step(Window* w, bool up) {
  int delta = up ? 1 : -1;
  if (w->minimum > w->maximum) delta = -delta;  // the up arrow goes towards the maximum
  NMUPDOWN change{};
  change.hdr.code = UDN_DELTAPOS;
  change.iPos = w->position;
  change.iDelta = delta;
  if (!send_notify(w, &change.hdr)) {
    int next = clamp_between(w->position + delta, w->minimum, w->maximum);
    if (next != w->position) update([&] { w->position = next; });
  }
  scroll_parent(w, updown_scroll(w), SB_THUMBPOSITION, w->position);
}

}  // namespace

void updown_create(Window* w) {
  w->minimum = 100;
  w->maximum = 0;
  w->position = 0;
}

LRESULT updown_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case UDM_SETRANGE:
      // MAKELONG(maximum, minimum), both signed 16-bit.
      update([&] {
        w->maximum = SHORT(LOWORD(lparam));
        w->minimum = SHORT(HIWORD(lparam));
      });
      return 0;
    case UDM_GETRANGE:
      return MAKELONG(w->maximum, w->minimum);
    case UDM_SETRANGE32:
      update([&] {
        w->minimum = int(wparam);
        w->maximum = int(lparam);
      });
      return 0;
    case UDM_GETRANGE32:
      if (wparam) *reinterpret_cast<int*>(wparam) = w->minimum;
      if (lparam) *reinterpret_cast<int*>(lparam) = w->maximum;
      return 0;
    case UDM_SETPOS:
    case UDM_SETPOS32: {
      int previous = w->position;
      int requested = message == UDM_SETPOS ? SHORT(LOWORD(lparam)) : int(lparam);
      int position = clamp_between(requested, w->minimum, w->maximum);
      if (position != w->position) update([&] { w->position = position; });
      return previous;
    }
    case UDM_GETPOS:
      // The high word is the error flag, set because there is no buddy to read the position from.
      return MAKELONG(w->position, 1);
    case UDM_GETPOS32:
      if (lparam) *reinterpret_cast<BOOL*>(lparam) = FALSE;
      return w->position;
    case UDM_GETBUDDY:
      return 0;
    case WM_GETDLGCODE:
      return (w->style & UDS_ARROWKEYS) ? DLGC_WANTARROWS : 0;
    case WM_ENABLE:
      screen_changed();
      return 0;
    default:
      return 0;
  }
}

void updown_input(Window* w, const Input& input) {
  UINT scroll = updown_scroll(w);
  switch (input.kind) {
    case InputKind::updown_press:
      update([&] { w->dragging = true; });
      updown_step(w, input.value != 0);
      break;
    case InputKind::updown_release:
      if (!w->dragging) return;
      update([&] { w->dragging = false; });
      scroll_parent(w, scroll, SB_ENDSCROLL, w->position);
      notify_header(w, NM_RELEASEDCAPTURE);
      break;
    case InputKind::key_down:
      updown_step(w, input.vk == VK_UP || input.vk == VK_RIGHT);
      break;
    case InputKind::key_up:
      scroll_parent(w, scroll, SB_ENDSCROLL, w->position);
      break;
    default:
      break;
  }
}

bool updown_wants_key(const Window* w, int vk) {
  if (!(w->style & UDS_ARROWKEYS)) return false;
  return (w->style & UDS_HORZ) ? vk == VK_LEFT || vk == VK_RIGHT : vk == VK_UP || vk == VK_DOWN;
}
