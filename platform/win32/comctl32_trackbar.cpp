// The trackbar of the Linux COMCTL32 layer (msctls_trackbar32): its range, position, line and page sizes,
// keys and dragging, with the scroll messages and notifications the platform's control sends. Every
// change of position, range, enabled state or focus invalidates it; when its thread paints it, the dialog
// gets WM_NOTIFY with NM_CUSTOMDRAW.
#include <algorithm>

#include "platform/win32/user32_internal.h"

namespace {

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

// Where a key moves the thumb, and the scroll code it reports; false for no key of the trackbar's.
bool trackbar_key_target(const Window* w, int vk, int& target, int& code) {
  switch (vk) {
    case VK_LEFT:
    case VK_UP:
      target = w->position - w->line;
      code = TB_LINEUP;
      return true;
    case VK_RIGHT:
    case VK_DOWN:
      target = w->position + w->line;
      code = TB_LINEDOWN;
      return true;
    case VK_PRIOR:
      target = w->position - w->page;
      code = TB_PAGEUP;
      return true;
    case VK_NEXT:
      target = w->position + w->page;
      code = TB_PAGEDOWN;
      return true;
    case VK_HOME:
      target = w->minimum;
      code = TB_TOP;
      return true;
    case VK_END:
      target = w->maximum;
      code = TB_BOTTOM;
      return true;
    default:
      return false;
  }
}

}  // namespace

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
      if (!trackbar_key_target(w, input.vk, target, code)) return;
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
