// The controls of the USER32/COMCTL32 layer and the notifications they send, driven as a person would.
#include "user32_test_support.h"

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

}  // namespace

TEST(Buttons, ClickTogglesBeforeNotifyingAndSetCheckIsSilent) {
  start_dialog(test_dialog_template());
  size_t mark = mark_now();
  EXPECT_EQ(headless_click(ID_CHECK), USER32_OK);
  EXPECT_EQ(headless_click(ID_CHECK), USER32_OK);
  EXPECT_EQ(after(mark), (Lines{"COMMAND 1004 0 check=1", "COMMAND 1004 0 check=0"}));
  EXPECT_EQ(headless_focus_id(), ID_CHECK);

  // Space released on the focused box clicks it too.
  mark = mark_now();
  headless_key(VK_SPACE);
  EXPECT_EQ(after(mark), (Lines{"COMMAND 1004 0 check=1"}));

  mark = mark_now();
  send_to(ID_CHECK, BM_SETCHECK, BST_UNCHECKED);
  EXPECT_EQ(send_to(ID_CHECK, BM_GETCHECK), BST_UNCHECKED);
  send_to(ID_CHECK, BM_SETCHECK, BST_INDETERMINATE);  // a two-state box stops at ticked
  EXPECT_EQ(send_to(ID_CHECK, BM_GETCHECK), BST_CHECKED);
  send_to(ID_THREE_STATE, BM_SETCHECK, BST_INDETERMINATE);
  EXPECT_EQ(send_to(ID_THREE_STATE, BM_GETCHECK), BST_INDETERMINATE);
  EXPECT_EQ(send_to(ID_BUTTON, BM_GETCHECK), BST_UNCHECKED);
  EXPECT_EQ(after(mark), Lines{});
  headless_click(ID_THREE_STATE);
  EXPECT_EQ(after(mark), (Lines{"COMMAND 1030 0 check=0"}));

  // Disabled controls and group boxes take no clicks; push buttons report theirs.
  mark = mark_now();
  EXPECT_EQ(headless_click(ID_CHECK_DISABLED), USER32_REFUSED);
  EXPECT_EQ(headless_click(-1), USER32_OK);
  EXPECT_EQ(headless_click(ID_BUTTON), USER32_OK);
  EXPECT_EQ(after(mark), (Lines{"COMMAND 1006 0"}));
  EXPECT_EQ(headless_checked(ID_CHECK_DISABLED), BST_UNCHECKED);
  EXPECT_EQ(headless_focus_id(), ID_BUTTON);

  // Disabling the focused control takes the focus away.
  EXPECT_FALSE(EnableWindow(GetDlgItem(headless_dialog(), ID_BUTTON), FALSE));
  EXPECT_EQ(headless_focus_id(), 0);
  EXPECT_TRUE(EnableWindow(GetDlgItem(headless_dialog(), ID_BUTTON), TRUE));
  EXPECT_EQ(headless_click(ID_BUTTON), USER32_OK);
}

