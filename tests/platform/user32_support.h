// Support for the USER32/COMCTL32 layer's tests: dialog templates built in memory as a resource compiler
// lays them out, and a small dialog procedure that records what the dialog receives. The dialogs run on
// the headless driver's UI thread.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hosts/headless/headless.h"
#include "platform/win32/user32_ext.h"

// A DLGTEMPLATE with its items, in the byte layout of a compiled resource.
class TemplateBuilder {
 public:
  TemplateBuilder(DWORD style, short cx, short cy, const char* title) {
    dword(style);
    dword(0);
    for (WORD w : {WORD(0), WORD(0), WORD(0), WORD(cx), WORD(cy), WORD(0), WORD(0)})
      word(w);  // item count (patched by each item), x, y, cx, cy, no menu, the standard class
    string(title);
    if (style & DS_SETFONT) {
      word(8);
      string("Ms Shell Dlg 2");
    }
  }

  // An item whose class is a predefined ordinal (0x80 button, 0x81 edit, 0x82 static, 0x85 combo box)
  // or, with class_ordinal 0, given by name.
  TemplateBuilder& item(WORD class_ordinal, int id, DWORD style, short x, short y, short cx, short cy,
                        const char* title = "", const char* class_name = nullptr) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    dword(style);
    dword(0);
    for (WORD w : {WORD(x), WORD(y), WORD(cx), WORD(cy), WORD(id)}) word(w);
    bytes_[8]++;
    if (class_name) {
      string(class_name);
    } else {
      word(0xFFFF);
      word(class_ordinal);
    }
    string(title);
    word(0);
    return *this;
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

 private:
  void word(WORD w) {
    bytes_.push_back(BYTE(w));
    bytes_.push_back(BYTE(w >> 8));
  }
  void dword(DWORD d) {
    word(WORD(d));
    word(WORD(d >> 16));
  }
  void string(const char* s) {
    for (; *s; ++s) word(static_cast<unsigned char>(*s));
    word(0);
  }
  std::vector<BYTE> bytes_;
};

// Ids of the test dialog, shaped like the program's main dialog.
enum TestId {
  ID_COMBO = 1010,
  ID_BUTTON = 1006,
  ID_PROGRESS = 1007,
  ID_TEXT = 1003,
  ID_CHECK = 1004,
  ID_CHECK_DISABLED = 1011,
  ID_EDIT = 1017,
  ID_SLIDER = 1000,
  ID_SPIN = 1022,
  ID_HELP = 1008,
};

// The test dialog: every control class the program uses, with its styles.
inline TemplateBuilder test_dialog_template() {
  constexpr DWORD child = WS_CHILD | WS_VISIBLE;
  TemplateBuilder t(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 210, 340,
                    " Test dialog");
  t.item(0x85, ID_COMBO, child | WS_VSCROLL | CBS_DROPDOWN | CBS_HASSTRINGS, 40, 49, 133, 90)
      .item(0x80, ID_BUTTON, child | WS_TABSTOP | BS_PUSHBUTTON, 40, 81, 133, 12, "Update firmware")
      .item(0, ID_PROGRESS, child, 40, 114, 133, 7, "", "MSCTLS_PROGRESS32")
      .item(0x82, ID_TEXT, child | SS_CENTER, 56, 98, 108, 8)
      .item(0x80, ID_CHECK, child | BS_AUTOCHECKBOX, 40, 135, 100, 8, "Blank leading zero")
      .item(0x80, ID_CHECK_DISABLED, child | WS_DISABLED | BS_AUTOCHECKBOX, 40, 147, 101, 8, "Blank frames")
      .item(0x81, ID_EDIT, child | WS_BORDER | ES_CENTER | ES_NOHIDESEL | ES_NUMBER, 80, 265, 21, 14)
      .item(0, ID_SLIDER, child | WS_TABSTOP | TBS_HORZ | TBS_BOTH | TBS_NOTICKS, 40, 310, 125, 15, "",
            "msctls_trackbar32")
      .item(0, ID_SPIN, child | WS_TABSTOP | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 45, 265, 11, 14, "",
            "Msctls_UpDown32")
      .item(0x80, -1, child | BS_GROUPBOX, 40, 300, 133, 29, "Brightness")
      .item(0x80, ID_HELP, child | WS_TABSTOP | BS_PUSHBUTTON, 180, 81, 15, 12, "?");
  return t;
}

