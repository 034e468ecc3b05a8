// uiprobe: drives and reads the vexa dialog of another process with window messages, as a person at
// the keyboard and mouse would, one step per call, for the end-to-end tests under Wine (and Windows).
//
//   uiprobe find [ms]                      wait for the dialog " Quorvanex vexa 3.1"; print it, its process
//   uiprobe check <id> key=value...        compare control state now (keys below; key>=number compares
//                                          numbers); exit 1 on a mismatch
//   uiprobe wait <id> key=value... [-t ms] the same, waiting until it holds (default 10000 ms)
//   uiprobe state <id>                     print the control's state
//   uiprobe dump                           print every control's state
//   uiprobe list <id>                      print the combo box's entries, then its selection
//   uiprobe dropdown <id>                  open the combo box's list (returns also when a box comes up)
//   uiprobe pick <id> <entry>              click an entry (its text, or #index) of the open list
//   uiprobe closeup <id>                   close the open list without a choice
//   uiprobe choose <id> <entry>            dropdown and pick
//   uiprobe click <id>                     click a button or check box
//   uiprobe key <name> [id]                press a key on the focused control (or on control id):
//                                          escape enter tab left right up down home end pageup pagedown
//   uiprobe slider-pos <id> <pos>          set the trackbar's position with redraw (TBM_SETPOS)
//   uiprobe spin <id> up|down              press and release the mouse on an arrow of the up-down control
//   uiprobe type <id> <text>               click into an edit box, select all, type, then Tab away
//   uiprobe box [ms]                       wait for a message box of the dialog's process: "title<TAB>text"
//   uiprobe box-ok <title> <text> [ms]     wait for a box, compare title and text exactly, press OK
//   uiprobe no-box [ms]                    exit 1 when a message box shows within ms (default 1000)
//   uiprobe close | alt-f4                 post WM_CLOSE / press Alt+F4 on the dialog
//   uiprobe gone [ms]                      wait until the dialog has gone
//   uiprobe rect                           print the dialog's screen rectangle "x y width height"
//
// State keys: text, enabled, checked, pos, min, max, count (list entries), selection, visible, focus.
// Texts are printed and compared with line feeds, carriage returns, tabs and backslashes written
// \n \r \t \\ , the notation of the program's own message texts.
#include <windows.h>

#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char DIALOG_TITLE[] = " Quorvanex vexa 3.1";
const char DIALOG_CLASS[] = "#32770";
constexpr DWORD POLL_MS = 20;
constexpr DWORD DEFAULT_WAIT_MS = 10000;
// Messages sent to the dialog's controls wait at most this long for the dialog thread.
constexpr UINT SEND_TIMEOUT_MS = 15000;

HWND dialog = nullptr;
DWORD dialog_process = 0;
DWORD dialog_thread = 0;

[[noreturn, gnu::format(printf, 1, 2)]] void fail(const char* format, ...) {
  fprintf(stderr, "uiprobe: ");
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fprintf(stderr, "\n");
  exit(1);
}

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\\')
      out += "\\\\";
    else
      out += c;
  }
  return out;
}

std::string unescape(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '\\' || p[1] == '\0') {
      out += *p;
      continue;
    }
    ++p;
    out += *p == 'n' ? '\n' : *p == 'r' ? '\r' : *p == 't' ? '\t' : *p;
  }
  return out;
}

long to_number(const char* text) { return strtol(text, nullptr, 0); }

DWORD timeout_argument(int argc, char** argv, int index, DWORD fallback) {
  return argc > index ? static_cast<DWORD>(to_number(argv[index])) : fallback;
}

// A message to a window of the dialog's thread, answered by that thread; fails when it hangs. Texts
// travel as UTF-16: Wine 8 hands an ANSI CB_GETLBTEXT across processes unconverted.
LRESULT send_with(bool wide, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  const LRESULT answered =
      wide ? SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, SEND_TIMEOUT_MS, &result)
           : SendMessageTimeoutA(window, message, wparam, lparam, SMTO_NORMAL, SEND_TIMEOUT_MS, &result);
  if (answered == 0) fail("the dialog did not answer message %#x", message);
  return static_cast<LRESULT>(result);
}

LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return send_with(false, window, message, wparam, lparam);
}

std::string narrow(const std::vector<wchar_t>& text) {
  const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length > 0 ? length : 1), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), -1, out.data(), length, nullptr, nullptr);
  out.resize(strlen(out.c_str()));
  return out;
}

void post(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!PostMessageA(window, message, wparam, lparam)) fail("cannot post to the dialog");
}

