// The terminal side of the front end: ncurses paints the grid that tui_draw makes and reads keys and mouse
// clicks. Only the front end's own thread touches the terminal.
#include <fcntl.h>
#include <langinfo.h>
#include <ncurses.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "hosts/tui/frontend_tui.h"
#include "hosts/tui/terminal_restore.h"
#include "platform/midi/sim/midi_sim.h"
#include "platform/win32/winmm_ext.h"

namespace {

// The loop sleeps until a key comes or the dialog changes; it also wakes this often to notice a resized
// terminal (ncurses learns of it from a signal that may reach another thread) and the end.
constexpr int WAKE_MS = 250;
// After a frame the next waits this long unless a key comes: an upload changes the progress bar thousands
// of times, which no eye follows.
constexpr int FRAME_MS = 20;
// The time code line is looked at this often: about every second frame, which is more than a person reads.
constexpr int TIMECODE_MS = 80;

SCREEN* terminal = nullptr;
int saved_stderr = -1;

// Nearest entry of the 256-colour palette: the 6x6x6 cube or the grey ramp.
int colour_256(uint32_t rgb) {
  const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  auto level = [](int v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; };
  const int levels[6] = {0, 95, 135, 175, 215, 255};
  const int lr = level(r), lg = level(g), lb = level(b);
  const int cube_distance = (r - levels[lr]) * (r - levels[lr]) + (g - levels[lg]) * (g - levels[lg]) +
                            (b - levels[lb]) * (b - levels[lb]);
  const int grey_value = (r + g + b) / 3;
  const int grey_index = grey_value < 8 ? 0 : grey_value > 238 ? 23 : (grey_value - 3) / 10;
  const int grey = 8 + 10 * grey_index;
  const int grey_distance = (r - grey) * (r - grey) + (g - grey) * (g - grey) + (b - grey) * (b - grey);
  return grey_distance < cube_distance ? 232 + grey_index : 16 + 36 * lr + 6 * lg + lb;
}

// Nearest of the eight basic colours, as xterm shows them.
int colour_8(uint32_t rgb) {
  static const int basic[8][3] = {{0, 0, 0},   {205, 0, 0},   {0, 205, 0},   {205, 205, 0},
                                  {0, 0, 238}, {205, 0, 205}, {0, 205, 205}, {229, 229, 229}};
  const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  int best = 0, best_distance = 1 << 30;
  for (int i = 0; i < 8; ++i) {
    const int d = (r - basic[i][0]) * (r - basic[i][0]) + (g - basic[i][1]) * (g - basic[i][1]) +
                  (b - basic[i][2]) * (b - basic[i][2]);
    if (d < best_distance) {
      best_distance = d;
      best = i;
    }
  }
  return best;
}

int terminal_colour(uint32_t rgb) {
  if (rgb == TUI_DEFAULT) return -1;
  return COLORS >= 256 ? colour_256(rgb) : colour_8(rgb);
}

void paint(const TuiScreen& screen, bool colours) {
  for (int r = 0; r < screen.grid.rows && r < LINES; ++r) {
    for (int c = 0; c < screen.grid.cols && c < COLS; ++c) {
      const TuiCell& cell = screen.grid.cells[static_cast<size_t>(r * screen.grid.cols + c)];
      attr_t attrs = A_NORMAL;
      if (cell.attr & TUI_DIM) attrs |= A_DIM;
      if (cell.attr & TUI_REVERSE) attrs |= A_REVERSE;
      if (cell.attr & TUI_BOLD) attrs |= A_BOLD;
      if (cell.attr & TUI_UNDERLINE) attrs |= A_UNDERLINE;
      int pair = 0;
      if (colours && (cell.fg != TUI_DEFAULT || cell.bg != TUI_DEFAULT)) {
        pair = alloc_pair(terminal_colour(cell.fg), terminal_colour(cell.bg));
        if (pair < 0) pair = 0;
      }
      attr_set(attrs, 0, &pair);
      mvaddstr(r, c, cell.glyph.c_str());
    }
  }
  attr_set(A_NORMAL, 0, nullptr);
  if (screen.cursor_row >= 0) {
    curs_set(1);
    move(screen.cursor_row, screen.cursor_col);
  } else {
    curs_set(0);
  }
  refresh();
}

// Keys that ncurses reports as one code each; Ctrl+Q (17) and Ctrl+C (3) quit.
struct KeyName {
  int ch;
  TuiKey key;
};
const KeyName KEY_NAMES[] = {
    {'\t', {TUI_KEY_TAB}},        {KEY_BTAB, {TUI_KEY_TAB, true}}, {'\r', {TUI_KEY_ENTER}},
    {'\n', {TUI_KEY_ENTER}},      {KEY_ENTER, {TUI_KEY_ENTER}},    {KEY_BACKSPACE, {TUI_KEY_BACKSPACE}},
    {127, {TUI_KEY_BACKSPACE}},   {8, {TUI_KEY_BACKSPACE}},        {KEY_DC, {TUI_KEY_DELETE}},
    {KEY_UP, {TUI_KEY_UP}},       {KEY_DOWN, {TUI_KEY_DOWN}},      {KEY_LEFT, {TUI_KEY_LEFT}},
    {KEY_RIGHT, {TUI_KEY_RIGHT}}, {KEY_PPAGE, {TUI_KEY_PAGE_UP}},  {KEY_NPAGE, {TUI_KEY_PAGE_DOWN}},
    {KEY_HOME, {TUI_KEY_HOME}},   {KEY_END, {TUI_KEY_END}},        {17, {TUI_KEY_QUIT}},
    {3, {TUI_KEY_QUIT}},
};

// Codes that the terminal sends for Alt+Down and Alt+Up (0 where it has none).
struct AltArrows {
  int down = 0;
  int up = 0;
};

// One key from ncurses; false when it is no key of ours.
bool read_key(int ch, const AltArrows& alt, TuiKey& key) {
  key = TuiKey{0};
  for (const KeyName& name : KEY_NAMES)
    if (name.ch == ch) {
      key = name.key;
      return true;
    }
  if (ch >= KEY_F(1) && ch <= KEY_F(12)) {
    key.code = tui_key_f(ch - KEY_F(0));
    return true;
  }
  if (alt.down > 0 && ch == alt.down) {
    key = TuiKey{TUI_KEY_DOWN, false, true};
    return true;
  }
  if (alt.up > 0 && ch == alt.up) {
    key = TuiKey{TUI_KEY_UP, false, true};
    return true;
  }
  if (ch == 27) {
    // Escape alone, or Alt+key sent as Escape and the key.
    const int next = getch();
    if (next == ERR) {
      key.code = TUI_KEY_ESCAPE;
      return true;
    }
    if (!read_key(next, alt, key)) return false;
    key.alt = true;
    return true;
  }
  if (ch >= 0x20 && ch < 0x7F) {
    key.code = ch;
    return true;
  }
  return false;
}

// Messages of the MIDI libraries on stderr would scribble over the screen: while the front end owns the
// terminal, stderr goes nowhere.
int silence_stderr() {
  if (!isatty(STDERR_FILENO)) return -1;
  const int saved = dup(STDERR_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDERR_FILENO);
    close(null);
  }
  return saved;
}

