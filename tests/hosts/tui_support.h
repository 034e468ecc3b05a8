// The terminal front end over the real program on the headless driver: the frame that it would show now,
// and a person's keys and clicks on that frame.
#pragma once
#include "hosts/tui/frontend_tui.h"
#include "program_support.h"

class TuiTest : public ProgramTest {
 protected:
  // The frame for a terminal of that size; 60 x 50 shows the dialog whole.
  const TuiScreen& frame(int rows = 50, int cols = 60) {
    size = {rows, cols};
    User32Dialog dialog;
    const bool open = user32_read_dialog(dialog);
    screen = tui_draw(open ? &dialog : nullptr, user32_open_boxes(), picture, view, rows, cols);
    return screen;
  }

  // A key on the frame shown now at the size drawn last, and the dialog's reaction to it.
  int key(int code, bool shift = false) {
    frame(size.first, size.second);
    const int result = tui_key(view, screen, TuiKey{code, shift});
    EXPECT_TRUE(headless_wait_idle());
    return result;
  }

  // A click in the middle of the first zone of that kind and control (and list entry or slider position).
  int click(TuiZoneKind kind, int id, int value = -1) {
    for (const TuiZone& z : frame().zones) {
      if (z.kind != kind || z.id != id || (value >= 0 && z.value != value)) continue;
      const int result = tui_click(screen, z.row + z.rows / 2, z.col + z.cols / 2);
      EXPECT_TRUE(headless_wait_idle());
      return result;
    }
    ADD_FAILURE() << "no zone for control " << id;
    return USER32_NO_CONTROL;
  }

  // The control's zone in the frame drawn last, or, for the spin, its first arrow's.
  const TuiZone* zone_of(int id) const {
    const TuiZone* any = nullptr;
    for (const TuiZone& z : screen.zones) {
      if (z.id == id && z.kind == TuiZoneKind::control) return &z;
      if (z.id == id && !any) any = &z;
    }
    return any;
  }

  char hot_key_of(int id) {
    User32Dialog dialog;
    EXPECT_TRUE(user32_read_dialog(dialog));
    for (const TuiHotKey& k : tui_hot_keys(dialog))
      if (k.target == id) return k.letter;
    ADD_FAILURE() << "no hot key for control " << id;
    return 0;
  }

  TuiView view;
  TuiPicture picture;
  TuiScreen screen;
  std::pair<int, int> size{50, 60};
};
