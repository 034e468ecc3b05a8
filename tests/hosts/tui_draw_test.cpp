// The terminal front end's drawing: each kind of control from a given state, as plain text and cell
// attributes, without a terminal.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "hosts/tui/frontend_tui.h"
#include "resource.h"

namespace {

// A control with its template's rectangle and style; `state` is a check box's check or a bar's position.
User32Control control(User32Kind kind, int id, int x, int y, int cx, int cy, DWORD style,
                      const std::string& text = "", int state = 0, bool focused = false) {
  User32Control c{};
  c.check = state;
  c.position = state;
  c.focused = focused;
  c.kind = kind;
  c.id = id;
  c.x = x;
  c.y = y;
  c.cx = cx;
  c.cy = cy;
  c.style = style | WS_CHILD | WS_VISIBLE;
  c.text = text;
  c.enabled = (style & WS_DISABLED) == 0;
  c.visible = true;
  c.selection = -1;
  return c;
}

User32Dialog dialog_with(std::vector<User32Control> controls) {
  User32Dialog d{};
  d.title = " Quorvanex vexa 3.1";
  d.cx = 210;
  d.cy = 340;
  d.visible = true;
  d.controls = std::move(controls);
  for (const User32Control& c : d.controls)
    if (c.focused) d.focus_id = c.id;
  return d;
}

// A 60 x 50 terminal: the 55 x 47 dialog sits at column 2 and row 1, its client area at column 3, row 2.
constexpr int ROWS = 50, COLS = 60, TOP = 2, LEFT = 3;

TuiScreen draw(const User32Dialog& d, const std::vector<User32MessageBox>& boxes = {},
               TuiView view = TuiView{}, const TuiPicture& picture = TuiPicture{}) {
  return tui_draw(&d, boxes, picture, view, ROWS, COLS);
}

// The text of a client row from a client column, `width` cells long.
std::string cells(const TuiScreen& s, int row, int col, int width) {
  std::string text;
  for (int i = 0; i < width; ++i)
    text += s.grid.cells[static_cast<size_t>((TOP + row) * s.grid.cols + LEFT + col + i)].glyph;
  return text;
}

const TuiCell& cell(const TuiScreen& s, int row, int col) {
  return s.grid.cells[static_cast<size_t>((TOP + row) * s.grid.cols + LEFT + col)];
}

const TuiZone* zone_at(const TuiScreen& s, int row, int col) {
  const TuiZone* hit = nullptr;
  for (const TuiZone& z : s.zones)
    if (TOP + row >= z.row && TOP + row < z.row + z.rows && LEFT + col >= z.col &&
        LEFT + col < z.col + z.cols)
      hit = &z;
  return hit;
}

std::string repeat(const char* glyph, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += glyph;
  return text;
}

}  // namespace

TEST(TuiDraw, FrameCaptionHelpAndSize) {
  const User32Dialog d = dialog_with({});
  int rows = 0, cols = 0;
  tui_needed_size(d, rows, cols);
  EXPECT_EQ(rows, 47);
  EXPECT_EQ(cols, 55);
  const TuiScreen s = draw(d);
  EXPECT_EQ(s.layout, TuiLayout::full);
  EXPECT_EQ(tui_grid_row(s.grid, 1), "  ╔═ Quorvanex vexa 3.1 " + repeat("═", 28) + "[×]═╗");
  EXPECT_EQ(tui_grid_row(s.grid, 45), "  ╚" + repeat("═", 53) + "╝");
  EXPECT_EQ(tui_grid_row(s.grid, 2), "  ║                                                     ║");
  EXPECT_EQ(tui_grid_row(s.grid, 46), "   Tab: next  Space: press/tick  F4: ports  Ctrl+Q: quit");
  EXPECT_TRUE(cell(s, -1, 3).attr & TUI_BOLD);
  const TuiZone* close = zone_at(s, -1, 50);
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->kind, TuiZoneKind::close_button);

  // Without UTF-8 the frame is plain ASCII.
  TuiView ascii;
  ascii.unicode = false;
  EXPECT_EQ(tui_grid_row(draw(d, {}, ascii).grid, 1),
            "  += Quorvanex vexa 3.1 " + std::string(28, '=') + "[X]=+");

  // One cell short in either direction: another layout, never a refusal.
  for (auto [r, c] : {std::pair{46, 60}, std::pair{50, 54}}) {
    const TuiScreen small = tui_draw(&d, {}, TuiPicture{}, TuiView{}, r, c);
    EXPECT_NE(small.layout, TuiLayout::full);
    EXPECT_NE(tui_grid_text(small.grid).find("Quorvanex"), std::string::npos);
  }
}