void restore_stderr(int saved) {
  if (saved < 0) return;
  dup2(saved, STDERR_FILENO);
  close(saved);
}

bool same_screen(const TuiScreen& a, const TuiScreen& b) {
  if (a.grid.rows != b.grid.rows || a.grid.cols != b.grid.cols || a.cursor_row != b.cursor_row ||
      a.cursor_col != b.cursor_col)
    return false;
  for (size_t i = 0; i < a.grid.cells.size(); ++i) {
    const TuiCell &x = a.grid.cells[i], &y = b.grid.cells[i];
    if (x.glyph != y.glyph || x.fg != y.fg || x.bg != y.bg || x.attr != y.attr) return false;
  }
  return true;
}

const User32Control* picture_control(const User32Dialog& dialog) {
  for (const User32Control& c : dialog.controls)
    if (c.bitmap_id != 0) return &c;
  return nullptr;
}

// Raw keys without echo, the keypad, the mouse's left button, colours where the terminal has them; what
// the view draws with follows from the terminal.
TuiView set_up_terminal(const std::string& midi_problem) {
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  nodelay(stdscr, TRUE);
  mousemask(BUTTON1_PRESSED, nullptr);
  mouseinterval(0);
  TuiView view;
  if (has_colors()) {
    start_color();
    use_default_colors();
  }
  view.colours = has_colors() && COLORS >= 8;
  view.unicode = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  // By name: the host may have wrapped the back-end (the time code reader's tap).
  view.sim_keys = std::strcmp(winmm_backend()->name, midi_backend_sim()->name) == 0;
  view.midi_problem = midi_problem;
  return view;
}

