// Terminal front end: the dialog drawn into a grid of cells, and a person's keys and clicks turned into the
// layer's person input. No terminal calls here (see frontend_tui_curses.cpp).
#include "hosts/tui/frontend_tui.h"

#include <commctrl.h>

#include <strings.h>
#include <wchar.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "platform/midi/sim/midi_sim.h"

namespace {

constexpr int HELP_LINES = 2;

struct Rect {
  int row = 0, col = 0, rows = 0, cols = 0;
};

// Dialog units to cells, rounded to the nearest cell edge.
int unit_col(int x) { return (x + 2) / 4; }
int unit_row(int y) { return (y + 4) / 8; }

Rect control_rect(const User32Control& c, int origin_row, int origin_col) {
  Rect r;
  r.col = unit_col(c.x);
  r.row = unit_row(c.y);
  r.cols = std::max(1, unit_col(c.x + c.cx) - r.col);
  r.rows = std::max(1, unit_row(c.y + c.cy) - r.row);
  r.row += origin_row;
  r.col += origin_col;
  return r;
}

bool class_is(const User32Control& c, const char* name) {
  return strcasecmp(c.class_name.c_str(), name) == 0;
}

int button_type(const User32Control& c) { return static_cast<int>(c.style & BS_TYPEMASK); }
bool is_group(const User32Control& c) { return class_is(c, "Button") && button_type(c) == BS_GROUPBOX; }
bool is_check(const User32Control& c) {
  const int type = button_type(c);
  return class_is(c, "Button") &&
         (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE);
}
bool is_picture(const User32Control& c) {
  return class_is(c, "Static") && (c.style & SS_TYPEMASK) == SS_BITMAP;
}
bool takes_focus(const User32Control& c) {
  return class_is(c, "Edit") || class_is(c, "ComboBox") || class_is(c, TRACKBAR_CLASSA) ||
         class_is(c, UPDOWN_CLASSA) || (class_is(c, "Button") && !is_group(c));
}

// Glyphs, with plain ASCII stand-ins for terminals without UTF-8.
struct Glyphs {
  const char *h, *v, *tl, *tr, *bl, *br;        // single frame
  const char *dh, *dv, *dtl, *dtr, *dbl, *dbr;  // double frame
  const char *full, *light, *up, *down, *half, *close, *track;
};
const Glyphs UNICODE_GLYPHS = {"─", "│", "┌", "┐", "└", "┘", "═", "║", "╔", "╗",
                               "╚", "╝", "█", "░", "▲", "▼", "▀", "×", "─"};
const Glyphs ASCII_GLYPHS = {"-", "|", "+", "+", "+", "+", "=", "|", "+", "+",
                             "+", "+", "#", ".", "^", "v", " ", "X", "-"};

// The glyph of the character at `at` in program text, which `at` then moves past: ASCII as it is, another
// character (port names come as UTF-8) as itself where the terminal shows it in one cell; control bytes,
// broken sequences and characters of another width as '?', one cell each.
std::string text_glyph(const std::string& s, size_t& at, bool unicode) {
  const size_t start = at;
  const auto lead = static_cast<unsigned char>(s[at++]);
  if (lead < 0x80) return std::string(1, lead >= 0x20 && lead < 0x7F ? static_cast<char>(lead) : '?');
  const int more = lead >= 0xC2 && lead < 0xE0   ? 1
                   : lead >= 0xE0 && lead < 0xF0 ? 2
                   : lead >= 0xF0 && lead < 0xF5 ? 3
                                                 : 0;
  char32_t code = lead & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    if (at >= s.size() || (static_cast<unsigned char>(s[at]) & 0xC0) != 0x80) return "?";
    code = code << 6 | (static_cast<unsigned char>(s[at++]) & 0x3F);
  }
  const char32_t lowest[] = {0, 0x80, 0x800, 0x10000};
  const bool valid = more > 0 && code >= lowest[more] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
  if (!valid || !unicode || wcwidth(static_cast<wchar_t>(code)) != 1) return "?";
  return s.substr(start, at - start);
}

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

// Greedy word wrap at `width`; line feeds are kept as line ends, long words are cut.
std::vector<std::string> wrap(const std::string& text, int width) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    std::string paragraph = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    do {
      if (static_cast<int>(paragraph.size()) <= width) {
        lines.push_back(paragraph);
        break;
      }
      size_t cut = paragraph.rfind(' ', static_cast<size_t>(width));
      if (cut == std::string::npos || cut == 0) {
        lines.push_back(paragraph.substr(0, static_cast<size_t>(width)));
        paragraph.erase(0, static_cast<size_t>(width));
      } else {
        lines.push_back(paragraph.substr(0, cut));
        paragraph.erase(0, cut + 1);
      }
    } while (!paragraph.empty());
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

int client_cols(const User32Dialog& d) { return unit_col(d.cx); }
int client_rows(const User32Dialog& d) { return unit_row(d.cy); }

const User32Control* focused_control(const User32Dialog& d) {
  for (const User32Control& c : d.controls)
    if (c.focused || (d.focus_id != 0 && c.id == d.focus_id)) return &c;
  return nullptr;
}

const User32Control* dropped_combo(const User32Dialog& d) {
  for (const User32Control& c : d.controls)
    if (class_is(c, "ComboBox") && c.dropped && c.visible) return &c;
  return nullptr;
}

const User32Control* first_combo(const User32Dialog& d) {
  for (const User32Control& c : d.controls)
    if (class_is(c, "ComboBox") && c.visible) return &c;
  return nullptr;
}