// What the dialog procedure received, one line per message of interest, e.g. "COMMAND 1004 0 check=1".
struct Recorder {
  std::mutex lock;
  std::vector<std::string> all;
  void add(std::string line) {
    std::lock_guard<std::mutex> guard(lock);
    all.push_back(std::move(line));
  }
  // The lines after the first `mark`.
  std::vector<std::string> since(size_t mark = 0) {
    std::lock_guard<std::mutex> guard(lock);
    return std::vector<std::string>(all.begin() + std::min(mark, all.size()), all.end());
  }
  size_t count() { return since().size(); }
};

inline Recorder recorder;
inline std::atomic<HWND> test_dialog{nullptr};
inline std::thread::id test_ui_thread_id;  // written at WM_INITDIALOG, read after headless_wait_dialog
// Called on the UI thread for each message before it is recorded; returns true when it handled it.
inline std::function<bool(HWND, UINT, WPARAM, LPARAM)> test_hook;

inline std::string describe(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return "INIT";
    case WM_CLOSE:
      return "CLOSE";
    case WM_DESTROY:
      return "DESTROY";
    case WM_TIMER:
      return "TIMER " + std::to_string(wparam);
    case WM_COMMAND: {
      int id = LOWORD(wparam);
      int code = HIWORD(wparam);
      std::string line = "COMMAND " + std::to_string(id) + " " + std::to_string(code);
      HWND control = reinterpret_cast<HWND>(lparam);
      if (id == ID_CHECK) line += " check=" + std::to_string(SendMessageA(control, BM_GETCHECK, 0, 0));
      if (id == ID_COMBO) {
        char text[64] = "";
        GetWindowTextA(control, text, sizeof text);
        line += " sel=" + std::to_string(SendMessageA(control, CB_GETCURSEL, 0, 0)) + " text=" + text +
                " dropped=" + std::to_string(SendMessageA(control, CB_GETDROPPEDSTATE, 0, 0));
      }
      if (id == ID_EDIT) {
        char text[16] = "";
        GetDlgItemTextA(dialog, ID_EDIT, text, sizeof text);
        line += std::string(" text=") + text;
      }
      return line;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lparam);
      std::string line =
          "NOTIFY " + std::to_string(header->idFrom) + " " + std::to_string(static_cast<int>(header->code));
      if (header->code == NM_CUSTOMDRAW)
        line += " pos=" + std::to_string(SendMessageA(header->hwndFrom, TBM_GETPOS, 0, 0));
      return line;
    }
    case WM_HSCROLL:
      return "HSCROLL " + std::to_string(LOWORD(wparam)) + " " +
             std::to_string(static_cast<SHORT>(HIWORD(wparam))) +
             " from=" + std::to_string(GetDlgCtrlID(reinterpret_cast<HWND>(lparam)));
    default:
      if (message >= WM_APP) return "APP " + std::to_string(message - WM_APP) + " " + std::to_string(wparam);
      return "";
  }
}

inline INT_PTR CALLBACK recording_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    test_dialog = dialog;
    test_ui_thread_id = std::this_thread::get_id();
  }
  bool handled = test_hook && test_hook(dialog, message, wparam, lparam);
  std::string line = describe(dialog, message, wparam, lparam);
  if (!line.empty()) recorder.add(line);
  if (message == WM_INITDIALOG) return TRUE;
  return handled || message == WM_COMMAND || message == WM_NOTIFY || message >= WM_APP ? TRUE : FALSE;
}

inline const DLGTEMPLATE* entry_template = nullptr;

inline int WINAPI template_entry(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return int(DialogBoxIndirectParamA(instance, entry_template, nullptr, recording_proc, 0));
}

// Starts the test dialog on the headless UI thread and waits until it has shown and painted.
inline void start_dialog(const TemplateBuilder& t) {
  static TemplateBuilder kept = t;
  kept = t;
  entry_template = kept.get();
  user32_set_drawn(true);
  ASSERT_EQ(headless_start(template_entry), 0);
  ASSERT_TRUE(headless_wait_dialog());
}

// Records only the lines that start with `prefix`.
inline std::vector<std::string> only(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& line : lines)
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}