TEST(TuiDraw, ButtonsCheckBoxesAndTexts) {
  User32Control update = control(User32Kind::push_button, IDC_UPDATE_BUTTON, 40, 81, 133, 12,
                                 BS_PUSHBUTTON | WS_TABSTOP, "Update firmware");
  User32Control help = control(User32Kind::push_button, IDC_HELP_UPDATE, 180, 81, 15, 12,
                               BS_PUSHBUTTON | WS_TABSTOP, "?", 0, true);
  User32Control ticked = control(User32Kind::check_box, IDC_BLANK_LEADING_ZERO, 40, 135, 100, 8,
                                 BS_AUTOCHECKBOX, "Blank leading zero", BST_CHECKED);
  User32Control greyed = control(User32Kind::check_box, IDC_BLANK_FRAMES, 40, 147, 101, 8,
                                 BS_AUTOCHECKBOX | WS_DISABLED, "Blank frames when running");
  User32Control odd = control(User32Kind::check_box, IDC_STATIONARY_LTC, 40, 159, 110, 8, BS_AUTO3STATE,
                              "Enable stationary LTC output", BST_INDETERMINATE);
  const User32Control device =
      control(User32Kind::text, IDC_DEVICE_TEXT, 54, 68, 111, 12, SS_CENTER, "Firmware 3.1");
  const User32Control left = control(User32Kind::text, IDC_STATUS_TEXT, 56, 98, 108, 8, SS_LEFT, "Writing");
  const TuiScreen s = draw(dialog_with({update, help, ticked, greyed, odd, device, left}));

  EXPECT_EQ(cells(s, 10, 10, 33), "       [ Update firmware ]       ");
  EXPECT_EQ(cells(s, 10, 45, 4), "[?] ");
  EXPECT_TRUE(cell(s, 10, 45).attr & TUI_REVERSE);  // the focus
  EXPECT_FALSE(cell(s, 10, 20).attr & TUI_REVERSE);
  EXPECT_TRUE(cell(s, 10, 19).attr & TUI_UNDERLINE);  // hot key u
  EXPECT_EQ(cells(s, 17, 10, 22), "[x] Blank leading zero");
  EXPECT_TRUE(cell(s, 17, 14).attr & TUI_UNDERLINE);  // hot key b
  // The caption runs past the 25 cells of the control's rectangle.
  EXPECT_EQ(cells(s, 18, 10, 29), "[ ] Blank frames when running");
  EXPECT_TRUE(cell(s, 18, 10).attr & TUI_DIM);
  EXPECT_TRUE(cell(s, 18, 38).attr & TUI_DIM);
  EXPECT_FALSE(cell(s, 17, 14).attr & TUI_DIM);
  EXPECT_EQ(cells(s, 20, 10, 32), "[-] Enable stationary LTC output");
  EXPECT_EQ(cells(s, 9, 14, 27), "       Firmware 3.1        ");
  EXPECT_EQ(cells(s, 12, 14, 10), "Writing   ");

  const TuiZone* zone = zone_at(s, 18, 30);
  ASSERT_NE(zone, nullptr);
  EXPECT_EQ(zone->kind, TuiZoneKind::control);
  EXPECT_EQ(zone->id, IDC_BLANK_FRAMES);
  EXPECT_EQ(zone_at(s, 9, 20), nullptr);  // texts take no clicks
}

