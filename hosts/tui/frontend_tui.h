// Terminal front end of the Linux layer: it shows the current dialog of the USER32 layer in a terminal and
// turns a person's keys and mouse clicks into the layer's person input (user32_ext.h).
//
// Drawing is a pure function from a snapshot of the dialog and its open message boxes to a grid of character
// cells (frontend_tui.cpp, with the layouts in frontend_tui_layout.cpp and the painter in
// frontend_tui_paint.cpp), so that it can be checked as plain text; the terminal part
// (frontend_tui_curses.cpp) only paints that grid and reads keys. Input mapping (tui_key, tui_click,
// frontend_tui_input.cpp) works through the host API and needs no terminal either.
//
// Geometry: a dialog unit is a quarter of a cell wide and an eighth of a cell high, so the 210 x 340 dialog
// takes 53 x 43 cells inside its frame.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/user32_ext.h"

// Colours are 0xRRGGBB; TUI_DEFAULT is the terminal's own colour.
constexpr uint32_t TUI_DEFAULT = 0xFFFFFFFFu;

// Cell attributes.
constexpr uint8_t TUI_DIM = 1;        // disabled control
constexpr uint8_t TUI_REVERSE = 2;    // focus, selection
constexpr uint8_t TUI_BOLD = 4;       // captions
constexpr uint8_t TUI_UNDERLINE = 8;  // hot-key letter

struct TuiCell {
  std::string glyph = " ";  // one character, UTF-8
  uint32_t fg = TUI_DEFAULT;
  uint32_t bg = TUI_DEFAULT;
  uint8_t attr = 0;
};

struct TuiGrid {
  int rows = 0;
  int cols = 0;
  std::vector<TuiCell> cells;  // row by row
};

// The picture of a SS_BITMAP control: pixels top row first, 0xRRGGBB.
struct TuiPicture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

// Decodes a bitmap resource (BITMAPINFOHEADER followed by the pixels, 24 or 32 bits, uncompressed, bottom-up
// or top-down); false for anything else.
bool tui_decode_bitmap(const uint8_t* dib, size_t size, TuiPicture& out);
// Loads bitmap `id` from a module's resources (NULL: the program's module).
bool tui_load_picture(HINSTANCE module, int id, TuiPicture& out);

// Places on the screen that a mouse click can hit.
enum class TuiZoneKind { control, spin_up, spin_down, slider, list_item, box_ok, close_button };
struct TuiZone {
  TuiZoneKind kind;
  int id;     // control id (list_item: the combo box; box_ok: unused)
  int value;  // list_item: entry index; slider: position at this cell; box_ok: the box serial
  int row, col, rows, cols;
};

// A hot key: pressing `letter` (or Alt+letter) acts on control `target` as a click would; the letter is
// shown underlined at position `offset` of the caption of control `caption_index` (template order).
struct TuiHotKey {
  char letter;
  int target;
  int caption_index;
  int offset;
};

// What the front end keeps of its own between frames.
struct TuiView {
  bool colours = true;      // the terminal has colours: the picture is drawn in colour
  bool unicode = true;      // box-drawing and block glyphs; plain ASCII otherwise
  uint64_t box_serial = 0;  // the message box that box_scroll belongs to
  int box_scroll = 0;       // first text line shown of a box too tall for the screen
  bool sim_keys = false;    // the simulated unit is in use: show its key on the help line
  bool sim_update_mode = false;
  std::string midi_problem;  // shown on the help lines ("JACK: no server running")
  std::string timecode;      // the time code reader's line, right below the dialog; empty: none
};

// How the dialog is laid out in the terminal: as its template has it (55 x 47 cells), in two columns (80 x
// 24), one column (40 x 35), or one of the last two scrolled so that the focused control is in view.
enum class TuiLayout { full, columns, stacked, scrolled };

