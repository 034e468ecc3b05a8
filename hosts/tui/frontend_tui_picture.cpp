// Terminal front end: the picture of a SS_BITMAP control, decoded from its bitmap resource.
#include "hosts/tui/frontend_tui.h"

namespace {
uint32_t read_u32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t read_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
}  // namespace

bool tui_decode_bitmap(const uint8_t* dib, size_t size, TuiPicture& out) {
  if (!dib || size < 40) return false;
  const uint32_t header = read_u32(dib);
  const int32_t width = static_cast<int32_t>(read_u32(dib + 4));
  const int32_t height = static_cast<int32_t>(read_u32(dib + 8));
  const int bits = read_u16(dib + 14);
  const uint32_t compression = read_u32(dib + 16);
  if (header < 40 || header > size || width <= 0 || height == 0 || compression != 0 ||
      (bits != 24 && bits != 32))
    return false;
  const int rows = height < 0 ? -height : height;
  const size_t stride =
      (static_cast<size_t>(width) * static_cast<size_t>(bits / 8) + 3) & ~static_cast<size_t>(3);
  if (header + stride * static_cast<size_t>(rows) > size) return false;
  out.width = width;
  out.height = rows;
  out.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(rows), 0);
  for (int y = 0; y < rows; ++y) {
    // Bottom-up unless the height is negative.
    const int stored = height > 0 ? rows - 1 - y : y;
    const uint8_t* line = dib + header + stride * static_cast<size_t>(stored);
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = line + static_cast<size_t>(x) * static_cast<size_t>(bits / 8);
      out.pixels[static_cast<size_t>(y * width + x)] = static_cast<uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
    }
  }
  return true;
}

bool tui_load_picture(HINSTANCE module, int id, TuiPicture& out) {
  HMODULE source = module ? module : GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(source, MAKEINTRESOURCEA(id), RT_BITMAP);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(source, found);
  const void* bytes = LockResource(loaded);
  return bytes && tui_decode_bitmap(static_cast<const uint8_t*>(bytes), SizeofResource(source, found), out);
}
