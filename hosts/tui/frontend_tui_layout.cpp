// Terminal front end: the layouts. The dialog as its template places it, or split into two halves side by
// side or one below the other, squeezed where empty rows and columns allow.
#include "hosts/tui/frontend_tui_internal.h"

namespace {

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
  if (c.kind == User32Kind::combo_box) r.rows = 1;
  if (c.kind == User32Kind::check_box) r.cols = std::max(r.cols, 4 + static_cast<int>(c.text.size()));
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
constexpr int COLUMN_ROWS = 20;  // 24 rows less the frame and the help lines (and less any line above them)
constexpr int COLUMN_COLS = 38;  // two of them, a gap and the frame in 80 columns
constexpr int COLUMN_GAP = 2;

Sheet split_sheet(const User32Dialog& d, TuiLayout layout, int extra_lines) {
  int split = client_rows(d) / 2;
  bool found = false;
  for (const User32Control& c : d.controls) {
    if (c.kind != User32Kind::check_box) continue;
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
  const int max_rows = columns ? COLUMN_ROWS - extra_lines : 0;
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

}  // namespace

// The first layout that fits the terminal whole (help lines below it); when none does, the split one that
// scrolls in the least directions.
Sheet choose_sheet(const User32Dialog& d, int rows, int cols, bool& fits, int extra_lines) {
  Sheet candidates[3] = {full_sheet(d), split_sheet(d, TuiLayout::columns, extra_lines),
                         split_sheet(d, TuiLayout::stacked, extra_lines)};
  for (Sheet& sheet : candidates) {
    fits = sheet.rows + HELP_LINES + extra_lines <= rows && sheet.cols <= cols;
    if (fits) return std::move(sheet);
  }
  Sheet& chosen = candidates[1].cols <= cols ? candidates[1] : candidates[2];
  chosen.layout = TuiLayout::scrolled;
  return std::move(chosen);
}

void tui_needed_size(const User32Dialog& dialog, int& rows, int& cols) {
  rows = client_rows(dialog) + 2 + HELP_LINES;
  cols = client_cols(dialog) + 2;
}