TEST(TuiDraw, ComboBoxClosedAndOpen) {
  User32Control combo =
      control(User32Kind::combo_box, IDC_PORT_COMBO, 40, 49, 133, 90, CBS_DROPDOWN | WS_VSCROLL, "vexa");
  EXPECT_EQ(cells(draw(dialog_with({combo})), 6, 10, 33), "[vexa                          ▼]");

  combo.dropped = true;
  for (int i = 0; i < 12; ++i) combo.items.push_back("port " + std::to_string(i));
  combo.selection = 1;
  TuiScreen s = draw(dialog_with({combo}));
  EXPECT_EQ(cells(s, 7, 10, 33), "│port 0                         │");
  EXPECT_EQ(cells(s, 15, 10, 33), "│port 8                         ▼");
  EXPECT_EQ(cells(s, 16, 10, 33), "└───────────────────────────────┘");
  EXPECT_TRUE(cell(s, 8, 11).attr & TUI_REVERSE);
  EXPECT_FALSE(cell(s, 7, 11).attr & TUI_REVERSE);
  const TuiZone* item = zone_at(s, 8, 20);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->kind, TuiZoneKind::list_item);
  EXPECT_EQ(item->value, 1);

  // The list scrolls to keep the selection in view.
  combo.selection = 11;
  s = draw(dialog_with({combo}));
  EXPECT_EQ(cells(s, 7, 10, 33), "│port 3                         ▲");
  EXPECT_EQ(cells(s, 15, 10, 33), "│port 11                        │");
  EXPECT_EQ(zone_at(s, 15, 20)->value, 11);

  // An empty open list is one empty line.
  combo.items.clear();
  combo.selection = -1;
  s = draw(dialog_with({combo}));
  EXPECT_EQ(cells(s, 7, 10, 33), "│                               │");
  EXPECT_EQ(cells(s, 8, 10, 33), "└───────────────────────────────┘");
}

// Port names come as UTF-8: one cell per character, shown as itself in a UTF-8 terminal where it takes one
// cell, '?' otherwise and for broken sequences.
TEST(TuiDraw, PortNamesOfManyBytesTakeACellPerCharacter) {
  const std::string locale = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  User32Control combo = control(User32Kind::combo_box, IDC_PORT_COMBO, 40, 49, 133, 90,
                                CBS_DROPDOWN | WS_VSCROLL, "Caf\xC3\xA9 \xC3\xBCtility");
  combo.dropped = true;
  combo.items = {"Caf\xC3\xA9 \xC3\xBCtility", "\xE6\x97\xA5\xE6\x9C\xAC", "cut \xC3",
                 "\xA9 stray \xF0\x9F\x8E\xB9"};
  const TuiScreen s = draw(dialog_with({combo}));
  EXPECT_EQ(cells(s, 6, 10, 33), "[Caf\xC3\xA9 \xC3\xBCtility                  \xE2\x96\xBC]");
  EXPECT_EQ(cells(s, 7, 10, 14),
            "\xE2\x94\x82"
            "Caf\xC3\xA9 \xC3\xBCtility ");
  EXPECT_EQ(cells(s, 8, 10, 4), "\xE2\x94\x82?? ");  // two characters two cells wide
  EXPECT_EQ(cells(s, 9, 10, 7),
            "\xE2\x94\x82"
            "cut ? ");
  EXPECT_EQ(cells(s, 10, 10, 11), "\xE2\x94\x82? stray ? ");
  TuiView ascii;
  ascii.unicode = false;
  EXPECT_EQ(cells(draw(dialog_with({combo}), {}, ascii), 7, 10, 14), "|Caf? ?tility ");
  std::setlocale(LC_CTYPE, locale.c_str());
}

