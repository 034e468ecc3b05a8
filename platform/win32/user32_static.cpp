// STATIC for the Linux USER32 layer: texts and pictures.
#include "platform/win32/user32_internal.h"

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
