// The terminal front end's layouts for the terminal's size, drawn from the real program's dialog on the
// headless driver: which layout each size gets, that every control is shown once and whole, that the focus
// and message boxes stay in view where the dialog scrolls, and that clicks and keys act in every layout.
#include "tui_support.h"

namespace {

struct Size {
  int cols, rows;
  TuiLayout layout;
};
constexpr Size SIZES[] = {{55, 47, TuiLayout::full},     {80, 24, TuiLayout::columns},
                          {100, 30, TuiLayout::columns}, {40, 35, TuiLayout::stacked},
                          {40, 15, TuiLayout::scrolled}, {30, 10, TuiLayout::scrolled}};

using TuiLayoutTest = TuiTest;

// The ids of the controls that a person uses, in the dialog's order.
std::vector<int> used_controls() {
  User32Dialog dialog;
  EXPECT_TRUE(user32_read_dialog(dialog));
  std::vector<int> ids;
  for (const User32Control& c : dialog.controls)
    if (c.id > 0 && c.class_name != "Static" && c.class_name != "msctls_progress32") ids.push_back(c.id);
  return ids;
}

bool overlap(const TuiZone& a, const TuiZone& b) {
  return a.row < b.row + b.rows && b.row < a.row + a.rows && a.col < b.col + b.cols && b.col < a.col + a.cols;
}

}  // namespace

TEST_F(TuiLayoutTest, EachSizeGetsItsLayoutWithEveryControlOnceApartAndAtHand) {
  start_connected();
  for (const Size& size : SIZES) {
    SCOPED_TRACE(std::to_string(size.cols) + " x " + std::to_string(size.rows));
    frame(size.rows, size.cols);
    EXPECT_EQ(screen.layout, size.layout);
    const std::string text = tui_grid_text(screen.grid);
    EXPECT_NE(text.find("Tab: next"), std::string::npos) << text;
    if (size.layout == TuiLayout::scrolled) continue;
    EXPECT_NE(text.find("Quorvanex vexa 3.1"), std::string::npos) << text;
    // The whole dialog: every control's texts and zones, inside the terminal and apart from each other.
    for (const char* caption : {"Firmware 3.1", "Update firmware", "Blank leading zero", "Enable TRVX",
                                "MIDI Machine Control ID", "Brightness", "[vexa", "[000]"})
      EXPECT_NE(text.find(caption), std::string::npos) << caption << "\n" << text;
    std::vector<const TuiZone*> zones;
    for (int id : used_controls()) {
      const TuiZone* z = zone_of(id);
      ASSERT_NE(z, nullptr) << "control " << id << "\n" << text;
      EXPECT_GE(z->row, 0);
      EXPECT_LE(z->row + z->rows, size.rows - 2);
      EXPECT_GE(z->col, 0);
      EXPECT_LE(z->col + z->cols, size.cols);
      for (const TuiZone* other : zones)
        EXPECT_FALSE(overlap(*z, *other)) << "control " << id << "\n" << text;
      zones.push_back(z);
    }
  }
  // A click on a check box's zone ticks it, whichever layout placed it; where the dialog scrolls and it is
  // out of view, its hot key goes there and ticks it.
  for (const Size& size : SIZES) {
    SCOPED_TRACE(std::to_string(size.cols) + " x " + std::to_string(size.rows));
    const int before = headless_checked(IDC_ENABLE_TRVX);
    frame(size.rows, size.cols);
    if (const TuiZone* z = zone_of(IDC_ENABLE_TRVX)) {
      EXPECT_EQ(tui_click(screen, z->row, z->col), USER32_OK);
    } else {
      ASSERT_EQ(size.layout, TuiLayout::scrolled) << tui_grid_text(screen.grid);
      EXPECT_EQ(key(hot_key_of(IDC_ENABLE_TRVX)), USER32_OK);
    }
    EXPECT_TRUE(headless_wait_idle());
    EXPECT_NE(headless_checked(IDC_ENABLE_TRVX), before);
  }
  // A larger terminal keeps the dialog as its template has it; 80 x 24 fits it in two columns.
  frame(24, 80);
  EXPECT_NE(tui_grid_row(screen.grid, 1).find("Blank leading zero"), std::string::npos)
      << tui_grid_text(screen.grid);
  EXPECT_EQ(tui_grid_row(screen.grid, 21).rfind("╚", 0), 0u) << tui_grid_text(screen.grid);
}

