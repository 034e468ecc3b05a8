// The progress bar of the Linux COMCTL32 layer (msctls_progress32): its range, position and step. The
// common controls' classes are always registered.
#include "platform/win32/user32_internal.h"

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