HWND find_dialog_window() {
  HWND found = FindWindowA(DIALOG_CLASS, DIALOG_TITLE);
  return found != nullptr && IsWindowVisible(found) ? found : nullptr;
}

void attach_dialog(DWORD timeout) {
  const DWORD start = GetTickCount();
  while ((dialog = find_dialog_window()) == nullptr) {
    if (GetTickCount() - start >= timeout) fail("no dialog titled \"%s\"", DIALOG_TITLE);
    Sleep(POLL_MS);
  }
  dialog_thread = GetWindowThreadProcessId(dialog, &dialog_process);
}

HWND control(int id) {
  HWND window = GetDlgItem(dialog, id);
  if (window == nullptr) fail("no control with id %d", id);
  return window;
}

std::string class_of(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

bool class_is(HWND window, const char* name) { return lstrcmpiA(class_of(window).c_str(), name) == 0; }

// The text on screen. Static texts and buttons keep it as their window text, which is read without
// asking the dialog thread, so that it can be read while that thread sleeps (the 2 s after an upload);
// edit and combo boxes hold their own text and are asked for it.
std::string text_of(HWND window) {
  if (class_is(window, "Static") || class_is(window, "Button")) {
    const int size = GetWindowTextLengthW(window) + 2;
    std::vector<wchar_t> text(static_cast<size_t>(size), L'\0');
    GetWindowTextW(window, text.data(), size);
    return narrow(text);
  }
  const LRESULT length = send_with(true, window, WM_GETTEXTLENGTH, 0, 0);
  std::vector<wchar_t> text(static_cast<size_t>(length) + 2, L'\0');
  send_with(true, window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return narrow(text);
}

std::vector<std::string> list_of(HWND combo) {
  std::vector<std::string> entries;
  const LRESULT count = send(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = send_with(true, combo, CB_GETLBTEXTLEN, i, 0);
    std::vector<wchar_t> text(static_cast<size_t>(length > 0 ? length : 0) + 2, L'\0');
    send_with(true, combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    entries.push_back(narrow(text));
  }
  return entries;
}

HWND focused_control() {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(dialog_thread, &info)) return nullptr;
  return info.hwndFocus;
}

// One state value of a control by key; false for a key that the control does not have.
bool state_value(HWND window, const std::string& key, std::string& value) {
  if (key == "text")
    value = text_of(window);
  else if (key == "enabled")
    value = IsWindowEnabled(window) ? "1" : "0";
  else if (key == "visible")
    value = IsWindowVisible(window) ? "1" : "0";
  else if (key == "focus")
    value = focused_control() == window ? "1" : "0";
  else if (key == "checked" && class_is(window, "Button"))
    value = std::to_string(send(window, BM_GETCHECK, 0, 0));
  else if (key == "count" && class_is(window, "ComboBox"))
    value = std::to_string(send(window, CB_GETCOUNT, 0, 0));
  else if (key == "selection" && class_is(window, "ComboBox"))
    value = std::to_string(send(window, CB_GETCURSEL, 0, 0));
  else if (key == "pos" && class_is(window, TRACKBAR_CLASSA))
    value = std::to_string(send(window, TBM_GETPOS, 0, 0));
  else if (key == "min" && class_is(window, TRACKBAR_CLASSA))
    value = std::to_string(send(window, TBM_GETRANGEMIN, 0, 0));
  else if (key == "max" && class_is(window, TRACKBAR_CLASSA))
    value = std::to_string(send(window, TBM_GETRANGEMAX, 0, 0));
  else if (key == "pos" && class_is(window, UPDOWN_CLASSA))
    value = std::to_string(LOWORD(send(window, UDM_GETPOS, 0, 0)));
  else if (key == "min" && class_is(window, UPDOWN_CLASSA))
    value = std::to_string(static_cast<short>(HIWORD(send(window, UDM_GETRANGE, 0, 0))));
  else if (key == "max" && class_is(window, UPDOWN_CLASSA))
    value = std::to_string(static_cast<short>(LOWORD(send(window, UDM_GETRANGE, 0, 0))));
  else if (key == "pos" && class_is(window, PROGRESS_CLASSA))
    value = std::to_string(send(window, PBM_GETPOS, 0, 0));
  else
    return false;
  return true;
}

std::string state_line(HWND window) {
  static const char* const keys[] = {"text", "enabled", "checked",   "pos",  "min",
                                     "max",  "count",   "selection", "focus"};
  std::string line = "id=" + std::to_string(GetDlgCtrlID(window)) + " class=" + class_of(window);
  for (const char* key : keys) {
    std::string value;
    if (state_value(window, key, value)) line += std::string(" ") + key + "=" + escape(value);
  }
  return line;
}

// Compares every key=value; prints the differences when `report` is set.
bool state_matches(HWND window, int count, char** pairs, bool report) {
  bool all = true;
  for (int i = 0; i < count; ++i) {
    const char* equals = strchr(pairs[i], '=');
    if (equals == nullptr) fail("expected key=value or key>=number, got %s", pairs[i]);
    const bool at_least = equals > pairs[i] && equals[-1] == '>';
    const std::string key(pairs[i], static_cast<size_t>(equals - pairs[i] - (at_least ? 1 : 0)));
    const std::string wanted = unescape(equals + 1);
    std::string value;
    if (!state_value(window, key, value)) fail("the control has no state %s", key.c_str());
    const bool holds = at_least ? to_number(value.c_str()) >= to_number(wanted.c_str()) : value == wanted;
    if (!holds) {
      all = false;
      if (report)
        fprintf(stderr, "uiprobe: id %d %s is \"%s\", expected %s\"%s\"\n", GetDlgCtrlID(window), key.c_str(),
                escape(value).c_str(), at_least ? "at least " : "", escape(wanted).c_str());
    }
  }
  return all;
}

// Visible message boxes of the dialog's process: dialog-class top-level windows other than the dialog.
BOOL CALLBACK match_box(HWND window, LPARAM parameter) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (window == dialog || process != dialog_process || !IsWindowVisible(window)) return TRUE;
  if (class_of(window) != DIALOG_CLASS) return TRUE;
  *reinterpret_cast<HWND*>(parameter) = window;
  return FALSE;
}

HWND find_box() {
  HWND found = nullptr;
  EnumWindows(match_box, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The box's message: its static text child that is not the icon.
std::string box_text(HWND box) {
  std::string text;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!class_is(child, "Static")) continue;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    std::string candidate = text_of(child);
    if (candidate.size() > text.size()) text = candidate;
  }
  return text;
}

std::string box_title(HWND box) {
  char title[256] = {};
  GetWindowTextA(box, title, sizeof title);
  return title;
}

HWND wait_for_box(DWORD timeout) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND box = find_box()) return box;
    if (GetTickCount() - start >= timeout) fail("no message box appeared");
    Sleep(POLL_MS);
  }
}

