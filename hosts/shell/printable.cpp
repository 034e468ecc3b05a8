#include "hosts/shell/printable.h"

namespace {

// The length of the character at `at`: its UTF-8 sequence, or 1 for a byte that begins none. `shown` tells
// whether it is printable: no C0 or C1 control, no DEL, no stray, missing, over-long or surrogate form.
size_t character_at(std::string_view text, size_t at, bool& shown) {
  const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned lead = byte(at);
  shown = lead >= 0x20 && lead < 0x7F;
  if (lead < 0x80) return 1;
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4) return 1;
  unsigned code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 1;
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  const unsigned smallest[] = {0, 0, 0xA0, 0x800, 0x10000};  // below 0xA0: the C1 controls
  shown = code >= smallest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
  return length;
}

}  // namespace

std::string printable(std::string_view text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    bool shown = false;
    const size_t length = character_at(text, at, shown);
    out.append(shown ? text.substr(at, length) : "?");
    at += length;
  }
  return out;
}
