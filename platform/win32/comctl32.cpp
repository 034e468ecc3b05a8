// COMCTL32 for the Linux layer: the progress bar, the trackbar and the up-down control. The classes are
// always registered. Each control keeps its range and position and notifies its dialog as the platform's
// controls do.
#include <algorithm>

#include "platform/win32/user32_internal.h"

namespace {

int clamp_between(int value, int a, int b) { return std::clamp(value, std::min(a, b), std::max(a, b)); }

void scroll_parent(Window* w, UINT message, int code, int position) {
  SendMessageA(w->parent, message, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(w->hwnd));
}

UINT trackbar_scroll(const Window* w) { return (w->style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL; }

// The page size follows the range: a fifth of it, at least 1.
void trackbar_range(Window* w, int minimum, int maximum) {
  update([&] {
    w->minimum = minimum;
    w->maximum = maximum;
    w->page = std::max(1, (maximum - minimum) / 5);
    w->position = clamp_between(w->position, minimum, maximum);
  });
}

void trackbar_move(Window* w, int position) {
  update([&] { w->position = position; });
  invalidate(w);
}

bool trackbar_key(int vk) {
  switch (vk) {
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_HOME:
    case VK_END:
      return true;
    default:
      return false;
  }
}

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

// Progress bar.

void progress_create(Window* w) {
  w->minimum = 0;
  w->maximum = 100;
  w->position = 0;
  w->step = 10;
}

LRESULT progress_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam) {
  int previous = w->position;
  auto set_position = [&](int position) {
    position = clamp_between(position, w->minimum, w->maximum);
    if (position != w->position) update([&] { w->position = position; });
    return LRESULT(previous);
  };
  switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
      LRESULT old_range = MAKELONG(w->minimum, w->maximum);
      int minimum = message == PBM_SETRANGE ? LOWORD(lparam) : int(wparam);
      int maximum = message == PBM_SETRANGE ? HIWORD(lparam) : int(lparam);
      update([&] {
        w->minimum = minimum;
        w->maximum = maximum;
        w->position = clamp_between(w->position, minimum, maximum);
      });
      return old_range;
    }
    case PBM_GETRANGE:
      return wparam ? w->minimum : w->maximum;
    case PBM_SETPOS:
      return set_position(int(wparam));
    case PBM_DELTAPOS:
      return set_position(w->position + int(wparam));
    case PBM_GETPOS:
      return w->position;
    case PBM_SETSTEP: {
      int old_step = w->step;
      update([&] { w->step = int(wparam); });
      return old_step;
    }
    case PBM_STEPIT: {
      // Past the maximum the bar starts over from the minimum.
      int next = w->position + w->step;
      if (next > w->maximum && w->maximum > w->minimum)
        next = w->minimum + (next - w->minimum) % (w->maximum - w->minimum);
      return set_position(next);
    }
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

// Trackbar. Every change of position, range, enabled state or focus invalidates it; when its thread
// paints it, the dialog gets WM_NOTIFY with NM_CUSTOMDRAW.

void trackbar_create(Window* w) {
  w->minimum = 0;
  w->maximum = 100;
  w->position = 0;
  w->line = 1;
  w->page = 20;
  w->needs_paint = true;  // painted when the dialog first shows
}

LRESULT trackbar_proc(Window* w, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case TBM_GETPOS:
      return w->position;
    case TBM_GETRANGEMIN:
      return w->minimum;
    case TBM_GETRANGEMAX:
      return w->maximum;
    case TBM_GETPAGESIZE:
      return w->page;
    case TBM_GETLINESIZE:
      return w->line;
    case TBM_SETPOS: {
      // Clamped into the range; no WM_HSCROLL and no notification of its own, only the repaint.
      int position = clamp_between(int(lparam), w->minimum, w->maximum);
      if (position != w->position) {
        update([&] { w->position = position; });
        if (wparam) invalidate(w);
      }
      return 0;
    }
    case TBM_SETRANGE:
      trackbar_range(w, SHORT(LOWORD(lparam)), SHORT(HIWORD(lparam)));
      if (wparam) invalidate(w);
      return 0;
    case TBM_SETRANGEMIN:
    case TBM_SETRANGEMAX:
      trackbar_range(w, message == TBM_SETRANGEMIN ? int(lparam) : w->minimum,
                     message == TBM_SETRANGEMAX ? int(lparam) : w->maximum);
      if (wparam) invalidate(w);
      return 0;
    case TBM_SETPAGESIZE:
    case TBM_SETLINESIZE: {
      int& size = message == TBM_SETPAGESIZE ? w->page : w->line;
      int previous = size;
      update([&] { size = int(lparam); });
      return previous;
    }
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_ENABLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      invalidate(w);
      return 0;
    default:
      return 0;
  }
}

void trackbar_paint(Window* w) {
  Window* d = dialog_of(w);
  NMCUSTOMDRAW draw{};
  draw.hdr.code = NM_CUSTOMDRAW;
  draw.dwDrawStage = CDDS_PREPAINT;
  draw.rc = {0, 0, w->cx * BASE_UNIT_X / 4, w->cy * BASE_UNIT_Y / 8};
  draw.uItemState = (is_enabled(w) ? 0 : CDIS_DISABLED) | (d && d->focus == w->hwnd ? CDIS_FOCUS : 0);
  send_notify(w, &draw.hdr);
}

void trackbar_input(Window* w, const Input& input) {
  UINT scroll = trackbar_scroll(w);
  switch (input.kind) {
    case InputKind::key_down: {
      int target;
      int code;
      switch (input.vk) {
        case VK_LEFT:
        case VK_UP:
          target = w->position - w->line;
          code = TB_LINEUP;
          break;
        case VK_RIGHT:
        case VK_DOWN:
          target = w->position + w->line;
          code = TB_LINEDOWN;
          break;
        case VK_PRIOR:
          target = w->position - w->page;
          code = TB_PAGEUP;
          break;
        case VK_NEXT:
          target = w->position + w->page;
          code = TB_PAGEDOWN;
          break;
        case VK_HOME:
          target = w->minimum;
          code = TB_TOP;
          break;
        case VK_END:
          target = w->maximum;
          code = TB_BOTTOM;
          break;
        default:
          return;
      }
      target = clamp_between(target, w->minimum, w->maximum);
      if (target == w->position) return;  // at the end of the range the key moves nothing and reports nothing
      trackbar_move(w, target);
      scroll_parent(w, scroll, code, 0);
      break;
    }
    case InputKind::key_up:
      if (trackbar_key(input.vk)) scroll_parent(w, scroll, TB_ENDTRACK, 0);
      break;
    case InputKind::drag_press:
      update([&] { w->dragging = true; });
      break;
    case InputKind::drag_move: {
      int target = clamp_between(input.value, w->minimum, w->maximum);
      if (!w->dragging || target == w->position) return;
      trackbar_move(w, target);
      scroll_parent(w, scroll, TB_THUMBTRACK, target);
      break;
    }
    case InputKind::drag_release:
      if (!w->dragging) return;
      update([&] { w->dragging = false; });
      scroll_parent(w, scroll, TB_THUMBPOSITION, w->position);
      scroll_parent(w, scroll, TB_ENDTRACK, 0);
      notify_header(w, NM_RELEASEDCAPTURE);
      break;
    default:
      break;
  }
}

bool trackbar_wants_key(const Window*, int vk) { return trackbar_key(vk); }

// Up-down control, always without a buddy here.

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