void press_ok(HWND box) {
  HWND ok = GetDlgItem(box, IDOK);
  if (ok == nullptr) fail("the message box has no OK button");
  post(ok, BM_CLICK, 0, 0);
  const DWORD start = GetTickCount();
  while (IsWindow(box) && IsWindowVisible(box)) {
    if (GetTickCount() - start >= DEFAULT_WAIT_MS) fail("the message box did not close");
    Sleep(POLL_MS);
  }
}

UINT key_code(const char* name) {
  static const struct {
    const char* name;
    UINT code;
  } keys[] = {{"escape", VK_ESCAPE}, {"enter", VK_RETURN}, {"tab", VK_TAB},      {"left", VK_LEFT},
              {"right", VK_RIGHT},   {"up", VK_UP},        {"down", VK_DOWN},    {"home", VK_HOME},
              {"end", VK_END},       {"pageup", VK_PRIOR}, {"pagedown", VK_NEXT}};
  for (const auto& key : keys) {
    if (strcmp(key.name, name) == 0) return key.code;
  }
  fail("unknown key %s", name);
}

// A key press as the keyboard delivers it: posted to the window with the focus, so that the dialog's
// modal loop sees it first (Tab, Enter and Escape are the dialog manager's).
void press_key(HWND window, UINT code) {
  const UINT scan = MapVirtualKeyA(code, MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | static_cast<LPARAM>(scan) << 16;
  const LPARAM up = down | 0xC0000000;
  post(window, WM_KEYDOWN, code, down);
  if (code == VK_RETURN || code == VK_ESCAPE || code == VK_TAB) {
    post(window, WM_CHAR, code == VK_RETURN ? '\r' : code == VK_ESCAPE ? 0x1B : '\t', down);
  }
  post(window, WM_KEYUP, code, up);
}

void mouse_click(HWND window, int x, int y) {
  const LPARAM point = MAKELPARAM(x, y);
  post(window, WM_MOUSEMOVE, 0, point);
  post(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
  post(window, WM_LBUTTONUP, 0, point);
}

// The open list of a combo box: the visible "ComboLBox" pop-up window of the dialog's process.
BOOL CALLBACK match_list(HWND window, LPARAM parameter) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != dialog_process || !IsWindowVisible(window) || !class_is(window, "ComboLBox")) return TRUE;
  *reinterpret_cast<HWND*>(parameter) = window;
  return FALSE;
}