const User32Control* control_by_id(const User32Dialog& d, int id) {
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

// The dialog as its template places it.
Sheet full_sheet(const User32Dialog& d) {
  Sheet sheet;
  sheet.rows = client_rows(d) + 2;
  sheet.cols = client_cols(d) + 2;
  for (const User32Control& c : d.controls) {
    sheet.rects.push_back(control_rect(c, 1, 1));
    sheet.left.push_back(1);
    sheet.right.push_back(1 + client_cols(d));
    sheet.list_rows.push_back(sheet.rects.back().rows);
  }
  return sheet;
}

// New positions for 0..used.size() when empty positions go, one at a time from the longest run of them,
// until `limit` remain; leading empty positions all go. map[p] is the number of positions kept before p.
std::vector<int> squeeze(const std::vector<bool>& used, int limit) {
  const int n = static_cast<int>(used.size());
  std::vector<int> keep(static_cast<size_t>(n), 1);  // per position: kept
  int size = n;
  for (int p = 0; p < n && !used[static_cast<size_t>(p)]; ++p) {
    keep[static_cast<size_t>(p)] = 0;
    --size;
  }
  while (size > limit) {
    int best_start = -1, best_length = 0;
    for (int p = 0; p < n;) {
      if (used[static_cast<size_t>(p)] || !keep[static_cast<size_t>(p)]) {
        ++p;
        continue;
      }
      int q = p;
      while (q < n && !used[static_cast<size_t>(q)] && keep[static_cast<size_t>(q)]) ++q;
      if (q - p > best_length) {
        best_start = p;
        best_length = q - p;
      }
      p = q;
    }
    if (best_start < 0) break;
    keep[static_cast<size_t>(best_start)] = 0;
    --size;
  }
  std::vector<int> map(static_cast<size_t>(n) + 1, 0);
  for (int p = 0; p < n; ++p)
    map[static_cast<size_t>(p) + 1] = map[static_cast<size_t>(p)] + keep[static_cast<size_t>(p)];
  return map;
}

// The cells a control covers in the template, for squeezing: a combo box its field only, a check box its
// caption too.
Rect occupied(const User32Control& c) {
  Rect r = control_rect(c, 0, 0);
  if (class_is(c, "ComboBox")) r.rows = 1;
  if (is_check(c)) r.cols = std::max(r.cols, 4 + static_cast<int>(c.text.size()));
  return r;
}

// Moves the controls `members` into a block of at most max_rows x max_cols cells (as far as empty rows and
// columns allow) with its top left corner at (row, col); returns the block's size.
void place_block(const User32Dialog& d, const std::vector<size_t>& members, int max_rows, int max_cols,
                 int row, int col, Sheet& sheet, int& rows, int& cols) {
  int end_row = 0, end_col = 0;
  for (size_t i : members) {
    const Rect r = occupied(d.controls[i]);
    end_row = std::max(end_row, r.row + r.rows);
    end_col = std::max(end_col, r.col + r.cols);
  }
  std::vector<bool> used_rows(static_cast<size_t>(end_row), false),
      used_cols(static_cast<size_t>(end_col), false);
  for (size_t i : members) {
    const Rect r = occupied(d.controls[i]);
    for (int k = r.row; k < r.row + r.rows; ++k) used_rows[static_cast<size_t>(k)] = true;
    for (int k = r.col; k < r.col + r.cols; ++k) used_cols[static_cast<size_t>(k)] = true;
  }
  const std::vector<int> row_map = squeeze(used_rows, max_rows);
  const std::vector<int> col_map = squeeze(used_cols, max_cols);
  rows = row_map.back();
  cols = col_map.back();
  auto at = [](const std::vector<int>& map, int p) {
    return map[static_cast<size_t>(std::clamp(p, 0, static_cast<int>(map.size()) - 1))];
  };
  for (size_t i : members) {
    const Rect full = control_rect(d.controls[i], 0, 0);
    const Rect r = occupied(d.controls[i]);
    Rect& placed = sheet.rects[i];
    placed.row = row + at(row_map, r.row);
    placed.col = col + at(col_map, r.col);
    placed.rows = std::max(1, at(row_map, r.row + r.rows) - at(row_map, r.row));
    placed.cols = std::max(1, at(col_map, full.col + full.cols) - at(col_map, r.col));
    sheet.list_rows[i] = full.rows;
  }
}

// The two halves of the dialog side by side (columns, each squeezed to fit 80 x 24 where it can) or one
// below the other (stacked, without empty rows): the part above the first check box (picture, port list,
// device text, update button, status, progress) and the settings from the first check box down. The frame
// stays wide enough for the caption.
constexpr int COLUMN_ROWS = 20;  // 24 rows less the frame and the help lines
constexpr int COLUMN_COLS = 38;  // two of them, a gap and the frame in 80 columns
constexpr int COLUMN_GAP = 2;

Sheet split_sheet(const User32Dialog& d, TuiLayout layout) {
  int split = client_rows(d) / 2;
  bool found = false;
  for (const User32Control& c : d.controls) {
    if (!is_check(c)) continue;
    split = found ? std::min(split, control_rect(c, 0, 0).row) : control_rect(c, 0, 0).row;
    found = true;
  }
  std::vector<size_t> upper, lower;
  for (size_t i = 0; i < d.controls.size(); ++i)
    (control_rect(d.controls[i], 0, 0).row < split ? upper : lower).push_back(i);
  Sheet sheet;
  sheet.layout = layout;
  sheet.rects.resize(d.controls.size());
  sheet.list_rows.resize(d.controls.size());
  sheet.left.resize(d.controls.size());
  sheet.right.resize(d.controls.size());
  int upper_rows = 0, upper_cols = 0, lower_rows = 0, lower_cols = 0;
  const bool columns = layout == TuiLayout::columns;
  const int max_rows = columns ? COLUMN_ROWS : 0;
  place_block(d, upper, max_rows, COLUMN_COLS, 1, 1, sheet, upper_rows, upper_cols);
  const int lower_row = columns ? 1 : 1 + upper_rows + 1;
  const int lower_col = columns ? 1 + upper_cols + COLUMN_GAP : 1;
  place_block(d, lower, max_rows, COLUMN_COLS, lower_row, lower_col, sheet, lower_rows, lower_cols);
  const int caption_cols = static_cast<int>(d.title.size()) + 9;
  if (columns) {
    sheet.rows = std::max(upper_rows, lower_rows) + 2;
    sheet.cols = std::max(upper_cols + COLUMN_GAP + lower_cols + 2, caption_cols);
  } else {
    sheet.rows = upper_rows + 1 + lower_rows + 2;
    sheet.cols = std::max({upper_cols + 2, lower_cols + 2, caption_cols});
  }
  for (size_t i : upper) {
    sheet.left[i] = 1;
    sheet.right[i] = columns ? 1 + upper_cols : sheet.cols - 1;
  }
  for (size_t i : lower) {
    sheet.left[i] = lower_col;
    sheet.right[i] = sheet.cols - 1;
  }
  return sheet;
}

// Drawing of one frame.
// Drawing of the dialog onto its sheet, zones and cursor in sheet cells.
class Painter {
 public:
  Painter(const User32Dialog& d, const Sheet& sheet, const TuiPicture& picture, const TuiView& view,
          TuiScreen& screen)
      : d_(d),
        sheet_(sheet),
        picture_(picture),
        view_(view),
        screen_(screen),
        canvas_(sheet.rows, sheet.cols, view.unicode),
        keys_(tui_hot_keys(d)) {}

  Canvas& canvas() { return canvas_; }

  void dialog() {
    const Glyphs& g = canvas_.g();
    const Rect outer{0, 0, sheet_.rows, sheet_.cols};
    canvas_.frame(outer, true);
    canvas_.text(outer.row, outer.col + 2, d_.title, outer.cols - 9, TUI_BOLD);
    const int title_end = outer.col + 2 + std::min(static_cast<int>(d_.title.size()), outer.cols - 9);
    canvas_.put(outer.row, title_end, " ");
    const int close_col = outer.col + outer.cols - 5;
    canvas_.put(outer.row, close_col, "[");
    canvas_.put(outer.row, close_col + 1, g.close);
    canvas_.put(outer.row, close_col + 2, "]");
    zone(TuiZoneKind::close_button, 0, 0, Rect{outer.row, close_col, 1, 3});

    for (const User32Control& c : d_.controls)
      if (c.visible && is_group(c)) group(c);
    for (size_t i = 0; i < d_.controls.size(); ++i) {
      const User32Control& c = d_.controls[i];
      if (!c.visible || is_group(c)) continue;
      control(c, static_cast<int>(i));
    }
    if (const User32Control* combo = dropped_combo(d_)) combo_list(*combo);
  }

 private:
  void zone(TuiZoneKind kind, int id, int value, const Rect& r) {
    screen_.zones.push_back(TuiZone{kind, id, value, r.row, r.col, r.rows, r.cols});
  }

  int hot_offset(int index) const {
    for (const TuiHotKey& k : keys_)
      if (k.caption_index == index) return k.offset;
    return -1;
  }

  int index_of(const User32Control& c) const { return static_cast<int>(&c - d_.controls.data()); }

  uint8_t state_attr(const User32Control& c) const { return c.enabled ? 0 : TUI_DIM; }

  void caption(int row, int col, const std::string& text, int width, int hot, uint8_t attr) {
    canvas_.text(row, col, text, width, attr);
    if (hot >= 0 && hot < width) canvas_.add_attr(row, col + hot, 1, TUI_UNDERLINE);
  }

  void control(const User32Control& c, int index) {
    const Rect& r = sheet_.rects[static_cast<size_t>(index)];
    if (class_is(c, "Button")) {
      if (is_check(c))
        check_box(c, r, index);
      else
        push_button(c, r, index);
    } else if (class_is(c, "Static")) {
      if (is_picture(c))
        picture(r);
      else
        static_text(c, r);
    } else if (class_is(c, "Edit")) {
      edit(c, r);
    } else if (class_is(c, "ComboBox")) {
      combo(c, r);
    } else if (class_is(c, PROGRESS_CLASSA)) {
      progress(c, r);
    } else if (class_is(c, TRACKBAR_CLASSA)) {
      trackbar(c, r);
    } else if (class_is(c, UPDOWN_CLASSA)) {
      updown(c, r);
    }
  }

  void group(const User32Control& c) {
    const Rect& r = sheet_.rects[static_cast<size_t>(index_of(c))];
    const uint8_t attr = state_attr(c);
    canvas_.frame(r, false, attr);
    caption(r.row, r.col + 1, c.text, r.cols - 2, hot_offset(index_of(c)),
            static_cast<uint8_t>(attr | TUI_BOLD));
  }

  void check_box(const User32Control& c, const Rect& r, int index) {
    const uint8_t attr = state_attr(c);
    const char* mark = c.check == BST_CHECKED ? "x" : c.check == BST_INDETERMINATE ? "-" : " ";
    canvas_.put(r.row, r.col, "[", attr);
    canvas_.put(r.row, r.col + 1, mark, attr);
    canvas_.put(r.row, r.col + 2, "]", attr);
    // The caption may run past the control's rectangle: the dialog's font is narrower than a cell.
    const int width = std::max(0, std::min(static_cast<int>(c.text.size()), room(index, r.col + 4)));
    caption(r.row, r.col + 4, c.text, width, hot_offset(index), attr);
    if (c.focused) canvas_.add_attr(r.row, r.col + 4, width, TUI_REVERSE);
    zone(TuiZoneKind::control, c.id, 0, Rect{r.row, r.col, 1, std::max(3, 4 + width)});
  }

  void push_button(const User32Control& c, const Rect& r, int index) {
    const uint8_t attr = state_attr(c);
    const bool roomy = static_cast<int>(c.text.size()) + 4 <= r.cols;
    const std::string label = roomy ? "[ " + c.text + " ]" : "[" + c.text + "]";
    const int width = std::min(static_cast<int>(label.size()), r.cols);
    const int col = r.col + (r.cols - width) / 2;
    canvas_.text(r.row, col, label, width, attr);
    const int hot = hot_offset(index) + (roomy ? 2 : 1);
    if (hot > 0 && hot < width) canvas_.add_attr(r.row, col + hot, 1, TUI_UNDERLINE);
    if (c.focused) canvas_.add_attr(r.row, col, width, TUI_REVERSE);
    zone(TuiZoneKind::control, c.id, 0, Rect{r.row, col, 1, width});
  }

  // A text longer than its rectangle spreads out from it as far as its column of the dialog allows.
  void static_text(const User32Control& c, const Rect& r) {
    const size_t index = static_cast<size_t>(index_of(c));
    const int length = static_cast<int>(c.text.size());
    int col = r.col;
    if ((c.style & SS_TYPEMASK) == SS_CENTER)
      col += (r.cols - length) / 2;
    else if ((c.style & SS_TYPEMASK) == SS_RIGHT)
      col += r.cols - length;
    col = std::max(col, sheet_.left[index]);
    canvas_.text(r.row, col, c.text, std::min(length, room(static_cast<int>(index), col)), state_attr(c));
  }

  // Cells from `col` to the right edge of control `index`'s column.
  int room(int index, int col) const { return std::max(0, sheet_.right[static_cast<size_t>(index)] - col); }

  // Two picture rows per cell with UTF-8: the upper half-block in the foreground colour, the lower in the
  // background. Without it, one picture row per cell: a blank in the background colour.
  void picture(const Rect& r) {
    if (!view_.colours || picture_.width <= 0 || picture_.height <= 0) {
      if (r.rows >= 2 && r.cols >= 2) canvas_.frame(r, false);
      return;
    }
    for (int i = 0; i < r.rows; ++i) {
      for (int j = 0; j < r.cols; ++j) {
        TuiCell* cell = canvas_.at(r.row + i, r.col + j);
        if (!cell) continue;
        if (view_.unicode) {
          *cell = TuiCell{canvas_.g().half, average(j, r.cols, 2 * i, 2 * r.rows),
                          average(j, r.cols, 2 * i + 1, 2 * r.rows), 0};
        } else {
          *cell = TuiCell{" ", TUI_DEFAULT, average(j, r.cols, i, r.rows), 0};
        }
      }
    }
  }

  // Mean colour of the pixels under cell column j of n and picture row i of m.
  uint32_t average(int j, int n, int i, int m) const {
    const int x0 = j * picture_.width / n, x1 = std::max(x0 + 1, (j + 1) * picture_.width / n);
    const int y0 = i * picture_.height / m, y1 = std::max(y0 + 1, (i + 1) * picture_.height / m);
    uint64_t sum[3] = {0, 0, 0};
    uint64_t count = 0;
    for (int y = y0; y < y1 && y < picture_.height; ++y) {
      for (int x = x0; x < x1 && x < picture_.width; ++x) {
        const uint32_t p = picture_.pixels[static_cast<size_t>(y * picture_.width + x)];
        sum[0] += (p >> 16) & 0xFF;
        sum[1] += (p >> 8) & 0xFF;
        sum[2] += p & 0xFF;
        ++count;
      }
    }
    if (count == 0) return 0;
    return static_cast<uint32_t>((sum[0] / count) << 16 | (sum[1] / count) << 8 | (sum[2] / count));
  }

  void edit(const User32Control& c, const Rect& r) {
    const uint8_t attr = state_attr(c);
    const int inner = std::max(1, r.cols - 2);
    canvas_.put(r.row, r.col, "[", attr);
    canvas_.put(r.row, r.col + r.cols - 1, "]", attr);
    const std::string shown = static_cast<int>(c.text.size()) > inner
                                  ? c.text.substr(c.text.size() - static_cast<size_t>(inner))
                                  : c.text;
    const int width = static_cast<int>(shown.size());
    int col = r.col + 1;
    if ((c.style & 3) == ES_CENTER)
      col += (inner - width) / 2;
    else if ((c.style & 3) == ES_RIGHT)
      col += inner - width;
    canvas_.text(r.row, col, shown, width, attr);
    if (c.focused) {
      canvas_.add_attr(r.row, r.col + 1, inner, TUI_REVERSE);
      screen_.cursor_row = r.row;
      screen_.cursor_col = std::min(col + width, r.col + r.cols - 1);
    }
    zone(TuiZoneKind::control, c.id, 0, Rect{r.row, r.col, 1, r.cols});
  }

  void combo(const User32Control& c, const Rect& r) {
    const uint8_t attr = state_attr(c);
    const int inner = std::max(1, r.cols - 3);
    canvas_.put(r.row, r.col, "[", attr);
    canvas_.text(r.row, r.col + 1, c.text, inner, attr);
    canvas_.put(r.row, r.col + r.cols - 2, canvas_.g().down, attr);
    canvas_.put(r.row, r.col + r.cols - 1, "]", attr);
    if (c.focused) canvas_.add_attr(r.row, r.col + 1, inner, TUI_REVERSE);
    zone(TuiZoneKind::control, c.id, 0, Rect{r.row, r.col, 1, r.cols});
  }

  // The open list below the field, over whatever lies there; the height of the control with its list open
  // limits the entries shown at once.
  void combo_list(const User32Control& c) {
    const size_t index = static_cast<size_t>(index_of(c));
    const Rect& field = sheet_.rects[index];
    const int count = static_cast<int>(c.items.size());
    const int room_below = sheet_.rows - 1 - field.row - 2;
    const int visible = std::max(1, std::min({std::max(count, 1), sheet_.list_rows[index] - 2, room_below}));
    int top = 0;
    if (c.selection >= visible) top = c.selection - visible + 1;
    const Rect box{field.row + 1, field.col, visible + 1, field.cols};
    for (int i = 0; i < box.rows; ++i)
      for (int j = 0; j < box.cols; ++j) canvas_.put(box.row + i, box.col + j, " ");
    const Glyphs& g = canvas_.g();
    for (int i = 0; i < visible; ++i) {
      canvas_.put(box.row + i, box.col, g.v);
      canvas_.put(box.row + i, box.col + box.cols - 1, g.v);
      const int item = top + i;
      if (item >= count) continue;
      canvas_.text(box.row + i, box.col + 1, c.items[static_cast<size_t>(item)], box.cols - 2);
      if (item == c.selection) canvas_.add_attr(box.row + i, box.col + 1, box.cols - 2, TUI_REVERSE);
      zone(TuiZoneKind::list_item, c.id, item, Rect{box.row + i, box.col + 1, 1, box.cols - 2});
    }
    const int bottom = box.row + visible;
    canvas_.put(bottom, box.col, g.bl);
    for (int j = 1; j < box.cols - 1; ++j) canvas_.put(bottom, box.col + j, g.h);
    canvas_.put(bottom, box.col + box.cols - 1, g.br);
    if (top > 0) canvas_.put(box.row, box.col + box.cols - 1, g.up);
    if (top + visible < count) canvas_.put(bottom - 1, box.col + box.cols - 1, g.down);
  }

  void progress(const User32Control& c, const Rect& r) {
    const int span = c.maximum - c.minimum;
    const int done = span <= 0 ? 0 : std::clamp((c.position - c.minimum) * r.cols / span, 0, r.cols);
    for (int j = 0; j < r.cols; ++j)
      canvas_.put(r.row, r.col + j, j < done ? canvas_.g().full : canvas_.g().light, state_attr(c));
  }

  // The channel runs one cell in from each side, as the real control's does.
  void trackbar(const User32Control& c, const Rect& r) {
    const uint8_t attr = state_attr(c);
    const int start = r.col + 1;
    const int width = std::max(1, r.cols - 2);
    const int span = c.maximum - c.minimum;
    const int thumb =
        span <= 0 ? 0 : (std::clamp(c.position, c.minimum, c.maximum) - c.minimum) * (width - 1) * 2 / span;
    const int thumb_col = start + (thumb + 1) / 2;
    for (int j = 0; j < width; ++j) {
      canvas_.put(r.row, start + j, canvas_.g().track, attr);
      const int value =
          span <= 0 || width <= 1 ? c.minimum : c.minimum + (j * span * 2 / (width - 1) + 1) / 2;
      zone(TuiZoneKind::slider, c.id, value, Rect{r.row, start + j, 1, 1});
    }
    canvas_.put(r.row, thumb_col, canvas_.g().full, attr);
    if (c.focused) canvas_.add_attr(r.row, start, width, TUI_REVERSE);
  }

  void updown(const User32Control& c, const Rect& r) {
    const uint8_t attr = state_attr(c);
    const bool horizontal = (c.style & UDS_HORZ) != 0;
    const int col = r.col + std::max(0, (r.cols - 3) / 2);
    const Rect first{r.row, col, 1, 3};
    const Rect second = horizontal || r.rows < 2 ? Rect{r.row, col + 3, 1, 3} : Rect{r.row + 1, col, 1, 3};
    const Glyphs& g = canvas_.g();
    for (const Rect* half : {&first, &second}) {
      const bool up = half == &first;
      canvas_.put(half->row, half->col, "[", attr);
      canvas_.put(half->row, half->col + 1, horizontal ? (up ? "<" : ">") : (up ? g.up : g.down), attr);
      canvas_.put(half->row, half->col + 2, "]", attr);
      if (c.focused) canvas_.add_attr(half->row, half->col, 3, TUI_REVERSE);
    }
    // Up (or right) raises the position; the first half of a horizontal control is its left arrow.
    zone(horizontal ? TuiZoneKind::spin_down : TuiZoneKind::spin_up, c.id, 0, first);
    zone(horizontal ? TuiZoneKind::spin_up : TuiZoneKind::spin_down, c.id, 0, second);
  }

  const User32Dialog& d_;
  const Sheet& sheet_;
  const TuiPicture& picture_;
  const TuiView& view_;
  TuiScreen& screen_;
  Canvas canvas_;
  std::vector<TuiHotKey> keys_;
};

std::vector<std::string> help_lines(const User32Dialog& d, const std::vector<User32MessageBox>& boxes,
                                    const TuiView& view, bool box_scrolls) {
  if (!boxes.empty()) {
    return {box_scrolls ? "Enter, Space or Esc: OK   Up Down PgUp PgDn: scroll" : "Enter, Space or Esc: OK",
            "Ctrl+Q: quit"};
  }
  if (dropped_combo(d)) return {"Up Down: select   Enter: take it   Esc: no choice", "Ctrl+Q: quit"};
  std::vector<std::string> lines{"Tab: next  Space: press/tick  F4: ports  Ctrl+Q: quit"};
  const User32Control* focus = focused_control(d);
  if (focus && class_is(*focus, TRACKBAR_CLASSA))
    lines.push_back("Arrows PgUp PgDn Home End: move the slider");
  else if (focus && class_is(*focus, UPDOWN_CLASSA))
    lines.push_back("Up Down: change the number");
  else if (focus && class_is(*focus, "Edit"))
    lines.push_back("Digits Backspace: type   Tab: leave and take it");
  else
    lines.push_back("Underlined letter: go to that control");
  if (!view.midi_problem.empty()) lines.insert(lines.begin() + 1, view.midi_problem);
  if (view.sim_keys)
    lines.push_back(view.sim_update_mode ? "F9: simulated unit back to its firmware"
                                         : "F9: simulated unit to update mode (keys held)");
  return lines;
}

// Where a message box goes: centred, as wide as its longest line allows, as tall as the screen allows.
struct BoxLayout {
  std::vector<std::string> lines;
  int width = 0;    // text columns
  int visible = 0;  // text lines shown at once
  Rect rect;
};

BoxLayout box_layout(const User32MessageBox& box, int rows, int cols) {
  BoxLayout layout;
  int natural = static_cast<int>(box.title.size()) + 6;
  for (const std::string& line : wrap(box.text, 10000))
    natural = std::max(natural, static_cast<int>(line.size()));
  layout.width = std::max(1, std::min({std::max(natural, 20), cols - 6, 66}));
  layout.lines = wrap(box.text, layout.width);
  layout.visible = std::max(1, std::min(static_cast<int>(layout.lines.size()), rows - 6));
  layout.rect = Rect{std::max(0, (rows - (layout.visible + 4)) / 2),
                     std::max(0, (cols - (layout.width + 4)) / 2), layout.visible + 4, layout.width + 4};
  return layout;
}

void draw_boxes(Canvas& canvas, TuiScreen& screen, const std::vector<User32MessageBox>& boxes,
                const TuiView& view) {
  for (size_t b = 0; b < boxes.size(); ++b) {
    const User32MessageBox& box = boxes[b];
    const bool top_box = b + 1 == boxes.size();
    const BoxLayout layout = box_layout(box, canvas.grid.rows, canvas.grid.cols);
    const int count = static_cast<int>(layout.lines.size());
    const int visible = layout.visible;
    const int scroll = top_box && view.box_serial == box.serial
                           ? std::clamp(view.box_scroll, 0, std::max(0, count - visible))
                           : 0;
    const Rect& r = layout.rect;
    canvas.fill(r, " ");
    canvas.frame(r, true);
    canvas.put(r.row, r.col + 2, " ");
    canvas.text(r.row, r.col + 3, box.title, r.cols - 6, TUI_BOLD);
    canvas.put(r.row, r.col + 3 + std::min(static_cast<int>(box.title.size()), r.cols - 6), " ");
    for (int i = 0; i < visible && scroll + i < count; ++i) {
      canvas.text(r.row + 1 + i, r.col + 2, layout.lines[static_cast<size_t>(scroll + i)], layout.width);
    }
    if (scroll > 0) canvas.put(r.row + 1, r.col + r.cols - 1, canvas.g().up);
    if (scroll + visible < count) canvas.put(r.row + visible, r.col + r.cols - 1, canvas.g().down);
    // A tall box hides the help lines: its own border names the keys that scroll it.
    if (count > visible)
      canvas.text(r.row + r.rows - 1, r.col + 2, " Up Down PgUp PgDn: scroll ", r.cols - 4);
    const std::string ok = "[ OK ]";
    const int ok_col = r.col + (r.cols - static_cast<int>(ok.size())) / 2;
    const int ok_row = r.row + r.rows - 2;
    canvas.text(ok_row, ok_col, ok, static_cast<int>(ok.size()), top_box ? TUI_REVERSE : 0);
    if (top_box) {
      screen.zones.push_back(TuiZone{TuiZoneKind::box_ok, 0, static_cast<int>(box.serial), ok_row, ok_col, 1,
                                     static_cast<int>(ok.size())});
      screen.box_lines = count;
      screen.box_visible_lines = visible;
    }
  }
}

// Letters that a caption offers for a hot key: word starts first, then every other letter.
std::vector<int> letter_candidates(const std::string& text) {
  std::vector<int> starts, others;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!std::isalpha(static_cast<unsigned char>(text[i]))) continue;
    const bool word_start = i == 0 || text[i - 1] == ' ';
    (word_start ? starts : others).push_back(static_cast<int>(i));
  }
  starts.insert(starts.end(), others.begin(), others.end());
  return starts;
}

