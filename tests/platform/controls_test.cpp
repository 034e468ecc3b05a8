// The controls of the USER32/COMCTL32 layer and the notifications they send, driven as a person would.
#include "user32_support.h"

namespace {

LRESULT send_to(int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  return SendDlgItemMessageA(headless_dialog(), id, message, wparam, lparam);
}

// The number of lines so far, once the UI thread has finished reacting (its paints included).
size_t mark_now() {
  EXPECT_TRUE(headless_wait_idle());
  return recorder.count();
}

std::vector<std::string> after(size_t mark) {
  EXPECT_TRUE(headless_wait_idle());
  return recorder.since(mark);
}

using Lines = std::vector<std::string>;

// The test dialog with its combo box filled afresh whenever its list drops down, as the program fills the
// port list.
void start_with_list_filled_on_dropdown() {
  test_hook = [](HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wparam) == ID_COMBO && HIWORD(wparam) == CBN_DROPDOWN) {
      SendDlgItemMessageA(dialog, ID_COMBO, CB_RESETCONTENT, 0, 0);
      for (const char* name : {"Port A", "Port B", "Port C"})
        SendDlgItemMessageA(dialog, ID_COMBO, CB_INSERTSTRING, WPARAM(-1), reinterpret_cast<LPARAM>(name));
    }
    return false;
  };
  start_dialog(test_dialog_template());
}

}  // namespace

TEST(ComboBox, ListActionsNotifyInThePlatformOrder) {
  start_with_list_filled_on_dropdown();

  size_t mark = mark_now();
  EXPECT_EQ(headless_combo_choose(ID_COMBO, 0), USER32_REFUSED);  // the list is closed
  EXPECT_EQ(headless_combo_open(ID_COMBO), USER32_OK);
  EXPECT_TRUE(headless_combo_dropped(ID_COMBO));
  EXPECT_EQ(headless_combo_items(ID_COMBO), (Lines{"Port A", "Port B", "Port C"}));
  EXPECT_EQ(headless_combo_choose(ID_COMBO, 1), USER32_OK);
  EXPECT_EQ(after(mark),
            (Lines{"COMMAND 1010 3 sel=-1 text= dropped=0",  // CBN_SETFOCUS from the click
                   "COMMAND 1010 7 sel=-1 text= dropped=0",  // CBN_DROPDOWN before the list shows
                   "COMMAND 1010 9 sel=1 text=Port B dropped=1", "COMMAND 1010 8 sel=1 text=Port B dropped=0",
                   "COMMAND 1010 1 sel=1 text=Port B dropped=0"}));
  EXPECT_EQ(headless_text(ID_COMBO), "Port B");

  mark = mark_now();
  headless_combo_open(ID_COMBO);
  headless_combo_cancel(ID_COMBO);
  // (Lines are recorded after the handler, which has refilled the list.)
  EXPECT_EQ(after(mark),
            (Lines{"COMMAND 1010 7 sel=-1 text= dropped=0", "COMMAND 1010 10 sel=-1 text= dropped=1",
                   "COMMAND 1010 8 sel=-1 text= dropped=0"}));
}

// The keys and typing in a box whose list was opened (and so filled) and closed without a choice.
TEST(ComboBox, KeysAndTypingNotifyInThePlatformOrder) {
  start_with_list_filled_on_dropdown();
  headless_combo_open(ID_COMBO);
  headless_combo_cancel(ID_COMBO);

  // Arrow keys in the closed box: CBN_SELCHANGE only, and nothing at the end of the list.
  size_t mark = mark_now();
  headless_key(VK_DOWN);
  headless_key(VK_DOWN);
  headless_key(VK_UP);
  headless_key(VK_UP);
  headless_key(VK_UP);
  EXPECT_EQ(after(mark),
            (Lines{"COMMAND 1010 1 sel=0 text=Port A dropped=0", "COMMAND 1010 1 sel=1 text=Port B dropped=0",
                   "COMMAND 1010 1 sel=0 text=Port A dropped=0"}));

  // Typing into the edit field: CBN_EDITUPDATE, then CBN_EDITCHANGE.
  mark = mark_now();
  headless_type("x");
  Lines typed = only(after(mark), "COMMAND");
  ASSERT_EQ(typed.size(), 2u);
  EXPECT_EQ(typed[0].substr(0, 15), "COMMAND 1010 6 ");
  EXPECT_EQ(typed[1].substr(0, 15), "COMMAND 1010 5 ");
  EXPECT_EQ(headless_text(ID_COMBO), "Port Ax");

  // Enter with the list open closes it; the dialog gets no IDOK.
  mark = mark_now();
  headless_combo_open(ID_COMBO);
  headless_key(VK_DOWN);
  headless_key(VK_RETURN);
  Lines codes;
  for (const auto& line : after(mark)) codes.push_back(line.substr(0, 15));
  EXPECT_EQ(codes, (Lines{"COMMAND 1010 7 ", "COMMAND 1010 1 ", "COMMAND 1010 9 ", "COMMAND 1010 8 "}));
}