HWND find_list() {
  HWND found = nullptr;
  EnumWindows(match_list, reinterpret_cast<LPARAM>(&found));
  return found;
}

int find_entry(HWND combo, const char* entry) {
  if (entry[0] == '#') return static_cast<int>(to_number(entry + 1));
  const std::vector<std::string> entries = list_of(combo);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == entry) return static_cast<int>(i);
  }
  fail("the list has no entry \"%s\"", entry);
}

// Opens the list as the arrow button does: the dialog gets CBN_DROPDOWN before the list shows. Returns
// when the list is open or a message box of the dialog's process has come up instead.
void open_list(HWND combo) {
  post(combo, CB_SHOWDROPDOWN, TRUE, 0);
  const DWORD start = GetTickCount();
  while (find_list() == nullptr && find_box() == nullptr) {
    if (GetTickCount() - start >= DEFAULT_WAIT_MS) fail("the list did not open");
    Sleep(POLL_MS);
  }
}

// Clicks an entry of the open list: the dialog gets CBN_SELENDOK, CBN_CLOSEUP and CBN_SELCHANGE.
void pick_entry(HWND combo, const char* name) {
  HWND list = find_list();
  if (list == nullptr) fail("the combo box's list is not open");
  const int entry = find_entry(combo, name);
  const LRESULT height = send(combo, CB_GETITEMHEIGHT, 0, 0);
  RECT area;
  GetClientRect(list, &area);
  mouse_click(list, area.right / 2, static_cast<int>(height * entry + height / 2));
}

// What a command group returns for a command that is not one of its own.
constexpr int NOT_THIS_GROUP = -1;

// check, wait, state, dump.
int run_state(const std::string& command, int id, int argc, char** argv) {
  if (command == "check" && argc > 3) return state_matches(control(id), argc - 3, argv + 3, true) ? 0 : 1;
  if (command == "wait" && argc > 3) {
    int pairs = argc - 3;
    DWORD timeout = DEFAULT_WAIT_MS;
    if (pairs >= 2 && strcmp(argv[argc - 2], "-t") == 0) {
      timeout = static_cast<DWORD>(to_number(argv[argc - 1]));
      pairs -= 2;
    }
    const DWORD start = GetTickCount();
    while (!state_matches(control(id), pairs, argv + 3, false)) {
      if (GetTickCount() - start >= timeout) {
        fprintf(stderr, "uiprobe: waited %lu ms\n", static_cast<unsigned long>(timeout));
        state_matches(control(id), pairs, argv + 3, true);
        return 1;
      }
      Sleep(POLL_MS);
    }
    return 0;
  }
  if (command == "state" && argc > 2) {
    printf("%s\n", state_line(control(id)).c_str());
    return 0;
  }
  if (command == "dump") {
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      printf("%s\n", state_line(child).c_str());
    }
    return 0;
  }
  return NOT_THIS_GROUP;
}

// list, dropdown, closeup, pick, choose.
int run_list(const std::string& command, int id, int argc, char** argv) {
  if (command == "list" && argc > 2) {
    for (const std::string& entry : list_of(control(id))) printf("%s\n", escape(entry).c_str());
    printf("selection=%ld\n", static_cast<long>(send(control(id), CB_GETCURSEL, 0, 0)));
    return 0;
  }
  if (command == "dropdown" && argc > 2) {
    open_list(control(id));
    return 0;
  }
  if (command == "closeup" && argc > 2) {
    send(control(id), CB_SHOWDROPDOWN, FALSE, 0);
    return 0;
  }
  if (command == "pick" && argc > 3) {
    pick_entry(control(id), argv[3]);
    return 0;
  }
  if (command == "choose" && argc > 3) {
    HWND combo = control(id);
    open_list(combo);
    if (HWND box = find_box()) fail("a message box came up: %s", escape(box_text(box)).c_str());
    pick_entry(combo, argv[3]);
    return 0;
  }
  return NOT_THIS_GROUP;
}