bool inside(const User32Control& outer, const User32Control& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.cx <= outer.x + outer.cx &&
         inner.y + inner.cy <= outer.y + outer.cy;
}

}  // namespace

// ---- Pictures ----

namespace {
uint32_t read_u32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t read_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
}  // namespace

bool tui_decode_bitmap(const uint8_t* dib, size_t size, TuiPicture& out) {
  if (!dib || size < 40) return false;
  const uint32_t header = read_u32(dib);
  const int32_t width = static_cast<int32_t>(read_u32(dib + 4));
  const int32_t height = static_cast<int32_t>(read_u32(dib + 8));
  const int bits = read_u16(dib + 14);
  const uint32_t compression = read_u32(dib + 16);
  if (header < 40 || header > size || width <= 0 || height == 0 || compression != 0 ||
      (bits != 24 && bits != 32))
    return false;
  const int rows = height < 0 ? -height : height;
  const size_t stride =
      (static_cast<size_t>(width) * static_cast<size_t>(bits / 8) + 3) & ~static_cast<size_t>(3);
  if (header + stride * static_cast<size_t>(rows) > size) return false;
  out.width = width;
  out.height = rows;
  out.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(rows), 0);
  for (int y = 0; y < rows; ++y) {
    // Bottom-up unless the height is negative.
    const int stored = height > 0 ? rows - 1 - y : y;
    const uint8_t* line = dib + header + stride * static_cast<size_t>(stored);
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = line + static_cast<size_t>(x) * static_cast<size_t>(bits / 8);
      out.pixels[static_cast<size_t>(y * width + x)] = static_cast<uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
    }
  }
  return true;
}