TEST(TuiDraw, ProgressSliderSpinAndEditBox) {
  User32Control progress = control(User32Kind::progress_bar, IDC_PROGRESS, 40, 114, 133, 7, 0, "", 50);
  progress.maximum = 100;
  User32Control slider =
      control(User32Kind::trackbar, IDC_BRIGHTNESS, 40, 310, 125, 15, TBS_HORZ | TBS_NOTICKS, "", 15);
  slider.maximum = 15;
  User32Control spin = control(User32Kind::up_down, IDC_MMC_ID_SPIN, 45, 265, 11, 14,
                               UDS_ALIGNRIGHT | UDS_ARROWKEYS | WS_DISABLED);
  User32Control edit = control(User32Kind::edit, IDC_MMC_ID_EDIT, 80, 265, 21, 14,
                               ES_CENTER | ES_NUMBER | WS_BORDER, "042", 0, true);
  TuiScreen s = draw(dialog_with({progress, slider, spin, edit}));

  EXPECT_EQ(cells(s, 14, 10, 33), "████████████████░░░░░░░░░░░░░░░░░");
  EXPECT_EQ(cells(s, 39, 10, 31), " " + repeat("─", 28) + "█ ");
  EXPECT_EQ(cells(s, 33, 11, 3), "[▲]");
  EXPECT_EQ(cells(s, 34, 11, 3), "[▼]");
  EXPECT_TRUE(cell(s, 33, 12).attr & TUI_DIM);
  EXPECT_EQ(cells(s, 33, 20, 5), "[042]");
  EXPECT_TRUE(cell(s, 33, 22).attr & TUI_REVERSE);
  EXPECT_EQ(s.cursor_row, TOP + 33);
  EXPECT_EQ(s.cursor_col, LEFT + 24);

  // Clicks: each cell of the channel stands for a position, the spin has an upper and a lower arrow.
  EXPECT_EQ(zone_at(s, 39, 11)->value, 0);
  EXPECT_EQ(zone_at(s, 39, 25)->value, 8);  // 7.5 rounded
  EXPECT_EQ(zone_at(s, 39, 39)->value, 15);
  EXPECT_EQ(zone_at(s, 33, 12)->kind, TuiZoneKind::spin_up);
  EXPECT_EQ(zone_at(s, 34, 12)->kind, TuiZoneKind::spin_down);

  progress.position = 150;  // past the range: full
  slider.position = 0;
  slider.focused = true;
  edit.focused = false;
  edit.text = "5";
  s = draw(dialog_with({progress, slider, spin, edit}));
  EXPECT_EQ(cells(s, 14, 10, 33), repeat("█", 33));
  EXPECT_EQ(cells(s, 39, 10, 31), " █" + repeat("─", 28) + " ");
  EXPECT_TRUE(cell(s, 39, 20).attr & TUI_REVERSE);
  EXPECT_EQ(cells(s, 33, 20, 5), "[ 5 ]");
  EXPECT_EQ(s.cursor_row, -1);
}

TEST(TuiDraw, HotKeysFollowCaptionsAndGroups) {
  const User32Dialog d = dialog_with({
      control(User32Kind::combo_box, IDC_PORT_COMBO, 40, 49, 133, 90, CBS_DROPDOWN),
      control(User32Kind::push_button, IDC_UPDATE_BUTTON, 40, 81, 133, 12, BS_PUSHBUTTON, "Update firmware"),
      control(User32Kind::check_box, IDC_BLANK_LEADING_ZERO, 40, 135, 100, 8, BS_AUTOCHECKBOX,
              "Blank leading zero"),
      control(User32Kind::edit, IDC_MMC_ID_EDIT, 80, 265, 21, 14, ES_NUMBER),
      control(User32Kind::trackbar, IDC_BRIGHTNESS, 40, 310, 125, 15, 0),
      control(User32Kind::up_down, IDC_MMC_ID_SPIN, 45, 265, 11, 14, 0),
      control(User32Kind::group_box, -1, 40, 300, 133, 29, BS_GROUPBOX, "Brightness"),
      control(User32Kind::group_box, -1, 40, 254, 133, 32, BS_GROUPBOX, "MIDI Machine Control ID"),
      control(User32Kind::push_button, IDC_HELP_UPDATE, 180, 81, 15, 12, BS_PUSHBUTTON, "?"),
      control(User32Kind::check_box, IDC_MTC_MMC_LOCATE, 40, 184, 86, 8, BS_AUTOCHECKBOX,
              "MTC with MMC Locate"),
  });
  // Each key's letter, target and offset in its caption. "Brightness" finds b taken and takes its next
  // letter; its key goes to the slider inside the group.
  const auto key = [](char letter, int target, int offset) {
    return letter + (" " + std::to_string(target) + " " + std::to_string(offset));
  };
  std::vector<std::string> keys;
  for (const TuiHotKey& k : tui_hot_keys(d)) keys.push_back(key(k.letter, k.target, k.offset));
  EXPECT_EQ(keys, (std::vector<std::string>{key('u', IDC_UPDATE_BUTTON, 0),
                                            key('b', IDC_BLANK_LEADING_ZERO, 0), key('r', IDC_BRIGHTNESS, 1),
                                            key('m', IDC_MMC_ID_EDIT, 0), key('w', IDC_MTC_MMC_LOCATE, 4)}));
}
