// The USER32 layer: dialogs from templates, the modal loop and its keys, messages between threads,
// retrieval order and timers. Message boxes and the program's own template are left to the program's tests.
#include <condition_variable>

#include "platform/win32/kernel32_ext.h"
#include "user32_support.h"

namespace {

// A handler that holds the UI thread until the test opens the gate, so that the test can fill the queue.
struct Gate {
  std::mutex lock;
  std::condition_variable changed;
  bool open = false;
  void wait() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return open; });
    open = false;
  }
  void release() {
    std::lock_guard<std::mutex> guard(lock);
    open = true;
    changed.notify_all();
  }
};

Gate gate;

bool recorded(const std::string& line) {
  auto lines = recorder.since();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(DialogManager, TemplateBuildsEveryControlWithItsStyles) {
  test_hook = [](HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) EndDialog(dialog, 7);
    return false;
  };
  start_dialog(test_dialog_template());

  User32Dialog d{};
  ASSERT_TRUE(user32_read_dialog(d));
  EXPECT_EQ(d.title, " Test dialog");
  EXPECT_EQ(d.font_face, "Ms Shell Dlg 2");
  EXPECT_EQ(d.point_size, 8);
  EXPECT_EQ(d.cx, 210);
  EXPECT_EQ(d.cy, 340);
  EXPECT_TRUE(d.visible);
  // Each control's class and the kind that hosts draw it as; the test dialog has the program's styles.
  std::vector<std::string> classes;
  for (const auto& c : d.controls) {
    classes.push_back(c.class_name + " " + user32_kind_name(c.kind));
    EXPECT_TRUE(c.style & WS_CHILD) << c.id;
    EXPECT_TRUE(c.visible) << c.id;
  }
  EXPECT_EQ(classes,
            (std::vector<std::string>{"ComboBox combo_box", "Button push_button",
                                      "msctls_progress32 progress_bar", "Static text", "Button check_box",
                                      "Button check_box", "Edit edit", "msctls_trackbar32 trackbar",
                                      "msctls_updown32 up_down", "Button group_box", "Button push_button"}));
  EXPECT_EQ(d.controls[9].id, -1);
  EXPECT_EQ(d.controls[1].text, "Update firmware");
  EXPECT_EQ(d.controls[6].x, 80);
  EXPECT_EQ(d.controls[6].cx, 21);
  EXPECT_TRUE(headless_enabled(ID_CHECK));
  EXPECT_FALSE(headless_enabled(ID_CHECK_DISABLED));
  EXPECT_EQ(headless_focus_id(), ID_BUTTON);  // the first enabled tab stop

  // Unhandled, the close button acts as Cancel, whose handler ends the dialog.
  EXPECT_EQ(headless_close(), USER32_OK);
  EXPECT_EQ(headless_exit_code(), 7);
  auto lines = recorder.since();
  EXPECT_EQ(lines.front(), "INIT");
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"CLOSE", "COMMAND 2 0", "DESTROY"}));
}

// The kind comes from the class and the type bits of the style alone: flags beside the type change
// nothing, and types that share bits with another stay apart.
TEST(DialogManager, KindFollowsTheClassAndTheTypeOfTheStyle) {
  test_hook = [](HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) EndDialog(dialog, 0);
    return false;
  };
  constexpr DWORD OWNER_DRAWN = 0x0B;    // BS_OWNERDRAW: BS_AUTOCHECKBOX's bits and one more
  constexpr DWORD ENHANCED_META = 0x0F;  // SS_ENHMETAFILE: SS_BITMAP's bits and one more
  struct Kind {
    WORD ordinal;  // 0: by name
    const char* name;
    DWORD style;
    const char* kind;
  };
  const Kind kinds[] = {
      {0x80, nullptr, BS_DEFPUSHBUTTON, "push_button"},
      {0x80, nullptr, BS_AUTORADIOBUTTON, "push_button"},
      {0x80, nullptr, OWNER_DRAWN, "push_button"},
      {0x80, nullptr, BS_CHECKBOX | BS_NOTIFY, "check_box"},
      {0x80, nullptr, BS_3STATE, "check_box"},
      {0x80, nullptr, BS_GROUPBOX | WS_TABSTOP, "group_box"},
      {0x82, nullptr, ENHANCED_META, "text"},
      {0x82, nullptr, SS_ICON, "text"},
      {0, "STATIC", SS_BITMAP, "picture"},  // the program's picture
      {0x82, nullptr, SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZEIMAGE, "picture"},
      {0, "MSCTLS_UPDOWN32", UDS_HORZ, "up_down"},
  };
  TemplateBuilder t(WS_POPUP | WS_CAPTION | DS_SETFONT, 100, 100, "Kinds");
  for (const Kind& k : kinds) t.item(k.ordinal, 1, WS_CHILD | WS_VISIBLE | k.style, 0, 0, 10, 10, "", k.name);
  start_dialog(t);

  User32Dialog d{};
  ASSERT_TRUE(user32_read_dialog(d));
  ASSERT_EQ(d.controls.size(), std::size(kinds));
  for (size_t i = 0; i < std::size(kinds); ++i)
    EXPECT_STREQ(user32_kind_name(d.controls[i].kind), kinds[i].kind) << i;
  EXPECT_EQ(headless_close(), USER32_OK);
}