bool tui_load_picture(HINSTANCE module, int id, TuiPicture& out) {
  HMODULE source = module ? module : GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(source, MAKEINTRESOURCEA(id), RT_BITMAP);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(source, found);
  const void* bytes = LockResource(loaded);
  return bytes && tui_decode_bitmap(static_cast<const uint8_t*>(bytes), SizeofResource(source, found), out);
}

// ---- Drawing ----

void tui_needed_size(const User32Dialog& dialog, int& rows, int& cols) {
  rows = client_rows(dialog) + 2 + HELP_LINES;
  cols = client_cols(dialog) + 2;
}

std::vector<TuiHotKey> tui_hot_keys(const User32Dialog& dialog) {
  std::vector<TuiHotKey> keys;
  bool used[26] = {};
  for (size_t i = 0; i < dialog.controls.size(); ++i) {
    const User32Control& c = dialog.controls[i];
    if (!c.visible || !class_is(c, "Button")) continue;
    int target = c.id;
    if (is_group(c)) {
      target = 0;
      for (const User32Control& other : dialog.controls) {
        if (&other != &c && other.visible && takes_focus(other) && inside(c, other)) {
          target = other.id;
          break;
        }
      }
      if (target == 0) continue;
    }
    for (int offset : letter_candidates(c.text)) {
      const int letter = std::tolower(static_cast<unsigned char>(c.text[static_cast<size_t>(offset)])) - 'a';
      if (letter < 0 || letter >= 26 || used[letter]) continue;
      used[letter] = true;
      keys.push_back(TuiHotKey{static_cast<char>('a' + letter), target, static_cast<int>(i), offset});
      break;
    }
  }
  return keys;
}

