// The compiled resources, read back through FindResourceA/LoadResource/LockResource of the program's
// module: the dialog template's controls with what a wrong edit of the script would break (their ids,
// classes, captions, styles and order; the positions are the script's own business), the picture and icon
// formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <variant>

#include "platform/win32/kernel32_ext.h"
#include "resource.h"

namespace {

// A resource's bytes found through the KERNEL32 calls.
struct Bytes {
  const BYTE* data;
  DWORD size;
};

Bytes load(HMODULE module, LPCSTR name, LPCSTR type) {
  HRSRC found = FindResourceA(module, name, type);
  if (found == nullptr) return Bytes{nullptr, 0};
  return Bytes{static_cast<const BYTE*>(LockResource(LoadResource(module, found))),
               SizeofResource(module, found)};
}

WORD word_at(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

DWORD dword_at(const BYTE* p) { return word_at(p) | (static_cast<DWORD>(word_at(p + 2)) << 16); }

// A field of a dialog template: nothing (a lone 0), an ordinal (0xFFFF, value) or a UTF-16 string.
using Field = std::variant<std::monostate, WORD, std::string>;

struct TemplateReader {
  const BYTE* start;
  size_t pos;

  WORD word() { return word_at(start + (pos += 2) - 2); }
  DWORD dword() { return dword_at(start + (pos += 4) - 4); }
  std::string text() {
    std::string s;
    for (WORD c = word(); c != 0; c = word()) s += static_cast<char>(c);
    return s;
  }
  Field field() {
    const WORD first = word_at(start + pos);
    if (first == 0 || first == 0xFFFF) pos += 2;
    if (first == 0) return std::monostate{};
    return first == 0xFFFF ? Field{word()} : Field{text()};
  }
};

// Style bits by value, written out here so that the check does not share its constants with the script.
constexpr DWORD CHILD_VISIBLE = 0x50000000;   // WS_CHILD | WS_VISIBLE
constexpr DWORD DISABLED = 0x08000000;        // WS_DISABLED
constexpr DWORD BORDER = 0x00800000;          // WS_BORDER
constexpr DWORD VSCROLL = 0x00200000;         // WS_VSCROLL
constexpr DWORD TABSTOP = 0x00010000;         // WS_TABSTOP
constexpr DWORD PUSHBUTTON = 0x0;             // BS_PUSHBUTTON
constexpr DWORD AUTOCHECKBOX = 0x3;           // BS_AUTOCHECKBOX
constexpr DWORD GROUPBOX = 0x7;               // BS_GROUPBOX
constexpr DWORD CENTER = 0x1;                 // SS_CENTER, ES_CENTER
constexpr DWORD BITMAP = 0xE;                 // SS_BITMAP
constexpr DWORD NOHIDESEL = 0x100;            // ES_NOHIDESEL
constexpr DWORD NUMBER = 0x2000;              // ES_NUMBER
constexpr DWORD DROPDOWN = 0x2;               // CBS_DROPDOWN
constexpr DWORD HASSTRINGS = 0x200;           // CBS_HASSTRINGS
constexpr DWORD BOTH_NOTICKS = 0x8 | 0x10;    // TBS_HORZ (0) | TBS_BOTH | TBS_NOTICKS
constexpr DWORD ALIGNRIGHT_ARROWKEYS = 0x24;  // UDS_ALIGNRIGHT | UDS_ARROWKEYS

constexpr WORD BUTTON = 0x80;
constexpr WORD EDIT = 0x81;
constexpr WORD STATIC = 0x82;
constexpr WORD COMBOBOX = 0x85;

struct Item {
  WORD id;
  Field cls;
  Field caption;
  DWORD style;
};

// An empty caption is stored as a lone 0, like an absent field.
const Field none{};

Field text(const char* s) { return std::string(s); }

// The 21 controls in template order, with every style bit they carry.
const Item expected_items[21] = {
    {IDC_PORT_COMBO, COMBOBOX, none, CHILD_VISIBLE | VSCROLL | DROPDOWN | HASSTRINGS},
    {IDC_UPDATE_BUTTON, BUTTON, text("Update firmware"), CHILD_VISIBLE | TABSTOP | PUSHBUTTON},
    {IDC_PROGRESS, text("MSCTLS_PROGRESS32"), none, CHILD_VISIBLE},
    {IDC_STATUS_TEXT, STATIC, none, CHILD_VISIBLE | CENTER},
    {IDC_DEVICE_TEXT, STATIC, none, CHILD_VISIBLE | CENTER},
    {0xFFFF, text("STATIC"), WORD{IDB_PICTURE}, CHILD_VISIBLE | BITMAP},
    {IDC_BLANK_LEADING_ZERO, BUTTON, text("Blank leading zero"), CHILD_VISIBLE | DISABLED | AUTOCHECKBOX},
    {IDC_BLANK_FRAMES, BUTTON, text("Blank frames when running"), CHILD_VISIBLE | DISABLED | AUTOCHECKBOX},
    {IDC_MMC_ID_EDIT, EDIT, none, CHILD_VISIBLE | DISABLED | BORDER | CENTER | NOHIDESEL | NUMBER},
    {IDC_BRIGHTNESS, text("MSCTLS_TRACKBAR32"), none, CHILD_VISIBLE | DISABLED | TABSTOP | BOTH_NOTICKS},
    {IDC_MMC_ID_SPIN, text("MSCTLS_UPDOWN32"), none,
     CHILD_VISIBLE | DISABLED | TABSTOP | ALIGNRIGHT_ARROWKEYS},
    {IDC_STATIONARY_LTC, BUTTON, text("Enable stationary LTC output"),
     CHILD_VISIBLE | DISABLED | AUTOCHECKBOX},
    {0xFFFF, BUTTON, text("Brightness"), CHILD_VISIBLE | GROUPBOX},
    {0xFFFF, BUTTON, text("MIDI Machine Control ID"), CHILD_VISIBLE | GROUPBOX},
    {IDC_HELP_UPDATE, BUTTON, text("?"), CHILD_VISIBLE | TABSTOP | PUSHBUTTON},
    {IDC_HELP_SETTINGS, BUTTON, text("?"), CHILD_VISIBLE | TABSTOP | PUSHBUTTON},
    {IDC_INFINITE_FLYWHEEL, BUTTON, text("Infinite flywheel"), CHILD_VISIBLE | DISABLED | AUTOCHECKBOX},
    {IDC_MTC_MMC_LOCATE, BUTTON, text("MTC with MMC Locate"), CHILD_VISIBLE | DISABLED | AUTOCHECKBOX},
    {IDC_LTC_HOLD_OFF, BUTTON, text("Extended LTC hold off"), CHILD_VISIBLE | DISABLED | AUTOCHECKBOX},
    {IDC_MTC_FULL_MESSAGE, BUTTON, text("Enable MTC full message"), CHILD_VISIBLE | DISABLED | AUTOCHECKBOX},
    {IDC_ENABLE_TRVX, BUTTON, text("Enable TRVX"), CHILD_VISIBLE | DISABLED | AUTOCHECKBOX},
};

// Checks the dialog template of a module against its controls.
void expect_main_dialog(HMODULE module) {
  const Bytes dialog = load(module, MAKEINTRESOURCE(IDD_MAIN), RT_DIALOG);
  ASSERT_NE(dialog.data, nullptr);
  TemplateReader r{dialog.data, 0};
  // WS_POPUP WS_VISIBLE WS_CAPTION WS_SYSMENU WS_MINIMIZEBOX DS_MODALFRAME DS_CENTER DS_SETFONT DS_FIXEDSYS
  // DS_3DLOOK
  EXPECT_EQ(r.dword(), 0x90CA08CCu);
  EXPECT_EQ(r.dword(), 0u);
  EXPECT_EQ(r.word(), 21);
  r.pos += 8;  // the dialog's position and size
  EXPECT_EQ(r.field(), Field{});
  EXPECT_EQ(r.field(), Field{});
  EXPECT_EQ(r.field(), text(" Quorvanex vexa 3.1"));
  EXPECT_EQ(r.word(), 8);
  EXPECT_EQ(r.text(), "Ms Shell Dlg 2");

  for (const Item& item : expected_items) {
    SCOPED_TRACE(item.id);
    r.pos = (r.pos + 3) & ~size_t{3};
    EXPECT_EQ(r.dword(), item.style);
    EXPECT_EQ(r.dword(), 0u);
    r.pos += 8;  // the control's position and size
    EXPECT_EQ(r.word(), item.id);
    EXPECT_EQ(r.field(), item.cls);
    EXPECT_EQ(r.field(), item.caption);
    EXPECT_EQ(r.word(), 0) << "creation data";
  }
  EXPECT_EQ(r.pos, dialog.size);
}

TEST(Resources, MainDialogTemplateHoldsItsControlsInOrder) {
  expect_main_dialog(nullptr);
  expect_main_dialog(GetModuleHandleA(nullptr));
}

TEST(Resources, ExactlyTheProgramsResourcesAllInGerman) {
  std::vector<std::string> found;  // type/name, each by its name or else its number
  for (const PlatformResource& r : platform_module_resources(GetModuleHandleA(nullptr))) {
    found.push_back((r.type_name.empty() ? std::to_string(r.type_ordinal) : r.type_name) + "/" +
                    (r.name.empty() ? std::to_string(r.name_ordinal) : r.name));
    EXPECT_EQ(r.language, 1031) << found.back();
  }
  std::sort(found.begin(), found.end());
  const std::string group = "14/" + std::to_string(IDI_APP), picture = "2/" + std::to_string(IDB_PICTURE);
  EXPECT_EQ(found, (std::vector<std::string>{group, picture, "3/1", "3/2", "3/3", "3/4", "3/5", "3/6", "3/7",
                                             "5/" + std::to_string(IDD_MAIN), "BINTYPE/FIRMWAREFILE"}));
  EXPECT_EQ(platform_resource_language(FindResourceA(nullptr, MAKEINTRESOURCE(IDD_MAIN), RT_DIALOG)), 1031);
}

// The little-endian fields of a header, each at its offset and 2 or 4 bytes long.
std::vector<DWORD> fields(const BYTE* p, std::initializer_list<std::pair<int, int>> offsets_and_sizes) {
  std::vector<DWORD> values;
  for (auto [offset, size] : offsets_and_sizes)
    values.push_back(size == 2 ? word_at(p + offset) : dword_at(p + offset));
  return values;
}

// The BITMAPINFOHEADER fields size, width, height, planes, bits, compression, pixels per metre across and
// up, colours used.
const std::initializer_list<std::pair<int, int>> BITMAP_HEADER = {{0, 4},  {4, 4},  {8, 4},  {12, 2}, {14, 2},
                                                                  {16, 4}, {24, 4}, {28, 4}, {32, 4}};

TEST(Resources, PictureIsA24BitBottomUpDib) {
  const Bytes bitmap = load(nullptr, MAKEINTRESOURCE(IDB_PICTURE), RT_BITMAP);
  ASSERT_EQ(bitmap.size, 40u + 70u * 600u);
  // Bottom-up (a positive height), no compression and no colour table.
  EXPECT_EQ(fields(bitmap.data, BITMAP_HEADER), (std::vector<DWORD>{40, 200, 70, 1, 24, 0, 2834, 2834, 0}));
}

TEST(Resources, IconGroupListsSevenImages) {
  const Bytes group = load(nullptr, MAKEINTRESOURCE(IDI_APP), RT_GROUP_ICON);
  ASSERT_EQ(group.size, 6u + 7u * 14u);
  EXPECT_EQ(fields(group.data, {{0, 2}, {2, 2}, {4, 2}}), (std::vector<DWORD>{0, 1, 7}));
  // Each image's size, colour bits and bytes; the 256-pixel one is a PNG, its bytes its compression's.
  const DWORD expected[7][3] = {{48, 8, 3752},  {32, 8, 2216},  {16, 8, 1384}, {256, 32, 0},
                                {48, 32, 9640}, {32, 32, 4264}, {16, 32, 1128}};
  for (DWORD i = 0; i < 7; ++i) {
    SCOPED_TRACE(i + 1);
    const auto [size, bits, bytes] = expected[i];
    const Bytes image = load(nullptr, MAKEINTRESOURCE(i + 1), RT_ICON);
    ASSERT_NE(image.data, nullptr);
    // The group's entry: width and height (0 for 256), no colour count, one plane, bits, bytes and id.
    const BYTE* entry = group.data + 6 + 14 * i;
    EXPECT_EQ((std::vector<DWORD>{entry[0], entry[1], entry[2], word_at(entry + 4), word_at(entry + 6),
                                  dword_at(entry + 8), word_at(entry + 12)}),
              (std::vector<DWORD>{size % 256, size % 256, 0, 1, bits, image.size, i + 1}));
    if (size == 256) {
      ASSERT_GT(image.size, 33u);
      EXPECT_EQ(std::memcmp(image.data, "\x89PNG\r\n\x1A\n", 8), 0);
      // 256 x 256, 8 bits of each of red, green, blue and alpha
      EXPECT_EQ(std::memcmp(image.data + 12, "IHDR\0\0\x01\0\0\0\x01\0\x08\x06", 14), 0);
    } else {
      EXPECT_EQ(image.size, bytes);
      EXPECT_EQ(fields(image.data, {{0, 4}, {4, 4}, {8, 4}, {14, 2}}),
                (std::vector<DWORD>{40, size, 2 * size, bits}));  // the height of the bitmap and its mask
    }
  }

  const HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(IDI_APP));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(IDI_APP)), icon);
  const std::vector<PlatformIconImage> images = platform_icon_images(icon);
  ASSERT_EQ(images.size(), 7u);
  EXPECT_EQ(images[3].width, 256);
  EXPECT_EQ(images[3].bits, 32);
  EXPECT_EQ(images[6].width, 16);
  EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(121)), nullptr);
  EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(IDB_PICTURE)), nullptr);
}

}  // namespace
