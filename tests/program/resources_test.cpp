// The compiled resources, read back through FindResourceA/LoadResource/LockResource of the program's
// module: the dialog template's controls with what a wrong edit of the script would break (their ids,
// classes, captions, styles and order; the positions are the script's own business), the picture and icon
// formats.
#include <gtest/gtest.h>

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

int32_t long_at(const BYTE* p) { return static_cast<int32_t>(dword_at(p)); }

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
  const std::vector<PlatformResource> resources = platform_module_resources(GetModuleHandleA(nullptr));
  int dialogs = 0, bitmaps = 0, icons = 0, groups = 0, firmware = 0;
  for (const PlatformResource& r : resources) {
    SCOPED_TRACE(r.type_ordinal);
    EXPECT_EQ(r.language, 1031);
    if (r.type_name == "BINTYPE" && r.name == "FIRMWAREFILE")
      ++firmware;
    else if (r.type_ordinal == 5 && r.name_ordinal == IDD_MAIN)
      ++dialogs;
    else if (r.type_ordinal == 2 && r.name_ordinal == IDB_PICTURE)
      ++bitmaps;
    else if (r.type_ordinal == 3 && r.name_ordinal >= 1 && r.name_ordinal <= 7)
      ++icons;
    else if (r.type_ordinal == 14 && r.name_ordinal == IDI_APP)
      ++groups;
    else
      ADD_FAILURE() << "unexpected resource type " << r.type_ordinal << r.type_name << " name "
                    << r.name_ordinal << r.name;
  }
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(bitmaps, 1);
  EXPECT_EQ(icons, 7);
  EXPECT_EQ(groups, 1);
  EXPECT_EQ(firmware, 1);
  EXPECT_EQ(platform_resource_language(FindResourceA(nullptr, MAKEINTRESOURCE(IDD_MAIN), RT_DIALOG)), 1031);
}

TEST(Resources, PictureIsA24BitBottomUpDib) {
  const Bytes bitmap = load(nullptr, MAKEINTRESOURCE(IDB_PICTURE), RT_BITMAP);
  ASSERT_NE(bitmap.data, nullptr);
  ASSERT_EQ(bitmap.size, 40u + 70u * 600u);
  EXPECT_EQ(dword_at(bitmap.data), 40u);       // biSize
  EXPECT_EQ(long_at(bitmap.data + 4), 200);    // biWidth
  EXPECT_EQ(long_at(bitmap.data + 8), 70);     // biHeight, positive: bottom-up
  EXPECT_EQ(word_at(bitmap.data + 12), 1);     // biPlanes
  EXPECT_EQ(word_at(bitmap.data + 14), 24);    // biBitCount
  EXPECT_EQ(dword_at(bitmap.data + 16), 0u);   // BI_RGB
  EXPECT_EQ(long_at(bitmap.data + 24), 2834);  // biXPelsPerMeter
  EXPECT_EQ(long_at(bitmap.data + 28), 2834);  // biYPelsPerMeter
  EXPECT_EQ(dword_at(bitmap.data + 32), 0u);   // biClrUsed: no colour table
}

TEST(Resources, IconGroupListsSevenImages) {
  const Bytes group = load(nullptr, MAKEINTRESOURCE(IDI_APP), RT_GROUP_ICON);
  ASSERT_NE(group.data, nullptr);
  ASSERT_EQ(group.size, 6u + 7u * 14u);
  EXPECT_EQ(word_at(group.data), 0);
  EXPECT_EQ(word_at(group.data + 2), 1);
  EXPECT_EQ(word_at(group.data + 4), 7);

  struct Expected {
    int size, bits;
    DWORD bytes;  // 0 for the PNG, whose size depends on its compression
  };
  const Expected expected[7] = {{48, 8, 3752},  {32, 8, 2216},  {16, 8, 1384}, {256, 32, 0},
                                {48, 32, 9640}, {32, 32, 4264}, {16, 32, 1128}};
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i + 1);
    const BYTE* entry = group.data + 6 + 14 * i;
    const int stored_size = expected[i].size == 256 ? 0 : expected[i].size;
    EXPECT_EQ(entry[0], stored_size);
    EXPECT_EQ(entry[1], stored_size);
    EXPECT_EQ(entry[2], 0) << "colour count";
    EXPECT_EQ(word_at(entry + 4), 1) << "planes";
    EXPECT_EQ(word_at(entry + 6), expected[i].bits);
    EXPECT_EQ(word_at(entry + 12), i + 1);
    const Bytes image = load(nullptr, MAKEINTRESOURCE(i + 1), RT_ICON);
    ASSERT_NE(image.data, nullptr);
    EXPECT_EQ(dword_at(entry + 8), image.size);
    if (expected[i].size == 256) {
      const BYTE png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
      ASSERT_GT(image.size, 33u);
      EXPECT_EQ(std::memcmp(image.data, png, 8), 0);
      EXPECT_EQ(std::memcmp(image.data + 12, "IHDR", 4), 0);
      EXPECT_EQ(image.data[16] << 24 | image.data[17] << 16 | image.data[18] << 8 | image.data[19], 256);
      EXPECT_EQ(image.data[20] << 24 | image.data[21] << 16 | image.data[22] << 8 | image.data[23], 256);
      EXPECT_EQ(image.data[24], 8);  // bits per channel
      EXPECT_EQ(image.data[25], 6);  // RGBA
    } else {
      EXPECT_EQ(image.size, expected[i].bytes);
      EXPECT_EQ(dword_at(image.data), 40u);
      EXPECT_EQ(long_at(image.data + 4), expected[i].size);
      EXPECT_EQ(long_at(image.data + 8), 2 * expected[i].size) << "bitmap and mask";
      EXPECT_EQ(word_at(image.data + 14), expected[i].bits);
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