namespace {

// The first layout that fits the terminal whole (help lines below it); when none does, the split one that
// scrolls in the least directions.
Sheet choose_sheet(const User32Dialog& d, int rows, int cols, bool& fits) {
  Sheet candidates[3] = {full_sheet(d), split_sheet(d, TuiLayout::columns),
                         split_sheet(d, TuiLayout::stacked)};
  for (Sheet& sheet : candidates) {
    fits = sheet.rows + HELP_LINES <= rows && sheet.cols <= cols;
    if (fits) return std::move(sheet);
  }
  Sheet& chosen = candidates[1].cols <= cols ? candidates[1] : candidates[2];
  chosen.layout = TuiLayout::scrolled;
  return std::move(chosen);
}

// How far a sheet larger than its view is scrolled: no further than it takes to show `wanted` (the focused
// control, the open list), from the top left corner.
int scroll_to(int first, int count, int sheet_size, int view_size) {
  if (sheet_size <= view_size) return 0;
  const int needed = std::max(0, first + count - view_size);
  return std::min({needed, first, sheet_size - view_size});
}

}  // namespace

TuiScreen tui_draw(const User32Dialog* dialog, const std::vector<User32MessageBox>& boxes,
                   const TuiPicture& picture, const TuiView& view, int rows, int cols) {
  TuiScreen screen;
  screen.grid.rows = std::max(0, rows);
  screen.grid.cols = std::max(0, cols);
  Canvas canvas(screen.grid.rows, screen.grid.cols, view.unicode);
  if (!dialog) {
    draw_boxes(canvas, screen, boxes, view);
    screen.grid = std::move(canvas.grid);
    return screen;
  }
  bool fits = false;
  const Sheet sheet = choose_sheet(*dialog, screen.grid.rows, screen.grid.cols, fits);
  screen.layout = sheet.layout;
  TuiScreen drawn;
  Painter painter(*dialog, sheet, picture, view, drawn);
  painter.dialog();
  const TuiGrid& paper = painter.canvas().grid;

  // Where the sheet goes: centred with the help lines below it, or scrolled in the rows above them.
  int top = 0, left = 0, help_row = 0;
  const int view_rows = std::max(0, screen.grid.rows - HELP_LINES);
  if (fits) {
    top = (screen.grid.rows - sheet.rows - HELP_LINES) / 2;
    left = (screen.grid.cols - sheet.cols) / 2;
    help_row = top + sheet.rows;
  } else {
    Rect wanted{0, 0, 1, 1};
    const User32Control* combo = dropped_combo(*dialog);
    if (const User32Control* focus = combo ? combo : focused_control(*dialog)) {
      const size_t index = static_cast<size_t>(focus - dialog->controls.data());
      wanted = sheet.rects[index];
      // An open list goes below its field, with a border row under it.
      if (combo)
        wanted.rows +=
            std::min(std::max(1, static_cast<int>(combo->items.size())), sheet.list_rows[index] - 2) + 1;
      // A row of context above and below where there is room.
      wanted.row = std::max(0, wanted.row - 1);
      wanted.rows += 2;
    }
    screen.scroll_row = scroll_to(wanted.row, wanted.rows, sheet.rows, view_rows);
    screen.scroll_col = scroll_to(wanted.col, wanted.cols, sheet.cols, screen.grid.cols);
    top = -screen.scroll_row;
    left = std::max(0, (screen.grid.cols - sheet.cols) / 2) - screen.scroll_col;
    help_row = view_rows;
  }
  const int last_row = fits ? screen.grid.rows : view_rows;
  for (int r = 0; r < paper.rows; ++r) {
    if (top + r < 0 || top + r >= last_row) continue;
    for (int c = 0; c < paper.cols; ++c)
      if (TuiCell* cell = canvas.at(top + r, left + c))
        *cell = paper.cells[static_cast<size_t>(r * paper.cols + c)];
  }
  // Zones on the screen, cut to what is shown of them.
  for (TuiZone z : drawn.zones) {
    const int row0 = std::max(z.row + top, 0), row1 = std::min(z.row + top + z.rows, last_row);
    const int col0 = std::max(z.col + left, 0), col1 = std::min(z.col + left + z.cols, screen.grid.cols);
    if (row0 >= row1 || col0 >= col1) continue;
    z.row = row0;
    z.rows = row1 - row0;
    z.col = col0;
    z.cols = col1 - col0;
    screen.zones.push_back(z);
  }
  if (drawn.cursor_row >= 0 && drawn.cursor_row + top >= 0 && drawn.cursor_row + top < last_row &&
      drawn.cursor_col + left >= 0 && drawn.cursor_col + left < screen.grid.cols) {
    screen.cursor_row = drawn.cursor_row + top;
    screen.cursor_col = drawn.cursor_col + left;
  }

  bool box_scrolls = false;
  if (!boxes.empty()) {
    const BoxLayout top_box = box_layout(boxes.back(), rows, cols);
    box_scrolls = static_cast<int>(top_box.lines.size()) > top_box.visible;
  }
  std::vector<std::string> help = help_lines(*dialog, boxes, view, box_scrolls);
  // A third help line only when the terminal has room for it.
  while (static_cast<int>(help.size()) > HELP_LINES && help_row + static_cast<int>(help.size()) > rows)
    help.pop_back();
  const int help_col = fits ? left + 1 : 0;
  for (size_t i = 0; i < help.size(); ++i) {
    canvas.text(help_row + static_cast<int>(i), help_col, help[i], cols - help_col);
  }
  draw_boxes(canvas, screen, boxes, view);
  if (!boxes.empty()) screen.cursor_row = screen.cursor_col = -1;
  screen.grid = std::move(canvas.grid);
  return screen;
}