TEST(ModalLoop, KeysCloseAndHandlesAfterTheEnd) {
  test_hook = [](HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wparam) == ID_HELP) EndDialog(dialog, 42);
    return message == WM_CLOSE;  // handled: no Cancel follows
  };
  start_dialog(test_dialog_template());
  HWND dialog = headless_dialog();
  size_t mark = recorder.count();

  headless_key(VK_ESCAPE);
  headless_key(VK_RETURN);                // the focused push button answers Enter
  headless_key_to(ID_SLIDER, VK_RETURN);  // no push button focused, none default: IDOK
  headless_close();
  EXPECT_EQ(only(recorder.since(mark), "C"),
            (std::vector<std::string>{"COMMAND 2 0", "COMMAND 1006 0", "COMMAND 1 0", "CLOSE"}));
  EXPECT_EQ(user32_current_dialog(), dialog);  // WM_CLOSE handled: the dialog stays

  // The focused edit box hears EN_KILLFOCUS when the dialog goes.
  headless_click(ID_EDIT);
  mark = recorder.count();
  HWND edit = GetDlgItem(dialog, ID_EDIT);
  EXPECT_EQ(headless_click(ID_HELP), USER32_OK);
  EXPECT_EQ(headless_exit_code(), 42);
  EXPECT_EQ(recorder.since(mark),
            (std::vector<std::string>{"COMMAND 1017 512 text=", "COMMAND 1008 0", "DESTROY"}));

  // The handles stay harmless: calls on them fail, a late worker is not left waiting.
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_FALSE(IsWindow(edit));
  EXPECT_EQ(GetDlgItem(dialog, ID_EDIT), nullptr);
  std::thread late([&] {
    EXPECT_EQ(SendMessageA(dialog, WM_APP + 1, 0, 0), 0);
    EXPECT_EQ(SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("x")), 0);
    EXPECT_FALSE(PostMessageA(dialog, WM_CLOSE, 0, 0));
    EXPECT_FALSE(EnableWindow(edit, TRUE));
    EXPECT_EQ(SetTimer(dialog, 1, 500, nullptr), 0u);
    EXPECT_EQ(MessageBoxA(dialog, "Programming failed", "Warning", MB_OK), 0);
  });
  late.join();
  EXPECT_EQ(user32_current_dialog(), nullptr);
  EXPECT_EQ(headless_click(ID_BUTTON), USER32_NO_DIALOG);
  EXPECT_TRUE(headless_box_log().empty());
}

