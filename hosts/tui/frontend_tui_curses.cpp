// The terminal side of the front end: ncurses paints the grid that tui_draw makes and reads keys and mouse
// clicks. Only the front end's own thread touches the terminal.
#include <fcntl.h>
#include <langinfo.h>
#include <ncurses.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hosts/tui/frontend_tui.h"
#include "platform/midi/sim/midi_sim.h"
#include "platform/win32/winmm_ext.h"

namespace {

constexpr int POLL_MS = 30;  // how often the loop looks for changes of the dialog when no key comes

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

// One key from ncurses; false when it is no key of ours.
bool read_key(int ch, int alt_down, int alt_up, TuiKey& key) {
  key = TuiKey{0};
  switch (ch) {
    case '\t':
      key.code = TUI_KEY_TAB;
      return true;
    case KEY_BTAB:
      key = TuiKey{TUI_KEY_TAB, true};
      return true;
    case '\r':
    case '\n':
    case KEY_ENTER:
      key.code = TUI_KEY_ENTER;
      return true;
    case KEY_BACKSPACE:
    case 127:
    case 8:
      key.code = TUI_KEY_BACKSPACE;
      return true;
    case KEY_DC:
      key.code = TUI_KEY_DELETE;
      return true;
    case KEY_UP:
      key.code = TUI_KEY_UP;
      return true;
    case KEY_DOWN:
      key.code = TUI_KEY_DOWN;
      return true;
    case KEY_LEFT:
      key.code = TUI_KEY_LEFT;
      return true;
    case KEY_RIGHT:
      key.code = TUI_KEY_RIGHT;
      return true;
    case KEY_PPAGE:
      key.code = TUI_KEY_PAGE_UP;
      return true;
    case KEY_NPAGE:
      key.code = TUI_KEY_PAGE_DOWN;
      return true;
    case KEY_HOME:
      key.code = TUI_KEY_HOME;
      return true;
    case KEY_END:
      key.code = TUI_KEY_END;
      return true;
    case 17:  // Ctrl+Q
    case 3:   // Ctrl+C
      key.code = TUI_KEY_QUIT;
      return true;
    default:
      break;
  }
  if (ch >= KEY_F(1) && ch <= KEY_F(12)) {
    key.code = tui_key_f(ch - KEY_F(0));
    return true;
  }
  if (alt_down > 0 && ch == alt_down) {
    key = TuiKey{TUI_KEY_DOWN, false, true};
    return true;
  }
  if (alt_up > 0 && ch == alt_up) {
    key = TuiKey{TUI_KEY_UP, false, true};
    return true;
  }
  if (ch == 27) {
    // Escape alone, or Alt+key sent as Escape and the key.
    nodelay(stdscr, TRUE);
    const int next = getch();
    timeout(POLL_MS);
    if (next == ERR) {
      key.code = TUI_KEY_ESCAPE;
      return true;
    }
    if (!read_key(next, alt_down, alt_up, key)) return false;
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

const User32Control* picture_control(const User32Dialog& dialog) {
  for (const User32Control& c : dialog.controls)
    if (c.bitmap_id != 0) return &c;
  return nullptr;
}

}  // namespace

void tui_run(const std::atomic<bool>& stop, const std::atomic<bool>& hangup) {
  // Without a terminal to read keys from, nobody could ever close the dialog.
  const bool terminal_io = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
  const int saved_stderr = terminal_io ? silence_stderr() : -1;
  SCREEN* terminal = terminal_io ? newterm(nullptr, stdout, stdin) : nullptr;
  if (!terminal) {
    restore_stderr(saved_stderr);
    const char* term = std::getenv("TERM");
    std::fprintf(stderr, "vexa: the terminal front end needs a terminal (TERM=%s)\n", term ? term : "");
    tui_close(10000);
    return;
  }
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  timeout(POLL_MS);
  mousemask(BUTTON1_PRESSED, nullptr);
  mouseinterval(0);
  TuiView view;
  if (has_colors()) {
    start_color();
    use_default_colors();
  }
  view.colours = has_colors() && COLORS >= 8;
  view.unicode = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  view.sim_keys = winmm_backend() == midi_backend_sim();
  const int alt_down = key_defined("\033[1;3B");
  const int alt_up = key_defined("\033[1;3A");

  TuiPicture picture;
  int picture_id = 0;
  TuiScreen screen;
  uint64_t seen = 0;
  bool dirty = true;
  bool closing = false;
  while (!stop.load()) {
    if (hangup.load()) {
      // The terminal may be gone: draw nothing more and close the dialog once.
      if (!closing) tui_close(10000);
      closing = true;
      user32_wait_change(user32_change_count(), POLL_MS);
      continue;
    }
    const uint64_t count = user32_change_count();
    if (count != seen || dirty) {
      seen = count;
      dirty = false;
      User32Dialog dialog;
      const bool open = user32_read_dialog(dialog) && dialog.visible;
      if (open) {
        const User32Control* pic = picture_control(dialog);
        if (pic && pic->bitmap_id != picture_id) {
          picture_id = pic->bitmap_id;
          tui_load_picture(nullptr, picture_id, picture);
        }
      }
      if (view.sim_keys) view.sim_update_mode = tui_sim_update_mode();
      screen = tui_draw(open ? &dialog : nullptr, user32_open_boxes(), picture, view, LINES, COLS);
      paint(screen, view.colours);
    }
    const int ch = getch();
    if (ch == ERR) continue;
    dirty = true;
    if (ch == KEY_RESIZE) continue;
    if (ch == KEY_MOUSE) {
      MEVENT event;
      if (getmouse(&event) == OK && (event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)))
        tui_click(screen, event.y, event.x);
      continue;
    }
    TuiKey key;
    if (read_key(ch, alt_down, alt_up, key)) tui_key(view, screen, key);
  }
  endwin();
  delscreen(terminal);
  restore_stderr(saved_stderr);
}