std::string tui_grid_row(const TuiGrid& grid, int row) {
  std::string line;
  if (row < 0 || row >= grid.rows) return line;
  for (int c = 0; c < grid.cols; ++c) line += grid.cells[static_cast<size_t>(row * grid.cols + c)].glyph;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string tui_grid_text(const TuiGrid& grid) {
  std::string text;
  for (int r = 0; r < grid.rows; ++r) {
    text += tui_grid_row(grid, r);
    text += '\n';
  }
  return text;
}

// ---- Input ----

namespace {

int key_to_vk(int code) {
  switch (code) {
    case TUI_KEY_ENTER:
      return VK_RETURN;
    case TUI_KEY_ESCAPE:
      return VK_ESCAPE;
    case TUI_KEY_BACKSPACE:
      return VK_BACK;
    case TUI_KEY_DELETE:
      return VK_DELETE;
    case TUI_KEY_UP:
      return VK_UP;
    case TUI_KEY_DOWN:
      return VK_DOWN;
    case TUI_KEY_LEFT:
      return VK_LEFT;
    case TUI_KEY_RIGHT:
      return VK_RIGHT;
    case TUI_KEY_PAGE_UP:
      return VK_PRIOR;
    case TUI_KEY_PAGE_DOWN:
      return VK_NEXT;
    case TUI_KEY_HOME:
      return VK_HOME;
    case TUI_KEY_END:
      return VK_END;
    case ' ':
      return VK_SPACE;
    default:
      return 0;
  }
}

// A hot key acts as a click on its control; controls that a click would also change (slider, spin) only
// take the focus.
int press_hot_key(const User32Dialog& d, int id) {
  const User32Control* c = control_by_id(d, id);
  if (!c) return USER32_NO_CONTROL;
  if (class_is(*c, "ComboBox")) return user32_key_to(id, VK_F4);
  if (class_is(*c, TRACKBAR_CLASSA) || class_is(*c, UPDOWN_CLASSA)) return user32_key_to(id, VK_SHIFT);
  return user32_click(id);
}

int box_key(TuiView& view, const TuiScreen& screen, const User32MessageBox& box, const TuiKey& key) {
  if (view.box_serial != box.serial) {
    view.box_serial = box.serial;
    view.box_scroll = 0;
  }
  const int last = std::max(0, screen.box_lines - screen.box_visible_lines);
  const int page = std::max(1, screen.box_visible_lines - 1);
  switch (key.code) {
    case TUI_KEY_ENTER:
    case TUI_KEY_ESCAPE:
    case ' ':
      return user32_dismiss_box(box.serial);
    case TUI_KEY_UP:
      view.box_scroll = std::max(0, view.box_scroll - 1);
      return USER32_OK;
    case TUI_KEY_DOWN:
      view.box_scroll = std::min(last, view.box_scroll + 1);
      return USER32_OK;
    case TUI_KEY_PAGE_UP:
      view.box_scroll = std::max(0, view.box_scroll - page);
      return USER32_OK;
    case TUI_KEY_PAGE_DOWN:
      view.box_scroll = std::min(last, view.box_scroll + page);
      return USER32_OK;
    case TUI_KEY_HOME:
      view.box_scroll = 0;
      return USER32_OK;
    case TUI_KEY_END:
      view.box_scroll = last;
      return USER32_OK;
    default:
      return TUI_IGNORED;
  }
}

// The simulated unit started with both keys held comes up in its boot loader (update mode).
int toggle_sim_mode(TuiView& view) {
  sim_with_unit(
      [](SimUnit& unit) { unit.mode = unit.mode == SimMode::Boot ? SimMode::Running : SimMode::Boot; });
  view.sim_update_mode = tui_sim_update_mode();
  user32_wake_watchers();
  return USER32_OK;
}

}  // namespace

bool tui_sim_update_mode() {
  bool boot = false;
  sim_with_unit([&boot](SimUnit& unit) { boot = unit.mode == SimMode::Boot; });
  return boot;
}

int tui_key(TuiView& view, const TuiScreen& screen, const TuiKey& key) {
  const std::vector<User32MessageBox> boxes = user32_open_boxes();
  if (key.code == TUI_KEY_QUIT) return tui_close(2000);
  if (!boxes.empty()) return box_key(view, screen, boxes.back(), key);
  if (view.sim_keys && key.code == tui_key_f(9)) return toggle_sim_mode(view);
  User32Dialog d;
  if (!user32_read_dialog(d)) return USER32_NO_DIALOG;
  const User32Control* focus = focused_control(d);

  if (const User32Control* combo = dropped_combo(d)) {
    // The open list takes the keys that the real one takes; F4 and Alt+arrows close it like Enter.
    int vk = key_to_vk(key.code);
    if (key.code == tui_key_f(4) || (key.alt && (key.code == TUI_KEY_DOWN || key.code == TUI_KEY_UP)))
      vk = VK_F4;
    if (vk == VK_UP || vk == VK_DOWN || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_F4)
      return user32_key_to(combo->id, vk);
    return TUI_IGNORED;
  }

  const User32Control* combo = first_combo(d);
  const bool open_list = key.code == tui_key_f(4) || (key.alt && key.code == TUI_KEY_DOWN) ||
                         (key.code == TUI_KEY_ENTER && focus && class_is(*focus, "ComboBox"));
  if (open_list) return combo ? user32_key_to(combo->id, VK_F4) : TUI_IGNORED;
  if (key.code == TUI_KEY_TAB) return user32_key(VK_TAB, key.shift);

  if (key.code < 0x80 && std::isalpha(key.code)) {
    const char letter = static_cast<char>(std::tolower(key.code));
    for (const TuiHotKey& hot : tui_hot_keys(d))
      if (hot.letter == letter) return press_hot_key(d, hot.target);
    return TUI_IGNORED;
  }
  if (key.code < 0x80 && std::isdigit(key.code)) {
    if (!focus || !(class_is(*focus, "Edit") || class_is(*focus, "ComboBox"))) return TUI_IGNORED;
    const char text[2] = {static_cast<char>(key.code), 0};
    return user32_type(text);
  }
  const int vk = key_to_vk(key.code);
  return vk ? user32_key(vk, key.shift) : TUI_IGNORED;
}

int tui_click(const TuiScreen& screen, int row, int col) {
  const TuiZone* hit = nullptr;
  for (const TuiZone& z : screen.zones)
    if (row >= z.row && row < z.row + z.rows && col >= z.col && col < z.col + z.cols) hit = &z;
  const std::vector<User32MessageBox> boxes = user32_open_boxes();
  if (!boxes.empty()) {
    if (hit && hit->kind == TuiZoneKind::box_ok) return user32_dismiss_box(static_cast<uint64_t>(hit->value));
    return TUI_IGNORED;
  }
  User32Dialog d;
  if (!user32_read_dialog(d)) return USER32_NO_DIALOG;
  // A click anywhere but on the open list closes it without a choice.
  if (const User32Control* combo = dropped_combo(d)) {
    if (hit && hit->kind == TuiZoneKind::list_item) return user32_combo_choose(hit->id, hit->value);
    return user32_combo_cancel(combo->id);
  }
  if (!hit) return TUI_IGNORED;
  switch (hit->kind) {
    case TuiZoneKind::close_button:
      return user32_close();
    case TuiZoneKind::slider:
      return user32_slider_drag(hit->id, hit->value);
    case TuiZoneKind::spin_up:
    case TuiZoneKind::spin_down: {
      const int pressed = user32_updown_press(hit->id, hit->kind == TuiZoneKind::spin_up);
      if (pressed != USER32_OK) return pressed;
      return user32_updown_release(hit->id);
    }
    case TuiZoneKind::control: {
      const User32Control* c = control_by_id(d, hit->id);
      if (c && class_is(*c, "ComboBox")) return user32_combo_open(hit->id);
      return user32_click(hit->id);
    }
    default:
      return TUI_IGNORED;
  }
}

int tui_close(int timeout_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int result = USER32_NO_DIALOG;
  do {
    for (const User32MessageBox& box : user32_open_boxes()) user32_dismiss_box(box.serial);
    result = user32_close();
    if (result != USER32_REFUSED) return result;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < until);
  return result;
}