void release_terminal() {
  endwin();
  terminal_restore_disarm();
  delscreen(terminal);
  terminal = nullptr;
  restore_stderr(saved_stderr);
  saved_stderr = -1;
}

// A watcher turns changes of the dialog into a byte on a pipe, so that one poll waits for both.
struct Watcher {
  int wake[2] = {-1, -1};
  std::atomic<bool> watching{true};
  std::thread thread;
};

void start_watcher(Watcher& w) {
  if (pipe2(w.wake, O_NONBLOCK | O_CLOEXEC) != 0) w.wake[0] = w.wake[1] = -1;
  w.thread = std::thread([&w] {
    uint64_t seen = user32_change_count();
    while (w.watching.load()) {
      const uint64_t now = user32_wait_change(seen, 1000);
      if (now == seen) continue;
      seen = now;
      if (w.wake[1] >= 0 && write(w.wake[1], "", 1) < 0) {
        // The pipe is full: the front end has a wake-up waiting already.
      }
    }
  });
}

void stop_watcher(Watcher& w) {
  w.watching.store(false);
  user32_wake_watchers();
  w.thread.join();
  for (int fd : w.wake)
    if (fd >= 0) close(fd);
}

// Sleeps until a key comes, the watcher wakes it or `ms` pass.
void wait_for_wake(const Watcher& w, int ms) {
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {w.wake[0], POLLIN, 0}};
  poll(fds, w.wake[0] >= 0 ? 2 : 1, ms);
  char drained[64];
  while (w.wake[0] >= 0 && read(w.wake[0], drained, sizeof drained) > 0) {
  }
}

// What the last frame showed.
struct Shown {
  TuiPicture picture;
  int picture_id = 0;
  TuiScreen screen;
  bool open = false;
  User32Dialog dialog;
  std::vector<User32MessageBox> boxes;
  uint64_t seen = 0;  // the change counter when it was drawn
  bool dirty = true;  // a key, a click or a resize came since
};

// Draws a frame when the counter moved or input came. The counter also moves whenever the program's
// thread goes idle (its timers): a dialog, boxes and terminal like the last frame's are not drawn again.
void redraw(Shown& shown, TuiView& view) {
  const uint64_t count = user32_change_count();
  if (count == shown.seen && !shown.dirty) return;
  shown.seen = count;
  User32Dialog dialog;
  const bool open = user32_read_dialog(dialog) && dialog.visible;
  std::vector<User32MessageBox> boxes = user32_open_boxes();
  const bool update_mode = view.sim_keys && tui_sim_update_mode();
  const bool same = !shown.dirty && open == shown.open && (!open || dialog == shown.dialog) &&
                    boxes == shown.boxes && update_mode == view.sim_update_mode &&
                    LINES == shown.screen.grid.rows && COLS == shown.screen.grid.cols;
  shown.dirty = false;
  if (same) return;
  if (open) {
    const User32Control* pic = picture_control(dialog);
    if (pic && pic->bitmap_id != shown.picture_id) {
      shown.picture_id = pic->bitmap_id;
      tui_load_picture(nullptr, shown.picture_id, shown.picture);
    }
  }
  view.sim_update_mode = update_mode;
  TuiScreen next = tui_draw(open ? &dialog : nullptr, boxes, shown.picture, view, LINES, COLS);
  if (!same_screen(next, shown.screen)) paint(next, view.colours);
  shown.screen = std::move(next);
  shown.open = open;
  shown.dialog = std::move(dialog);
  shown.boxes = std::move(boxes);
  // The next frame waits FRAME_MS unless a key comes.
  pollfd keys = {STDIN_FILENO, POLLIN, 0};
  poll(&keys, 1, FRAME_MS);
}