TEST(Messages, SentFromAnotherThreadRunOnTheUiThreadWhenItRetrieves) {
  test_hook = [](HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_APP + 1) {
      recorder.add("busy");
      Sleep(100);  // Sleep carries out no sent message
      recorder.add("rested");
    }
    if (message == WM_APP + 2)
      recorder.add(std::string("on ui thread ") +
                   (std::this_thread::get_id() == test_ui_thread_id ? "yes" : "no"));
    return false;
  };
  start_dialog(test_dialog_template());
  HWND dialog = headless_dialog();
  size_t mark = recorder.count();

  // The handler's Sleep begins only once the sent message waits in the queue.
  platform_set_sleep_hook([](DWORD) {
    while (user32_queue(std::this_thread::get_id()).sent == 0) user32_wait_change(user32_change_count(), 5);
  });
  PostMessageA(dialog, WM_APP + 1, 0, 0);
  ASSERT_TRUE(headless_wait_until([] { return recorded("busy"); }));
  std::thread sender([&] {
    SendMessageA(dialog, WM_APP + 2, 5, 0);
    recorder.add("returned");
  });
  sender.join();
  EXPECT_EQ(recorder.since(mark), (std::vector<std::string>{"busy", "rested", "APP 1 0", "on ui thread yes",
                                                            "APP 2 5", "returned"}));

  // Results and buffers cross threads.
  EXPECT_TRUE(SetDlgItemTextA(dialog, ID_TEXT, "hello"));
  EXPECT_EQ(headless_text(ID_TEXT), "hello");
  char buffer[3];
  EXPECT_EQ(GetDlgItemTextA(dialog, ID_TEXT, buffer, sizeof buffer), 2u);
  EXPECT_STREQ(buffer, "he");
  EXPECT_EQ(SendDlgItemMessageA(dialog, ID_TEXT, WM_GETTEXTLENGTH, 0, 0), 5);
}

TEST(Messages, RetrievalOrderSentPostedInputPaintTimer) {
  user32_set_manual_timers(true);
  static std::atomic<bool> kill_after_gate{false};
  test_hook = [](HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) SetTimer(dialog, 1, 500, nullptr);
    if (message == WM_APP + 1) {
      recorder.add("gate");
      gate.wait();
      if (kill_after_gate) KillTimer(dialog, 1);
    }
    if (message == WM_APP + 4) SendDlgItemMessageA(dialog, ID_SLIDER, TBM_SETPOS, TRUE, 30);
    if (message == WM_APP + 5) SetTimer(dialog, 1, 500, nullptr);
    return false;
  };
  start_dialog(test_dialog_template());
  HWND dialog = headless_dialog();
  size_t mark = recorder.count();

  PostMessageA(dialog, WM_APP + 1, 0, 0);
  ASSERT_TRUE(headless_wait_until([] { return recorded("gate"); }));
  user32_advance_timers(500);
  user32_click(ID_CHECK);
  PostMessageA(dialog, WM_APP + 3, 0, 0);
  std::thread sender([&] { SendMessageA(dialog, WM_APP + 4, 0, 0); });
  ASSERT_TRUE(headless_wait_until([] { return user32_queue(test_ui_thread_id).sent == 1; }));
  gate.release();
  sender.join();
  ASSERT_TRUE(headless_wait_idle());
  EXPECT_EQ(recorder.since(mark),
            (std::vector<std::string>{"gate", "APP 1 0", "APP 4 0", "APP 3 0", "COMMAND 1004 0 check=1",
                                      "NOTIFY 1000 -12 pos=30", "TIMER 1"}));

  // A timer that falls due while the thread is busy and is killed before it retrieves delivers nothing.
  kill_after_gate = true;
  mark = recorder.count();
  PostMessageA(dialog, WM_APP + 1, 0, 0);
  ASSERT_TRUE(headless_wait_until([] { return recorded("gate"); }));
  user32_advance_timers(500);
  gate.release();
  ASSERT_TRUE(headless_wait_idle());
  user32_advance_timers(5000);
  ASSERT_TRUE(headless_wait_idle());
  EXPECT_EQ(recorder.since(mark), (std::vector<std::string>{"gate", "APP 1 0"}));

  // SetTimer with an existing id restarts it.
  SendMessageA(dialog, WM_APP + 5, 0, 0);
  user32_advance_timers(300);
  SendMessageA(dialog, WM_APP + 5, 0, 0);
  user32_advance_timers(300);
  ASSERT_TRUE(headless_wait_idle());
  EXPECT_EQ(only(recorder.since(), "TIMER").size(), 1u);
  user32_advance_timers(200);
  ASSERT_TRUE(headless_wait_idle());
  EXPECT_EQ(only(recorder.since(), "TIMER").size(), 2u);
}