// click, key, slider-pos, spin, type.
int run_input(const std::string& command, int id, int argc, char** argv) {
  if (command == "click" && argc > 2) {
    post(control(id), BM_CLICK, 0, 0);
    return 0;
  }
  if (command == "key" && argc > 2) {
    HWND target = argc > 3 ? control(static_cast<int>(to_number(argv[3]))) : focused_control();
    press_key(target != nullptr ? target : dialog, key_code(argv[2]));
    return 0;
  }
  if (command == "slider-pos" && argc > 3) {
    send(control(id), TBM_SETPOS, TRUE, to_number(argv[3]));
    return 0;
  }
  if (command == "spin" && argc > 3) {
    HWND spin = control(id);
    RECT area;
    GetClientRect(spin, &area);
    const bool up = strcmp(argv[3], "up") == 0;
    mouse_click(spin, area.right / 2, up ? area.bottom / 4 : area.bottom * 3 / 4);
    return 0;
  }
  if (command == "type" && argc > 3) {
    HWND edit = control(id);
    RECT area;
    GetClientRect(edit, &area);
    mouse_click(edit, area.right / 2, area.bottom / 2);
    post(edit, EM_SETSEL, 0, -1);
    for (const char* c = argv[3]; *c != '\0'; ++c) post(edit, WM_CHAR, static_cast<unsigned char>(*c), 1);
    press_key(edit, VK_TAB);
    return 0;
  }
  return NOT_THIS_GROUP;
}

// box, box-ok, no-box.
int run_box(const std::string& command, int, int argc, char** argv) {
  if (command == "box") {
    HWND box = wait_for_box(timeout_argument(argc, argv, 2, DEFAULT_WAIT_MS));
    printf("%s\t%s\n", escape(box_title(box)).c_str(), escape(box_text(box)).c_str());
    return 0;
  }
  if (command == "box-ok" && argc > 3) {
    HWND box = wait_for_box(timeout_argument(argc, argv, 4, DEFAULT_WAIT_MS));
    const std::string title = box_title(box);
    const std::string text = box_text(box);
    const bool same = title == unescape(argv[2]) && text == unescape(argv[3]);
    if (!same) {
      fprintf(stderr, "uiprobe: message box \"%s\": \"%s\"\n", escape(title).c_str(), escape(text).c_str());
      fprintf(stderr, "uiprobe: expected    \"%s\": \"%s\"\n", argv[2], argv[3]);
    }
    press_ok(box);
    return same ? 0 : 1;
  }
  if (command == "no-box") {
    const DWORD timeout = timeout_argument(argc, argv, 2, 1000);
    const DWORD start = GetTickCount();
    do {
      if (HWND box = find_box()) {
        fprintf(stderr, "uiprobe: message box \"%s\": \"%s\"\n", escape(box_title(box)).c_str(),
                escape(box_text(box)).c_str());
        return 1;
      }
      Sleep(POLL_MS);
    } while (GetTickCount() - start < timeout);
    return 0;
  }
  return NOT_THIS_GROUP;
}

// close, alt-f4, rect.
int run_window(const std::string& command, int, int, char**) {
  if (command == "close") {
    post(dialog, WM_CLOSE, 0, 0);
    return 0;
  }
  if (command == "alt-f4") {
    const UINT scan = MapVirtualKeyA(VK_F4, MAPVK_VK_TO_VSC);
    const LPARAM alt = 1 | static_cast<LPARAM>(scan) << 16 | 1 << 29;  // bit 29: Alt is held
    post(dialog, WM_SYSKEYDOWN, VK_F4, alt);
    post(dialog, WM_SYSKEYUP, VK_F4, alt | 0xC0000000);
    return 0;
  }
  if (command == "rect") {
    RECT area;
    GetWindowRect(dialog, &area);
    printf("%ld %ld %ld %ld\n", area.left, area.top, area.right - area.left, area.bottom - area.top);
    return 0;
  }
  return NOT_THIS_GROUP;
}

int run(int argc, char** argv) {
  const std::string command = argv[1];
  if (command == "find") {
    attach_dialog(timeout_argument(argc, argv, 2, DEFAULT_WAIT_MS));
    printf("dialog %p process %lu\n", static_cast<void*>(dialog), static_cast<unsigned long>(dialog_process));
    return 0;
  }
  if (command == "gone") {
    const DWORD timeout = timeout_argument(argc, argv, 2, DEFAULT_WAIT_MS);
    const DWORD start = GetTickCount();
    while (FindWindowA(DIALOG_CLASS, DIALOG_TITLE) != nullptr) {
      if (GetTickCount() - start >= timeout) fail("the dialog is still there");
      Sleep(POLL_MS);
    }
    return 0;
  }
  attach_dialog(DEFAULT_WAIT_MS);
  const int id = argc > 2 ? static_cast<int>(to_number(argv[2])) : 0;
  for (auto group : {run_state, run_list, run_input, run_box, run_window}) {
    const int result = group(command, id, argc, argv);
    if (result != NOT_THIS_GROUP) return result;
  }
  fail("unknown command or missing arguments: %s", command.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: uiprobe <command> [arguments]; see the head of tests/wine/uiprobe.cpp\n");
    return 2;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);
  _setmode(_fileno(stdout), _O_BINARY);
  return run(argc, argv);
}
