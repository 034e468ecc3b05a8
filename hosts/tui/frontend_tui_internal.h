// Internals shared by the terminal front end's files: layouts (frontend_tui_layout.cpp), the painter of
// the dialog (frontend_tui_paint.cpp), the frame with its help lines and message boxes (frontend_tui.cpp)
// and the input (frontend_tui_input.cpp). Not for the hosts' users.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "hosts/tui/frontend_tui.h"

constexpr int HELP_LINES = 2;

struct Rect {
  int row = 0, col = 0, rows = 0, cols = 0;
};

// Dialog units to cells, rounded to the nearest cell edge.
inline int unit_col(int x) { return (x + 2) / 4; }
inline int unit_row(int y) { return (y + 4) / 8; }

inline Rect control_rect(const User32Control& c, int origin_row, int origin_col) {
  Rect r;
  r.col = unit_col(c.x);
  r.row = unit_row(c.y);
  r.cols = std::max(1, unit_col(c.x + c.cx) - r.col);
  r.rows = std::max(1, unit_row(c.y + c.cy) - r.row);
  r.row += origin_row;
  r.col += origin_col;
  return r;
}

// Glyphs, with plain ASCII stand-ins for terminals without UTF-8.
struct Glyphs {
  const char *h, *v, *tl, *tr, *bl, *br;        // single frame
  const char *dh, *dv, *dtl, *dtr, *dbl, *dbr;  // double frame
  const char *full, *light, *up, *down, *half, *close, *track;
};
inline const Glyphs UNICODE_GLYPHS = {"─", "│", "┌", "┐", "└", "┘", "═", "║", "╔", "╗",
                                      "╚", "╝", "█", "░", "▲", "▼", "▀", "×", "─"};
inline const Glyphs ASCII_GLYPHS = {"-", "|", "+", "+", "+", "+", "=", "|", "+", "+",
                                    "+", "+", "#", ".", "^", "v", " ", "X", "-"};

// The glyph of the character at `at` in program text, which `at` then moves past: ASCII as it is, another
// character (port names come as UTF-8) as itself where the terminal shows it in one cell; control bytes,
// broken sequences and characters of another width as '?', one cell each.
std::string text_glyph(const std::string& s, size_t& at, bool unicode);

class Canvas {
 public:
  Canvas(int rows, int cols, bool unicode) : g_(unicode ? UNICODE_GLYPHS : ASCII_GLYPHS), unicode_(unicode) {
    grid.rows = rows;
    grid.cols = cols;
    grid.cells.assign(static_cast<size_t>(std::max(0, rows * cols)), TuiCell{});
  }

  TuiCell* at(int row, int col) {
    if (row < 0 || col < 0 || row >= grid.rows || col >= grid.cols) return nullptr;
    return &grid.cells[static_cast<size_t>(row * grid.cols + col)];
  }

  void put(int row, int col, const char* glyph, uint8_t attr = 0) {
    if (TuiCell* cell = at(row, col)) *cell = TuiCell{glyph, TUI_DEFAULT, TUI_DEFAULT, attr};
  }

  // Text from the program, one cell per character (text_glyph).
  void text(int row, int col, const std::string& s, int width, uint8_t attr = 0) {
    size_t at = 0;
    for (int i = 0; i < width && at < s.size(); ++i)
      put(row, col + i, text_glyph(s, at, unicode_).c_str(), attr);
  }

  void fill(const Rect& r, const char* glyph) {
    for (int i = 0; i < r.rows; ++i)
      for (int j = 0; j < r.cols; ++j) put(r.row + i, r.col + j, glyph);
  }

  void add_attr(int row, int col, int width, uint8_t attr) {
    for (int j = 0; j < width; ++j)
      if (TuiCell* cell = at(row, col + j)) cell->attr |= attr;
  }

  void frame(const Rect& r, bool heavy, uint8_t attr = 0) {
    const char* h = heavy ? g_.dh : g_.h;
    const char* v = heavy ? g_.dv : g_.v;
    for (int j = 1; j < r.cols - 1; ++j) {
      put(r.row, r.col + j, h, attr);
      put(r.row + r.rows - 1, r.col + j, h, attr);
    }
    for (int i = 1; i < r.rows - 1; ++i) {
      put(r.row + i, r.col, v, attr);
      put(r.row + i, r.col + r.cols - 1, v, attr);
    }
    put(r.row, r.col, heavy ? g_.dtl : g_.tl, attr);
    put(r.row, r.col + r.cols - 1, heavy ? g_.dtr : g_.tr, attr);
    put(r.row + r.rows - 1, r.col, heavy ? g_.dbl : g_.bl, attr);
    put(r.row + r.rows - 1, r.col + r.cols - 1, heavy ? g_.dbr : g_.br, attr);
  }

  const Glyphs& g() const { return g_; }
  TuiGrid grid;

 private:
  const Glyphs& g_;
  bool unicode_;
};

inline int client_cols(const User32Dialog& d) { return unit_col(d.cx); }
inline int client_rows(const User32Dialog& d) { return unit_row(d.cy); }

inline const User32Control* focused_control(const User32Dialog& d) {
  for (const User32Control& c : d.controls)
    if (c.focused || (d.focus_id != 0 && c.id == d.focus_id)) return &c;
  return nullptr;
}

inline const User32Control* dropped_combo(const User32Dialog& d) {
  for (const User32Control& c : d.controls)
    if (c.kind == User32Kind::combo_box && c.dropped && c.visible) return &c;
  return nullptr;
}

inline const User32Control* first_combo(const User32Dialog& d) {
  for (const User32Control& c : d.controls)
    if (c.kind == User32Kind::combo_box && c.visible) return &c;
  return nullptr;
}

inline const User32Control* control_by_id(const User32Dialog& d, int id) {
  for (const User32Control& c : d.controls)
    if (c.id == id) return &c;
  return nullptr;
}

// Where each control goes in one layout: a sheet of cells with the dialog's frame at its edge and the
// controls inside it.
struct Sheet {
  TuiLayout layout = TuiLayout::full;
  int rows = 0, cols = 0;
  std::vector<Rect> rects;     // per control, template order
  std::vector<int> left;       // per control: the first cell of its column
  std::vector<int> right;      // per control: the first cell past its column
  std::vector<int> list_rows;  // per control: its rows with the list open (combo boxes)
};

class TuiPainter;

// What a hot key does to its control, and a click on it.
enum class TuiPress { click, open_list, focus };

// What the front end does with each kind of control (the table is in frontend_tui_paint.cpp).
struct TuiKind {
  User32Kind kind;
  void (TuiPainter::*draw)(const User32Control& c, const Rect& r, int index);
  bool beneath;      // drawn before the others, which lie on it (a group box's frame)
  bool hot_key;      // its caption offers a hot-key letter
  bool focusable;    // a group box's hot key goes to the first of these inside it
  TuiPress press;    // what its hot key does, and a click on it
  bool digits;       // typed digits go to it while it has the focus
  const char* help;  // the second help line while it has the focus; null: the hot-key hint
};
const TuiKind& tui_kind(User32Kind kind);

// The first layout that fits the terminal whole (help lines below it, and `extra_lines` more: the time code
// line); when none does, the split one that scrolls in the least directions.
Sheet choose_sheet(const User32Dialog& d, int rows, int cols, bool& fits, int extra_lines = 0);

// Paints the dialog onto its sheet: returns the sheet's cells, with the zones and the cursor in sheet cells
// in `drawn`.
TuiGrid paint_sheet(const User32Dialog& d, const Sheet& sheet, const TuiPicture& picture, const TuiView& view,
                    TuiScreen& drawn);
