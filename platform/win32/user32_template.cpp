// USER32 for the Linux layer: the window classes, and dialog templates (DLGTEMPLATE and its items) as a
// resource compiler lays them out.
#include "platform/win32/user32_internal.h"

namespace {

class TemplateReader {
 public:
  TemplateReader(const BYTE* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool ok() const { return ok_; }
  WORD word() {
    if (pos_ + 2 > size_) {
      ok_ = false;
      return 0;
    }
    WORD v = WORD(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  DWORD dword() {
    DWORD low = word();
    return low | DWORD(word()) << 16;
  }
  void align_dword() { pos_ = (pos_ + 3) & ~size_t(3); }
  void skip(size_t n) {
    if (pos_ + n > size_) ok_ = false;
    pos_ += n;
  }
  // A zero-terminated UTF-16 string, as UTF-8.
  std::string string() {
    std::string out;
    for (WORD c = word(); ok_ && c != 0; c = word()) {
      if (c < 0x80) {
        out += char(c);
      } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
      } else {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
      }
    }
    return out;
  }
  // An array that holds nothing (0), an ordinal (0xFFFF and a WORD) or a string. Returns the ordinal, or
  // -1 for a string, which goes to `text`.
  int string_or_ordinal(std::string& text) {
    WORD first = word();
    if (first == 0) return 0;
    if (first == 0xFFFF) return word();
    pos_ -= 2;
    text = string();
    return -1;
  }

 private:
  const BYTE* bytes_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// The window classes in the order of WindowKind: a template's predefined ordinal (0: none) and the name.
struct WindowClass {
  WindowKind kind;
  int ordinal;
  const char* name;
};
constexpr WindowClass CLASSES[] = {
    {WindowKind::dialog, 0, "#32770"},          {WindowKind::button, 0x80, "Button"},
    {WindowKind::edit, 0x81, "Edit"},           {WindowKind::static_text, 0x82, "Static"},
    {WindowKind::combo, 0x85, "ComboBox"},      {WindowKind::progress, 0, PROGRESS_CLASSA},
    {WindowKind::trackbar, 0, TRACKBAR_CLASSA}, {WindowKind::updown, 0, UPDOWN_CLASSA},
};

constexpr bool in_kind_order() {
  for (size_t i = 0; i < std::size(CLASSES); ++i)
    if (CLASSES[i].kind != WindowKind(i)) return false;
  return std::size(CLASSES) == size_t(WindowKind::updown) + 1;
}
static_assert(in_kind_order());

// Class of a dialog item: a predefined ordinal or a registered name, compared without regard to case. A
// dialog is no item.
bool class_of(int ordinal, const std::string& name, WindowKind& kind) {
  for (const WindowClass& c : CLASSES)
    if (c.kind != WindowKind::dialog &&
        ((ordinal > 0 && ordinal == c.ordinal) || (ordinal < 0 && same_text(name, c.name)))) {
      kind = c.kind;
      return true;
    }
  return false;
}

}  // namespace

const char* class_name(WindowKind kind) { return CLASSES[size_t(kind)].name; }

bool parse_template(const BYTE* bytes, size_t size, Template& t) {
  TemplateReader r(bytes, size);
  t.style = r.dword();
  if (t.style == 0xFFFF0001)  // DLGTEMPLATEEX: version 1, signature 0xFFFF
    return false;
  t.ex_style = r.dword();
  WORD count = r.word();
  t.x = short(r.word());
  t.y = short(r.word());
  t.cx = short(r.word());
  t.cy = short(r.word());
  std::string menu, class_name;
  r.string_or_ordinal(menu);
  if (r.string_or_ordinal(class_name) != 0) return false;  // only the standard dialog class
  t.title = r.string();
  if (t.style & DS_SETFONT) {
    t.point_size = r.word();
    t.font = r.string();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    TemplateItem item;
    r.align_dword();
    item.style = r.dword();
    item.ex_style = r.dword();
    item.x = short(r.word());
    item.y = short(r.word());
    item.cx = short(r.word());
    item.cy = short(r.word());
    WORD id = r.word();
    item.id = id == 0xFFFF ? -1 : id;
    std::string name;
    int ordinal = r.string_or_ordinal(name);
    if (!r.ok() || !class_of(ordinal, name, item.kind)) return false;
    int title = r.string_or_ordinal(item.text);
    if (title > 0) item.title_ordinal = title;
    r.skip(r.word());  // creation data
    t.items.push_back(std::move(item));
  }
  return r.ok();
}
