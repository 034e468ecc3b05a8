// Terminal front end: one frame. The painted sheet placed on the screen (centred, or scrolled so that the
// focus is in view), the help lines below it and the message boxes over it. No terminal calls here (see
// frontend_tui_curses.cpp).
#include <wchar.h>

#include "hosts/tui/frontend_tui_internal.h"

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

namespace {

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

std::vector<std::string> help_lines(const User32Dialog& d, const std::vector<User32MessageBox>& boxes,
                                    const TuiView& view, bool box_scrolls) {
  if (!boxes.empty()) {
    return {box_scrolls ? "Enter, Space or Esc: OK   Up Down PgUp PgDn: scroll" : "Enter, Space or Esc: OK",
            "Ctrl+Q: quit"};
  }
  if (dropped_combo(d)) return {"Up Down: select   Enter: take it   Esc: no choice", "Ctrl+Q: quit"};
  std::vector<std::string> lines{"Tab: next  Space: press/tick  F4: ports  Ctrl+Q: quit"};
  const User32Control* focus = focused_control(d);
  const char* help = focus ? tui_kind(focus->kind).help : nullptr;
  lines.push_back(help ? help : "Underlined letter: go to that control");
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

// How far a sheet larger than its view is scrolled: no further than it takes to show `wanted` (the focused
// control, the open list), from the top left corner.
int scroll_to(int first, int count, int sheet_size, int view_size) {
  if (sheet_size <= view_size) return 0;
  const int needed = std::max(0, first + count - view_size);
  return std::min({needed, first, sheet_size - view_size});
}

// What a scrolled sheet must show: the open list or the focused control, with a row of context above and
// below where there is room.
Rect wanted_rect(const User32Dialog& d, const Sheet& sheet) {
  Rect wanted{0, 0, 1, 1};
  const User32Control* combo = dropped_combo(d);
  if (const User32Control* focus = combo ? combo : focused_control(d)) {
    const size_t index = static_cast<size_t>(focus - d.controls.data());
    wanted = sheet.rects[index];
    // An open list goes below its field, with a border row under it.
    if (combo)
      wanted.rows +=
          std::min(std::max(1, static_cast<int>(combo->items.size())), sheet.list_rows[index] - 2) + 1;
    wanted.row = std::max(0, wanted.row - 1);
    wanted.rows += 2;
  }
  return wanted;
}

// Where the sheet goes on the screen: its top left corner, the help lines' first row, and the row below
// the last that the sheet may cover.
struct Placement {
  int top = 0, left = 0, help_row = 0, last_row = 0;
};

// Centred with the lines below it (`below` of them), or scrolled in the rows above them.
Placement place_sheet(const User32Dialog& d, const Sheet& sheet, bool fits, int below, TuiScreen& screen) {
  Placement at;
  const int view_rows = std::max(0, screen.grid.rows - below);
  if (fits) {
    at.top = (screen.grid.rows - sheet.rows - below) / 2;
    at.left = (screen.grid.cols - sheet.cols) / 2;
    at.help_row = at.top + sheet.rows;
    at.last_row = screen.grid.rows;
    return at;
  }
  const Rect wanted = wanted_rect(d, sheet);
  screen.scroll_row = scroll_to(wanted.row, wanted.rows, sheet.rows, view_rows);
  screen.scroll_col = scroll_to(wanted.col, wanted.cols, sheet.cols, screen.grid.cols);
  at.top = -screen.scroll_row;
  at.left = std::max(0, (screen.grid.cols - sheet.cols) / 2) - screen.scroll_col;
  at.help_row = view_rows;
  at.last_row = view_rows;
  return at;
}

// The painted sheet's cells, zones and cursor on the screen, cut to what is shown of them.
void copy_sheet(const TuiGrid& paper, const TuiScreen& drawn, const Placement& at, Canvas& canvas,
                TuiScreen& screen) {
  for (int r = 0; r < paper.rows; ++r) {
    if (at.top + r < 0 || at.top + r >= at.last_row) continue;
    for (int c = 0; c < paper.cols; ++c)
      if (TuiCell* cell = canvas.at(at.top + r, at.left + c))
        *cell = paper.cells[static_cast<size_t>(r * paper.cols + c)];
  }
  for (TuiZone z : drawn.zones) {
    const int row0 = std::max(z.row + at.top, 0), row1 = std::min(z.row + at.top + z.rows, at.last_row);
    const int col0 = std::max(z.col + at.left, 0),
              col1 = std::min(z.col + at.left + z.cols, screen.grid.cols);
    if (row0 >= row1 || col0 >= col1) continue;
    z.row = row0;
    z.rows = row1 - row0;
    z.col = col0;
    z.cols = col1 - col0;
    screen.zones.push_back(z);
  }
  const int cursor_row = drawn.cursor_row + at.top, cursor_col = drawn.cursor_col + at.left;
  if (drawn.cursor_row >= 0 && cursor_row >= 0 && cursor_row < at.last_row && cursor_col >= 0 &&
      cursor_col < screen.grid.cols) {
    screen.cursor_row = cursor_row;
    screen.cursor_col = cursor_col;
  }
}

// The help lines from `row` at `col` of a rows x cols screen; a third one only when there is room for it.
// The time code line, when there is one, comes first.
void draw_help(const User32Dialog& d, const std::vector<User32MessageBox>& boxes, const TuiView& view,
               int row, int col, int rows, int cols, Canvas& canvas, TuiScreen& screen) {
  bool box_scrolls = false;
  if (!boxes.empty()) {
    const BoxLayout top_box = box_layout(boxes.back(), rows, cols);
    box_scrolls = static_cast<int>(top_box.lines.size()) > top_box.visible;
  }
  std::vector<std::string> help = help_lines(d, boxes, view, box_scrolls);
  if (!view.timecode.empty()) {
    screen.timecode_row = row;
    screen.timecode_col = col;
    screen.timecode_cols = std::max(0, cols - col);
    canvas.text(row++, col, view.timecode, cols - col);
  }
  while (static_cast<int>(help.size()) > HELP_LINES && row + static_cast<int>(help.size()) > rows)
    help.pop_back();
  for (size_t i = 0; i < help.size(); ++i) canvas.text(row + static_cast<int>(i), col, help[i], cols - col);
}

}  // namespace

TuiScreen tui_draw(const User32Dialog* dialog, const std::vector<User32MessageBox>& boxes,
                   const TuiPicture& picture, const TuiView& view, int rows, int cols) {
  TuiScreen screen;
  screen.grid.rows = std::max(0, rows);
  screen.grid.cols = std::max(0, cols);
  Canvas canvas(screen.grid.rows, screen.grid.cols, view.unicode);
  if (dialog) {
    bool fits = false;
    // The time code line has a row of its own: the columns are squeezed by a row more for it.
    const int extra = view.timecode.empty() ? 0 : 1;
    const Sheet sheet = choose_sheet(*dialog, screen.grid.rows, screen.grid.cols, fits, extra);
    screen.layout = sheet.layout;
    TuiScreen drawn;
    const TuiGrid paper = paint_sheet(*dialog, sheet, picture, view, drawn);
    const Placement at = place_sheet(*dialog, sheet, fits, HELP_LINES + extra, screen);
    copy_sheet(paper, drawn, at, canvas, screen);
    draw_help(*dialog, boxes, view, at.help_row, fits ? at.left + 1 : 0, rows, cols, canvas, screen);
  }
  draw_boxes(canvas, screen, boxes, view);
  if (!boxes.empty()) screen.cursor_row = screen.cursor_col = -1;
  // A box over the time code line keeps it from being painted alone.
  for (const User32MessageBox& box : boxes) {
    const Rect r = box_layout(box, screen.grid.rows, screen.grid.cols).rect;
    if (screen.timecode_row >= r.row && screen.timecode_row < r.row + r.rows) screen.timecode_row = -1;
  }
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