TEST(ComboBox, ListActionsNotifyInThePlatformOrder) {
  test_hook = [](HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wparam) == ID_COMBO && HIWORD(wparam) == CBN_DROPDOWN) {
      SendDlgItemMessageA(dialog, ID_COMBO, CB_RESETCONTENT, 0, 0);
      for (const char* name : {"Port A", "Port B", "Port C"})
        SendDlgItemMessageA(dialog, ID_COMBO, CB_INSERTSTRING, WPARAM(-1), reinterpret_cast<LPARAM>(name));
    }
    return false;
  };
  start_dialog(test_dialog_template());

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

  // Arrow keys in the closed box: CBN_SELCHANGE only, and nothing at the end of the list.
  mark = mark_now();
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

  // The list as the program handles it (the program's own tests fill and read it).
  mark = mark_now();
  EXPECT_EQ(send_to(ID_COMBO, CB_INSERTSTRING, 9, reinterpret_cast<LPARAM>("Far")), CB_ERR);
  EXPECT_EQ(send_to(ID_COMBO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Aaa")), 3);  // no sorting
  EXPECT_EQ(send_to(ID_COMBO, CB_SETCURSEL, 1), 1);
  EXPECT_EQ(headless_text(ID_COMBO), "Port B");
  EXPECT_EQ(send_to(ID_COMBO, CB_SETCURSEL, 7), CB_ERR);
  EXPECT_EQ(send_to(ID_COMBO, CB_GETCURSEL), CB_ERR);
  EXPECT_EQ(send_to(ID_COMBO, CB_RESETCONTENT), CB_OKAY);
  EXPECT_EQ(send_to(ID_COMBO, CB_GETCOUNT), 0);
  EXPECT_EQ(headless_text(ID_COMBO), "");
  EXPECT_EQ(after(mark), Lines{});  // the program's own changes notify nothing
}

TEST(EditBox, NumbersOnlyWidthLimitPasteAndFocus) {
  start_dialog(test_dialog_template());
  size_t mark = mark_now();
  headless_click(ID_EDIT);
  headless_type("1a2");
  EXPECT_EQ(after(mark),
            (Lines{"COMMAND 1017 256 text=", "COMMAND 1017 1024 text=1", "COMMAND 1017 768 text=1",
                   "COMMAND 1017 1024 text=12", "COMMAND 1017 768 text=12"}));

  // The box is 21 units wide: four digits fit, a fifth typed one is refused with EN_MAXTEXT.
  mark = mark_now();
  headless_type("345");
  EXPECT_EQ(only(after(mark), "COMMAND 1017 1281"), (Lines{"COMMAND 1017 1281 text=1234"}));
  EXPECT_EQ(headless_text(ID_EDIT), "1234");

  // Pasting is not filtered by ES_NUMBER; what does not fit is cut, with EN_MAXTEXT.
  SetDlgItemTextA(headless_dialog(), ID_EDIT, "");
  mark = mark_now();
  headless_paste(ID_EDIT, "4x");
  EXPECT_EQ(headless_text(ID_EDIT), "4x");
  headless_paste(ID_EDIT, "56789");
  EXPECT_EQ(after(mark),
            (Lines{"COMMAND 1017 1024 text=4x", "COMMAND 1017 768 text=4x", "COMMAND 1017 1281 text=4x56",
                   "COMMAND 1017 1024 text=4x56", "COMMAND 1017 768 text=4x56"}));

  // Backspace, then the focus leaves: EN_KILLFOCUS before the button's click.
  mark = mark_now();
  headless_type("\b");
  headless_click(ID_BUTTON);
  EXPECT_EQ(only(after(mark), "COMMAND"), (Lines{"COMMAND 1017 1024 text=4x5", "COMMAND 1017 768 text=4x5",
                                                 "COMMAND 1017 512 text=4x5", "COMMAND 1006 0"}));

  // Disabling the focused box takes its focus: EN_KILLFOCUS; a disabled box takes no typing.
  headless_click(ID_EDIT);
  mark = mark_now();
  EnableWindow(GetDlgItem(headless_dialog(), ID_EDIT), FALSE);
  EXPECT_EQ(after(mark), (Lines{"COMMAND 1017 512 text=4x5"}));
  EXPECT_EQ(headless_focus_id(), 0);
  EXPECT_EQ(headless_type_to(ID_EDIT, "7"), USER32_REFUSED);
  EXPECT_EQ(headless_text(ID_EDIT), "4x5");
}

TEST(ProgressBar, ClampsAndAnswersThePreviousPosition) {
  start_dialog(test_dialog_template());
  EXPECT_EQ(headless_range_min(ID_PROGRESS), 0);
  EXPECT_EQ(headless_range_max(ID_PROGRESS), 100);
  EXPECT_EQ(send_to(ID_PROGRESS, PBM_SETPOS, 40), 0);
  EXPECT_EQ(send_to(ID_PROGRESS, PBM_SETPOS, 150), 40);
  EXPECT_EQ(send_to(ID_PROGRESS, PBM_GETPOS), 100);
  EXPECT_EQ(send_to(ID_PROGRESS, PBM_SETPOS, WPARAM(-5)), 100);
  EXPECT_EQ(headless_position(ID_PROGRESS), 0);
  EXPECT_EQ(send_to(ID_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 50)), MAKELONG(0, 100));
  EXPECT_EQ(send_to(ID_PROGRESS, PBM_SETPOS, 99), 0);
  EXPECT_EQ(headless_position(ID_PROGRESS), 50);
}

TEST(Trackbar, RepaintsNotifyAndPersonMovesScroll) {
  start_dialog(test_dialog_template());
  EXPECT_EQ(only(recorder.lines(), "NOTIFY"), (Lines{"NOTIFY 1000 -12 pos=0"}));  // shown once
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

TEST(UpDown, ArrowClicksNotifyStepAndScroll) {
  start_dialog(test_dialog_template());
  EXPECT_EQ(send_to(ID_SPIN, UDM_GETRANGE), MAKELONG(0, 100));
  LRESULT position = send_to(ID_SPIN, UDM_GETPOS);
  EXPECT_EQ(LOWORD(position), 0);
  EXPECT_NE(HIWORD(position), 0);  // no buddy

  // With the default range (minimum 100 above maximum 0) the up arrow goes down.
  EXPECT_EQ(send_to(ID_SPIN, UDM_SETPOS, 0, 50), 0);
  size_t mark = mark_now();
  EXPECT_EQ(headless_spin(ID_SPIN, true), USER32_OK);
  EXPECT_EQ(after(mark), (Lines{"NOTIFY 1022 -722 pos=50 delta=-1", "VSCROLL 4 49 from=1022",
                                "VSCROLL 8 49 from=1022", "NOTIFY 1022 -16"}));

  send_to(ID_SPIN, UDM_SETRANGE, 0, MAKELPARAM(126, 0));
  EXPECT_EQ(send_to(ID_SPIN, UDM_SETPOS, 0, 300), 49);
  EXPECT_EQ(headless_position(ID_SPIN), 126);
  EXPECT_EQ(send_to(ID_SPIN, UDM_SETPOS, 0, 41), 126);
  mark = mark_now();
  headless_spin(ID_SPIN, true);
  EXPECT_EQ(after(mark), (Lines{"NOTIFY 1022 -722 pos=41 delta=1", "VSCROLL 4 42 from=1022",
                                "VSCROLL 8 42 from=1022", "NOTIFY 1022 -16"}));
  EXPECT_EQ(headless_focus_id(), ID_BUTTON);  // without a buddy a click leaves the focus where it is

  // At the end of the range the position stays, and the scroll message still comes.
  send_to(ID_SPIN, UDM_SETPOS, 0, 126);
  mark = mark_now();
  headless_spin(ID_SPIN, true);
  send_to(ID_SPIN, UDM_SETPOS, 0, 0);
  headless_spin(ID_SPIN, false);
  EXPECT_EQ(only(after(mark), "VSCROLL 4"), (Lines{"VSCROLL 4 126 from=1022", "VSCROLL 4 0 from=1022"}));

  EnableWindow(GetDlgItem(headless_dialog(), ID_SPIN), FALSE);
  EXPECT_EQ(headless_spin(ID_SPIN, true), USER32_REFUSED);
  EXPECT_EQ(headless_position(ID_SPIN), 0);
}