TEST(Trackbar, RepaintsNotifyAndPersonMovesScroll) {
  start_dialog(test_dialog_template());
  EXPECT_EQ(only(recorder.since(), "NOTIFY"), (Lines{"NOTIFY 1000 -12 pos=0"}));  // shown once
  EXPECT_EQ(send_to(ID_SLIDER, TBM_GETRANGEMAX), 100);
  EXPECT_EQ(send_to(ID_SLIDER, TBM_GETPAGESIZE), 20);
  EXPECT_EQ(send_to(ID_SLIDER, TBM_GETLINESIZE), 1);

  size_t mark = mark_now();
  send_to(ID_SLIDER, TBM_SETPOS, TRUE, 30);
  EXPECT_EQ(after(mark), (Lines{"NOTIFY 1000 -12 pos=30"}));
  mark = mark_now();
  send_to(ID_SLIDER, TBM_SETPOS, TRUE, 30);
  send_to(ID_SLIDER, TBM_SETPOS, TRUE, 500);
  EXPECT_EQ(after(mark), (Lines{"NOTIFY 1000 -12 pos=100"}));
  mark = mark_now();
  send_to(ID_SLIDER, TBM_SETRANGE, TRUE, MAKELPARAM(0, 15));
  EXPECT_EQ(after(mark), (Lines{"NOTIFY 1000 -12 pos=15"}));
  EXPECT_EQ(send_to(ID_SLIDER, TBM_GETPAGESIZE), 3);
  send_to(ID_SLIDER, TBM_SETPOS, TRUE, 9);

  // Enabled state changes repaint, and a disabled slider still paints.
  HWND slider = GetDlgItem(headless_dialog(), ID_SLIDER);
  mark = mark_now();
  EnableWindow(slider, FALSE);
  EXPECT_EQ(after(mark), (Lines{"NOTIFY 1000 -12 pos=9"}));
  mark = mark_now();
  send_to(ID_SLIDER, TBM_SETPOS, TRUE, 8);
  EXPECT_EQ(after(mark), (Lines{"NOTIFY 1000 -12 pos=8"}));
  EXPECT_EQ(headless_slider_drag(ID_SLIDER, 3), USER32_REFUSED);
  EnableWindow(slider, TRUE);

  mark = mark_now();
  EXPECT_EQ(headless_slider_drag(ID_SLIDER, 12), USER32_OK);
  EXPECT_EQ(after(mark), (Lines{"HSCROLL 5 12 from=1000", "HSCROLL 4 12 from=1000", "HSCROLL 8 0 from=1000",
                                "NOTIFY 1000 -16", "NOTIFY 1000 -12 pos=12"}));
  EXPECT_EQ(headless_focus_id(), ID_SLIDER);

  mark = mark_now();
  headless_key(VK_RIGHT);
  headless_key(VK_END);
  headless_key(VK_END);  // at the end: nothing moves, only the key's release is reported
  headless_key(VK_PRIOR);
  headless_key(VK_HOME);
  EXPECT_EQ(after(mark), (Lines{"HSCROLL 1 0 from=1000", "HSCROLL 8 0 from=1000", "NOTIFY 1000 -12 pos=13",
                                "HSCROLL 7 0 from=1000", "HSCROLL 8 0 from=1000", "NOTIFY 1000 -12 pos=15",
                                "HSCROLL 8 0 from=1000", "HSCROLL 2 0 from=1000", "HSCROLL 8 0 from=1000",
                                "NOTIFY 1000 -12 pos=12", "HSCROLL 6 0 from=1000", "HSCROLL 8 0 from=1000",
                                "NOTIFY 1000 -12 pos=0"}));
}

// Paint, and with it NM_CUSTOMDRAW, comes only while the host draws the windows; what waits comes once it
// does.
TEST(Trackbar, IsPaintedOnlyWhereTheHostDrawsIt) {
  start_dialog(test_dialog_template());
  user32_set_drawn(false);
  size_t mark = mark_now();
  send_to(ID_SLIDER, TBM_SETPOS, TRUE, 30);
  EXPECT_EQ(after(mark), Lines{});
  user32_set_drawn(true);
  EXPECT_EQ(after(mark), (Lines{"NOTIFY 1000 -12 pos=30"}));
}