// The time code line as it is now, painted alone over its place in the last frame (where a message box
// lies over it, the next frame shows it).
void keep_timecode_current(const Shown& shown, TuiView& view, std::string (*timecode_line)()) {
  if (timecode_line == nullptr) return;
  std::string line = timecode_line();
  if (line == view.timecode) return;
  view.timecode = std::move(line);
  const TuiScreen& screen = shown.screen;
  if (screen.timecode_row < 0 || screen.timecode_row >= LINES) return;
  const int width = std::min(screen.timecode_cols, COLS - screen.timecode_col);
  if (width <= 0) return;
  std::string text = view.timecode.substr(0, static_cast<size_t>(width));
  text.resize(static_cast<size_t>(width), ' ');
  attr_set(A_NORMAL, 0, nullptr);
  mvaddstr(screen.timecode_row, screen.timecode_col, text.c_str());
  if (screen.cursor_row >= 0) move(screen.cursor_row, screen.cursor_col);
  refresh();
}

// A key or a click of the person, on the last frame drawn.
void take_input(int ch, const AltArrows& alt, const TuiScreen& screen, TuiView& view) {
  if (ch == KEY_RESIZE) return;
  if (ch == KEY_MOUSE) {
    MEVENT event;
    if (getmouse(&event) == OK && (event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)))
      tui_click(screen, event.y, event.x);
    return;
  }
  TuiKey key;
  if (read_key(ch, alt, key)) tui_key(view, screen, key);
}

}  // namespace

bool tui_open_terminal(std::string& error) {
  // Without a terminal to read keys from, nobody could ever close the dialog.
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    error = "the terminal front end needs a terminal (standard input and output)";
    return false;
  }
  saved_stderr = silence_stderr();
  // The shell's modes, before newterm changes them.
  struct termios shell_modes;
  const bool have_modes = tcgetattr(STDOUT_FILENO, &shell_modes) == 0;
  terminal = newterm(nullptr, stdout, stdin);
  if (!terminal) {
    restore_stderr(saved_stderr);
    saved_stderr = -1;
    const char* term = std::getenv("TERM");
    error = std::string("the terminal front end needs a terminal that ncurses knows (TERM=") +
            (term ? term : "") + ")";
    return false;
  }
  terminal_restore_arm(STDOUT_FILENO, have_modes ? &shell_modes : nullptr);
  return true;
}

void tui_run(const std::atomic<bool>& stop, const std::atomic<bool>& hangup, const std::string& midi_problem,
             std::string (*timecode_line)()) {
  TuiView view = set_up_terminal(midi_problem);
  const AltArrows alt{key_defined("\033[1;3B"), key_defined("\033[1;3A")};
  Watcher watcher;
  start_watcher(watcher);
  Shown shown;
  // The first frame already has the line's row, so that the layout leaves room for it.
  if (timecode_line) view.timecode = timecode_line();
  while (!stop.load()) {
    if (hangup.load()) {
      // The terminal may be gone: draw nothing more, and close the dialog (answering its boxes) until it is
      // closed, also one that is not open yet or refuses for a while.
      User32Dialog dialog;
      if (user32_read_dialog(dialog)) tui_close(200);
      user32_wait_change(user32_change_count(), WAKE_MS);
      continue;
    }
    redraw(shown, view);
    keep_timecode_current(shown, view, timecode_line);
    const int ch = getch();
    if (ch == ERR) {
      wait_for_wake(watcher, timecode_line ? TIMECODE_MS : WAKE_MS);
      continue;
    }
    shown.dirty = true;
    take_input(ch, alt, shown.screen, view);
  }
  stop_watcher(watcher);
  release_terminal();
}