TEST_F(TuiLayoutTest, ScrolledDialogKeepsTheFocusAndBoxesInView) {
  start_connected();
  // Tab through every tab stop: the focused control is always shown whole above the help lines.
  std::vector<int> seen;
  int first_scroll = -1, last_scroll = -1;
  for (int i = 0; i < 12; ++i) {
    const int focus = headless_focus_id();
    frame(15, 40);
    ASSERT_EQ(screen.layout, TuiLayout::scrolled);
    const TuiZone* z = zone_of(focus);
    ASSERT_NE(z, nullptr) << "focus " << focus << "\n" << tui_grid_text(screen.grid);
    EXPECT_GE(z->row, 0);
    EXPECT_LE(z->row + z->rows, 13) << tui_grid_text(screen.grid);
    if (first_scroll < 0) first_scroll = screen.scroll_row;
    last_scroll = std::max(last_scroll, screen.scroll_row);
    seen.push_back(focus);
    key(TUI_KEY_TAB);
  }
  // The settings lie far below the port list: getting to them scrolled the dialog.
  EXPECT_GT(last_scroll, first_scroll);
  EXPECT_NE(std::find(seen.begin(), seen.end(), IDC_BRIGHTNESS), seen.end());

  // The open port list is shown with its entry, wherever the dialog was scrolled to.
  frame(15, 40);
  EXPECT_EQ(key(tui_key_f(4)), USER32_OK);
  frame(15, 40);
  bool item = false;
  for (const TuiZone& z : screen.zones)
    item = item || (z.kind == TuiZoneKind::list_item && z.row + z.rows <= 13);
  EXPECT_TRUE(item) << tui_grid_text(screen.grid);
  key(TUI_KEY_ESCAPE);

  // A help box, whole at every size.
  headless_click(IDC_HELP_UPDATE);
  ASSERT_EQ(headless_boxes().size(), 1u);
  for (auto [rows, cols] : {std::pair{15, 40}, std::pair{10, 30}, std::pair{24, 80}}) {
    frame(rows, cols);
    const std::string text = tui_grid_text(screen.grid);
    // The whole box: its title, its OK button and a scroll mark where the text does not fit.
    EXPECT_NE(text.find("═ Help ═"), std::string::npos) << text;
    bool ok = false;
    for (const TuiZone& z : screen.zones) ok = ok || z.kind == TuiZoneKind::box_ok;
    EXPECT_TRUE(ok) << text;
    EXPECT_NE(text.find("[ OK ]"), std::string::npos) << text;
  }
  EXPECT_EQ(key(TUI_KEY_ENTER), USER32_OK);
  EXPECT_TRUE(headless_boxes().empty());
}

TEST_F(TuiLayoutTest, PictureWithoutUtf8IsColouredBlanks) {
  start();
  ASSERT_TRUE(tui_load_picture(nullptr, IDB_PICTURE, picture));
  view.unicode = false;
  for (auto [rows, cols] : {std::pair{47, 55}, std::pair{24, 80}}) {
    frame(rows, cols);
    // The picture's cells: blanks with a background colour, one picture row each, not all the same.
    int coloured = 0;
    uint32_t first = TUI_DEFAULT;
    bool varied = false;
    for (const TuiCell& cell : screen.grid.cells) {
      if (cell.bg == TUI_DEFAULT) continue;
      EXPECT_EQ(cell.glyph, " ");
      if (first == TUI_DEFAULT) first = cell.bg;
      varied = varied || cell.bg != first;
      ++coloured;
    }
    EXPECT_GE(coloured, 33 * 5);
    EXPECT_TRUE(varied);
    EXPECT_NE(tui_grid_text(screen.grid).find("+= Quorvanex vexa 3.1"), std::string::npos);
  }
}
