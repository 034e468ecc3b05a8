// Terminal front end: the painter, which draws the dialog and its controls onto the cells of a sheet and
// notes where a click hits each control, and the table of what the front end does with each kind of
// control.
#include <commctrl.h>

#include "hosts/tui/frontend_tui_internal.h"

// Drawing of the dialog onto its sheet, zones and cursor in sheet cells. The kind table names the member
// that draws each kind of control.
class TuiPainter {
 public:
  TuiPainter(const User32Dialog& d, const Sheet& sheet, const TuiPicture& picture, const TuiView& view,
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
    frame();
    // Group boxes first: the controls inside lie on their frames.
    for (const bool beneath : {true, false}) {
      for (size_t i = 0; i < d_.controls.size(); ++i) {
        const User32Control& c = d_.controls[i];
        const TuiKind& kind = tui_kind(c.kind);
        if (c.visible && kind.beneath == beneath) (this->*kind.draw)(c, sheet_.rects[i], static_cast<int>(i));
      }
    }
    if (const User32Control* combo = dropped_combo(d_)) combo_list(*combo);
  }

  // The kinds of control, as the kind table names them; `index` is the control's place in the template.
  void group(const User32Control& c, const Rect& r, int index) {
    const uint8_t attr = state_attr(c);
    canvas_.frame(r, false, attr);
    caption(r.row, r.col + 1, c.text, r.cols - 2, hot_offset(index), static_cast<uint8_t>(attr | TUI_BOLD));
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
  void static_text(const User32Control& c, const Rect& r, int index) {
    const int length = static_cast<int>(c.text.size());
    int col = r.col;
    if ((c.style & SS_TYPEMASK) == SS_CENTER)
      col += (r.cols - length) / 2;
    else if ((c.style & SS_TYPEMASK) == SS_RIGHT)
      col += r.cols - length;
    col = std::max(col, sheet_.left[static_cast<size_t>(index)]);
    canvas_.text(r.row, col, c.text, std::min(length, room(index, col)), state_attr(c));
  }

  // Two picture rows per cell with UTF-8: the upper half-block in the foreground colour, the lower in the
  // background. Without it, one picture row per cell: a blank in the background colour.
  void picture(const User32Control&, const Rect& r, int) {
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

  void edit(const User32Control& c, const Rect& r, int) {
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

  void combo(const User32Control& c, const Rect& r, int) {
    const uint8_t attr = state_attr(c);
    const int inner = std::max(1, r.cols - 3);
    canvas_.put(r.row, r.col, "[", attr);
    canvas_.text(r.row, r.col + 1, c.text, inner, attr);
    canvas_.put(r.row, r.col + r.cols - 2, canvas_.g().down, attr);
    canvas_.put(r.row, r.col + r.cols - 1, "]", attr);
    if (c.focused) canvas_.add_attr(r.row, r.col + 1, inner, TUI_REVERSE);
    zone(TuiZoneKind::control, c.id, 0, Rect{r.row, r.col, 1, r.cols});
  }

  void progress(const User32Control& c, const Rect& r, int) {
    const int span = c.maximum - c.minimum;
    const int done = span <= 0 ? 0 : std::clamp((c.position - c.minimum) * r.cols / span, 0, r.cols);
    for (int j = 0; j < r.cols; ++j)
      canvas_.put(r.row, r.col + j, j < done ? canvas_.g().full : canvas_.g().light, state_attr(c));
  }

  // The channel runs one cell in from each side, as the real control's does.
  void trackbar(const User32Control& c, const Rect& r, int) {
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

  void updown(const User32Control& c, const Rect& r, int) {
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

 private:
  // The dialog's double frame, with its caption and close button.
  void frame() {
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
  }

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

  // Cells from `col` to the right edge of control `index`'s column.
  int room(int index, int col) const { return std::max(0, sheet_.right[static_cast<size_t>(index)] - col); }

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

  const User32Dialog& d_;
  const Sheet& sheet_;
  const TuiPicture& picture_;
  const TuiView& view_;
  TuiScreen& screen_;
  Canvas canvas_;
  std::vector<TuiHotKey> keys_;
};

namespace {

// In the order of User32Kind.
constexpr TuiKind KINDS[] = {
    // kind, draw, beneath, hot_key, focusable, press, digits, help
    {User32Kind::push_button, &TuiPainter::push_button, false, true, true, TuiPress::click, false, nullptr},
    {User32Kind::check_box, &TuiPainter::check_box, false, true, true, TuiPress::click, false, nullptr},
    {User32Kind::group_box, &TuiPainter::group, true, true, false, TuiPress::click, false, nullptr},
    {User32Kind::text, &TuiPainter::static_text, false, false, false, TuiPress::click, false, nullptr},
    {User32Kind::picture, &TuiPainter::picture, false, false, false, TuiPress::click, false, nullptr},
    {User32Kind::edit, &TuiPainter::edit, false, false, true, TuiPress::click, true,
     "Digits Backspace: type   Tab: leave and take it"},
    {User32Kind::combo_box, &TuiPainter::combo, false, false, true, TuiPress::open_list, true, nullptr},
    {User32Kind::progress_bar, &TuiPainter::progress, false, false, false, TuiPress::click, false, nullptr},
    {User32Kind::trackbar, &TuiPainter::trackbar, false, false, true, TuiPress::focus, false,
     "Arrows PgUp PgDn Home End: move the slider"},
    {User32Kind::up_down, &TuiPainter::updown, false, false, true, TuiPress::focus, false,
     "Up Down: change the number"},
};

constexpr bool in_kind_order() {
  for (size_t i = 0; i < std::size(KINDS); ++i)
    if (KINDS[i].kind != static_cast<User32Kind>(i)) return false;
  return std::size(KINDS) == static_cast<size_t>(User32Kind::up_down) + 1;
}
static_assert(in_kind_order());

}  // namespace

const TuiKind& tui_kind(User32Kind kind) { return KINDS[static_cast<size_t>(kind)]; }

TuiGrid paint_sheet(const User32Dialog& d, const Sheet& sheet, const TuiPicture& picture, const TuiView& view,
                    TuiScreen& drawn) {
  TuiPainter painter(d, sheet, picture, view, drawn);
  painter.dialog();
  return std::move(painter.canvas().grid);
}