struct TuiScreen {
  TuiGrid grid;
  std::vector<TuiZone> zones;
  int cursor_row = -1;  // where the terminal cursor goes (a focused edit box), -1 for hidden
  int cursor_col = -1;
  TuiLayout layout = TuiLayout::full;
  int scroll_row = 0;  // first row and column of the dialog shown, when it scrolls
  int scroll_col = 0;
  int box_lines = 0;  // text lines of the top box and how many fit, for scrolling
  int box_visible_lines = 0;
  int timecode_row = -1;  // where the time code line is, so that it can be kept current alone; -1: nowhere
  int timecode_col = 0;
  int timecode_cols = 0;
};

// Cells that a dialog needs in the terminal as its template has it: its frame and the help lines below it.
void tui_needed_size(const User32Dialog& dialog, int& rows, int& cols);

// The hot keys of a dialog: every button, check box and group box gets the first free letter of its
// caption (word starts first); a group box's letter goes to the first control inside it that takes the
// focus. Letters are lower case.
std::vector<TuiHotKey> tui_hot_keys(const User32Dialog& dialog);

// Draws the dialog (NULL: none open yet) and its open boxes (bottom first) into a rows x cols screen, in the
// first layout that fits, or scrolled.
TuiScreen tui_draw(const User32Dialog* dialog, const std::vector<User32MessageBox>& boxes,
                   const TuiPicture& picture, const TuiView& view, int rows, int cols);

// The grid as text, one line per row without trailing blanks; glyphs as they are (UTF-8).
std::string tui_grid_text(const TuiGrid& grid);
std::string tui_grid_row(const TuiGrid& grid, int row);

// Keys as the front end sees them: printable ASCII as itself, the others below.
enum TuiKeyCode : int {
  TUI_KEY_TAB = 0x100,
  TUI_KEY_ENTER,
  TUI_KEY_ESCAPE,
  TUI_KEY_BACKSPACE,
  TUI_KEY_DELETE,
  TUI_KEY_UP,
  TUI_KEY_DOWN,
  TUI_KEY_LEFT,
  TUI_KEY_RIGHT,
  TUI_KEY_PAGE_UP,
  TUI_KEY_PAGE_DOWN,
  TUI_KEY_HOME,
  TUI_KEY_END,
  TUI_KEY_F1,                      // F1..F12 follow in order
  TUI_KEY_QUIT = TUI_KEY_F1 + 12,  // Ctrl+Q
};
constexpr int tui_key_f(int n) { return TUI_KEY_F1 + n - 1; }

struct TuiKey {
  int code;
  bool shift = false;
  bool alt = false;
};

// Results of tui_key and tui_click besides the layer's USER32_ codes.
constexpr int TUI_IGNORED = 1;  // the key or click means nothing here

// A key of the person: goes to the open message box, the open port list, the hot keys or the focused
// control. `screen` is the last frame drawn (for box scrolling).
int tui_key(TuiView& view, const TuiScreen& screen, const TuiKey& key);
// Whether the built-in simulated unit runs its boot loader (F9 switches it, as if it had been plugged in
// with both keys held; the unit finishing an update switches it back).
bool tui_sim_update_mode();
// A left click at a cell of the last frame drawn.
int tui_click(const TuiScreen& screen, int row, int col);
// Closing as the window's close button does. Open message boxes are answered first (a box keeps the
// dialog from taking input), so that the program also ends when the terminal has gone. Gives up after
// about `timeout_ms`.
int tui_close(int timeout_ms);

// Takes the terminal for tui_run: false, with the reason in `error`, when standard input or output is no
// terminal or TERM names none that ncurses knows.
bool tui_open_terminal(std::string& error);
// Runs the terminal front end on the terminal that tui_open_terminal took, until `stop` is set: paints
// every change of the dialog, reads keys and the mouse. A hang-up or SIGTERM (flagged in `hangup`) closes the
// dialog, as soon as it exists. `midi_problem` (a MIDI service that cannot be reached) is shown on the help
// lines. `timecode_line` (null: none) gives the line below the dialog, which is kept current on its own,
// without drawing the dialog again. Call on a thread of its own.
void tui_run(const std::atomic<bool>& stop, const std::atomic<bool>& hangup, const std::string& midi_problem,
             std::string (*timecode_line)() = nullptr);
