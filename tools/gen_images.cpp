// Draws the picture of the unit (res/picture.bmp) and the program icon (res/app.ico).
//
// The picture is a front view of the vexa: a dark case with its eight-digit red time code display, three
// status LEDs and the two keys. The icon shows the case with a red "31" on its display. Both are drawn with
// anti-aliased primitives (4 x 4 samples a pixel) and written in the exact formats the resources need:
// a 24-bit bottom-up DIB for the picture; for the icon three 256-colour images, one PNG of 256 x 256
// pixels and three 32-bit images, each bitmap with its AND mask.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Colour {
  float r, g, b, a;
};

struct Canvas {
  int width;
  int height;
  std::vector<Colour> pixels;  // top-down, straight (not premultiplied) alpha
};

Canvas make_canvas(int width, int height, Colour fill) {
  return Canvas{width, height, std::vector<Colour>(static_cast<size_t>(width * height), fill)};
}

Colour rgb(int r, int g, int b) { return Colour{r / 255.0f, g / 255.0f, b / 255.0f, 1.0f}; }

// Paints colour over every pixel in proportion to the share of its 16 samples for which inside() holds.
// Coordinates are in pixels, (0, 0) the top-left corner of the top-left pixel.
void fill(Canvas& canvas, float x0, float y0, float x1, float y1,
          const std::function<bool(float, float)>& inside,
          const std::function<Colour(float, float)>& colour) {
  const int left = std::max(0, static_cast<int>(std::floor(x0)));
  const int top = std::max(0, static_cast<int>(std::floor(y0)));
  const int right = std::min(canvas.width, static_cast<int>(std::ceil(x1)));
  const int bottom = std::min(canvas.height, static_cast<int>(std::ceil(y1)));
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      int hits = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) hits += inside(x + (sx + 0.5f) / 4, y + (sy + 0.5f) / 4) ? 1 : 0;
      if (hits == 0) continue;
      const float cover = hits / 16.0f;
      const Colour c = colour(x + 0.5f, y + 0.5f);
      Colour& p = canvas.pixels[static_cast<size_t>(y * canvas.width + x)];
      const float a = c.a * cover;
      const float out_a = a + p.a * (1 - a);
      if (out_a > 0) {
        p.r = (c.r * a + p.r * p.a * (1 - a)) / out_a;
        p.g = (c.g * a + p.g * p.a * (1 - a)) / out_a;
        p.b = (c.b * a + p.b * p.a * (1 - a)) / out_a;
      }
      p.a = out_a;
    }
  }
}

void fill_rounded(Canvas& canvas, float x0, float y0, float x1, float y1, float radius,
                  const std::function<Colour(float, float)>& colour) {
  auto inside = [=](float x, float y) {
    if (x < x0 || x > x1 || y < y0 || y > y1) return false;
    const float cx = std::clamp(x, x0 + radius, x1 - radius);
    const float cy = std::clamp(y, y0 + radius, y1 - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
  };
  fill(canvas, x0, y0, x1, y1, inside, colour);
}

void fill_rounded(Canvas& canvas, float x0, float y0, float x1, float y1, float radius, Colour colour) {
  fill_rounded(canvas, x0, y0, x1, y1, radius, [=](float, float) { return colour; });
}

// A bar with round ends from (ax, ay) to (bx, by).
void fill_capsule(Canvas& canvas, float ax, float ay, float bx, float by, float radius, Colour colour) {
  auto inside = [=](float x, float y) {
    const float dx = bx - ax;
    const float dy = by - ay;
    const float length2 = dx * dx + dy * dy;
    const float t = length2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / length2, 0.0f, 1.0f) : 0.0f;
    const float px = ax + t * dx - x;
    const float py = ay + t * dy - y;
    return px * px + py * py <= radius * radius;
  };
  fill(canvas, std::min(ax, bx) - radius, std::min(ay, by) - radius, std::max(ax, bx) + radius,
       std::max(ay, by) + radius, inside, [=](float, float) { return colour; });
}

void fill_circle(Canvas& canvas, float cx, float cy, float radius, Colour colour) {
  fill_capsule(canvas, cx, cy, cx, cy, radius, colour);
}

// Segments a to g of the digits 0 to 9, bit 0 = a.
constexpr uint8_t DIGIT_SEGMENTS[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

const Colour SEGMENT_ON = rgb(255, 40, 24);
const Colour SEGMENT_OFF = rgb(58, 14, 12);

// A seven-segment digit in the box (x, y, w, h). Full size it is slanted like the display of the unit, with
// gaps between the segments, and unlit segments glow faintly, as behind a red filter. The tiny form is
// upright with joined one-pixel strokes on the pixel grid, which is all that 16 pixels can show.
void draw_digit(Canvas& canvas, float x, float y, float w, float h, float thickness, int digit,
                bool show_unlit, bool tiny = false) {
  const float r = thickness / 2;
  const float gap = tiny ? 0 : thickness * 0.7f;
  const float left = x + r;
  const float right = x + w - r;
  const float top = y + r;
  const float bottom = y + h - r;
  const float middle = y + h / 2;
  const float slant = tiny ? 0 : w * 0.12f;
  auto shift = [=](float py) { return slant * (middle - py) / (h / 2); };
  struct Segment {
    float ax, ay, bx, by;
  };
  const Segment segments[7] = {
      {left + gap, top, right - gap, top},        {right, top + gap, right, middle - gap},
      {right, middle + gap, right, bottom - gap}, {left + gap, bottom, right - gap, bottom},
      {left, middle + gap, left, bottom - gap},   {left, top + gap, left, middle - gap},
      {left + gap, middle, right - gap, middle},
  };
  for (int lit = 0; lit < 2; ++lit) {
    for (int i = 0; i < 7; ++i) {
      const bool on = (DIGIT_SEGMENTS[digit] >> i) & 1;
      if (on != (lit == 1) || (!on && !show_unlit)) continue;
      const Segment& s = segments[i];
      fill_capsule(canvas, s.ax + shift(s.ay), s.ay, s.bx + shift(s.by), s.by, r,
                   on ? SEGMENT_ON : SEGMENT_OFF);
    }
  }
}

// Vertical gradient between two colours over y0..y1.
std::function<Colour(float, float)> gradient(float y0, float y1, Colour top, Colour bottom) {
  return [=](float, float y) {
    const float t = std::clamp((y - y0) / (y1 - y0), 0.0f, 1.0f);
    return Colour{top.r + (bottom.r - top.r) * t, top.g + (bottom.g - top.g) * t,
                  top.b + (bottom.b - top.b) * t, 1.0f};
  };
}

// Lower-case letters of the unit's name in a 3 x 5 pixel font, one string a row.
void draw_name(Canvas& canvas, int x, int y, Colour colour) {
  static const char* const letters[4][5] = {
      {"101", "101", "101", "101", "010"},
      {"010", "101", "111", "100", "011"},
      {"101", "101", "010", "101", "101"},
      {"110", "001", "011", "101", "011"},
  };
  for (int letter = 0; letter < 4; ++letter)
    for (int row = 0; row < 5; ++row)
      for (int column = 0; column < 3; ++column)
        if (letters[letter][row][column] == '1')
          fill_rounded(canvas, x + letter * 4 + column, y + row, x + letter * 4 + column + 1, y + row + 1, 0,
                       colour);
}

// Front view of the unit, 200 x 70 pixels, on the dialog's light grey.
Canvas draw_picture() {
  Canvas canvas = make_canvas(200, 70, rgb(240, 240, 240));
  fill_rounded(canvas, 1, 3, 199, 68, 6, rgb(150, 152, 158));
  fill_rounded(canvas, 2, 4, 198, 67, 5, gradient(4, 67, rgb(70, 72, 80), rgb(30, 31, 36)));
  fill_rounded(canvas, 8, 11, 152, 49, 3, rgb(90, 92, 100));
  fill_rounded(canvas, 9, 12, 151, 48, 2, rgb(8, 6, 8));

  // HH:MM:SS:FF, two digits a field, colons between the fields.
  const int digits[8] = {0, 1, 2, 3, 4, 5, 1, 2};
  const float digit_w = 12;
  const float digit_h = 24;
  const float y = 18;
  float x = 16;
  for (int i = 0; i < 8; ++i) {
    draw_digit(canvas, x, y, digit_w, digit_h, 2.6f, digits[i], true);
    x += digit_w + 3;
    if (i % 2 == 1 && i < 7) {
      fill_circle(canvas, x + 1.5f, y + 8, 1.4f, SEGMENT_ON);
      fill_circle(canvas, x + 0.5f, y + 17, 1.4f, SEGMENT_ON);
      x += 5;
    }
  }

  // Status LEDs with their rims: lock (green), MTC (yellow), update (red, off).
  const Colour leds[3] = {rgb(60, 230, 80), rgb(255, 200, 40), rgb(90, 20, 18)};
  for (int i = 0; i < 3; ++i) {
    const float cy = 17 + i * 11.0f;
    fill_circle(canvas, 166, cy, 3.2f, rgb(20, 20, 22));
    fill_circle(canvas, 166, cy, 2.3f, leds[i]);
    fill_circle(canvas, 165.3f, cy - 0.8f, 0.8f, rgb(255, 255, 240));
    for (int dot = 0; dot < 3; ++dot)
      fill_rounded(canvas, 173 + dot * 6, cy - 0.5f, 177 + dot * 6, cy + 0.5f, 0, rgb(120, 122, 130));
  }

  // The two keys.
  for (int i = 0; i < 2; ++i) {
    const float kx = 160 + i * 18.0f;
    fill_rounded(canvas, kx, 50, kx + 14, 61, 2.5f, rgb(12, 12, 14));
    fill_rounded(canvas, kx + 1, 51, kx + 13, 60, 2, gradient(51, 60, rgb(120, 122, 130), rgb(60, 62, 68)));
  }

  draw_name(canvas, 10, 55, rgb(200, 202, 210));
  for (int i = 0; i < 9; ++i) fill_rounded(canvas, 40 + i * 12, 57, 48 + i * 12, 58, 0, rgb(52, 54, 60));
  return canvas;
}

// The icon at one size: the dark case filling the square, its display with a red "31". At 16 pixels the
// case has no rim and the digits are drawn on the pixel grid; up to 48 pixels unlit segments are left out,
// so that the digits stay readable.
Canvas draw_icon(int size) {
  const float s = static_cast<float>(size);
  Canvas canvas = make_canvas(size, size, Colour{0, 0, 0, 0});
  const bool tiny = size <= 16;
  const float case_top = s * 0.08f;
  const float case_bottom = s * 0.92f;
  fill_rounded(canvas, 0, case_top, s, case_bottom, s * 0.16f, rgb(110, 112, 120));
  const float rim = tiny ? 0 : std::max(1.0f, s / 32);
  fill_rounded(canvas, rim, case_top + rim, s - rim, case_bottom - rim, s * 0.16f - rim,
               gradient(case_top, case_bottom, rgb(74, 76, 86), rgb(28, 29, 34)));
  const float inset = tiny ? 1 : s * 0.1f;
  fill_rounded(canvas, inset, case_top + inset, s - inset, case_bottom - inset, s * 0.05f, rgb(6, 4, 6));

  if (tiny) {
    draw_digit(canvas, 2, 3, 5, 9, 1, 3, false, true);
    draw_digit(canvas, 9, 3, 5, 9, 1, 1, false, true);
    return canvas;
  }
  const float digit_h = (case_bottom - case_top) - 2 * inset - s * 0.16f;
  const float digit_w = digit_h * 0.55f;
  const float space = s * 0.08f;
  const float thickness = s * 0.075f;
  const float x = (s - (2 * digit_w + space)) / 2;
  const float y = (s - digit_h) / 2;
  draw_digit(canvas, x, y, digit_w, digit_h, thickness, 3, size > 48);
  draw_digit(canvas, x + digit_w + space, y, digit_w, digit_h, thickness, 1, size > 48);
  return canvas;
}

uint8_t to_byte(float v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); }

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

void put32_be(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void put_info_header(std::vector<uint8_t>& out, int width, int height, int bits, uint32_t image_size,
                     int pixels_per_metre) {
  put32(out, 40);
  put32(out, static_cast<uint32_t>(width));
  put32(out, static_cast<uint32_t>(height));
  put16(out, 1);
  put16(out, static_cast<uint32_t>(bits));
  put32(out, 0);  // BI_RGB
  put32(out, image_size);
  put32(out, static_cast<uint32_t>(pixels_per_metre));
  put32(out, static_cast<uint32_t>(pixels_per_metre));
  put32(out, 0);
  put32(out, 0);
}

// The picture as a .bmp file: file header, BITMAPINFOHEADER, rows bottom-up in blue, green, red order.
std::vector<uint8_t> bmp_file(const Canvas& canvas) {
  const uint32_t stride = static_cast<uint32_t>((canvas.width * 3 + 3) & ~3);
  const uint32_t image_size = stride * static_cast<uint32_t>(canvas.height);
  std::vector<uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  put32(out, 14 + 40 + image_size);
  put32(out, 0);
  put32(out, 14 + 40);
  put_info_header(out, canvas.width, canvas.height, 24, image_size, 2834);
  for (int y = canvas.height - 1; y >= 0; --y) {
    const size_t row_start = out.size();
    for (int x = 0; x < canvas.width; ++x) {
      const Colour& p = canvas.pixels[static_cast<size_t>(y * canvas.width + x)];
      out.push_back(to_byte(p.b));
      out.push_back(to_byte(p.g));
      out.push_back(to_byte(p.r));
    }
    out.resize(row_start + stride, 0);
  }
  return out;
}

// The 256-colour palette of the small icon images: a 6 x 6 x 6 colour cube, then 20 greys and 20 reds
// for the case and the segments.
std::vector<Colour> icon_palette() {
  std::vector<Colour> palette;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) palette.push_back(rgb(r * 51, g * 51, b * 51));
  for (int i = 0; i < 20; ++i) palette.push_back(rgb(8 + i * 6, 8 + i * 6, 10 + i * 6));
  for (int i = 0; i < 20; ++i) palette.push_back(rgb(40 + i * 11, 10 + i, 8 + i));
  return palette;
}

uint8_t nearest(const std::vector<Colour>& palette, const Colour& c) {
  size_t best = 0;
  float best_distance = 1e9f;
  for (size_t i = 0; i < palette.size(); ++i) {
    const float dr = palette[i].r - c.r;
    const float dg = palette[i].g - c.g;
    const float db = palette[i].b - c.b;
    const float distance = dr * dr + dg * dg + db * db;
    if (distance < best_distance) {
      best_distance = distance;
      best = i;
    }
  }
  return static_cast<uint8_t>(best);
}

// One icon image in the bitmap form: BITMAPINFOHEADER of double height, the palette for 8 bits, the
// colour rows bottom-up, then the AND mask rows (1 = transparent), every row padded to 4 bytes.
std::vector<uint8_t> icon_bitmap(const Canvas& canvas, int bits) {
  const int n = canvas.width;
  const uint32_t colour_stride = static_cast<uint32_t>((n * bits / 8 + 3) & ~3);
  const uint32_t mask_stride = static_cast<uint32_t>(((n + 31) / 32) * 4);
  const uint32_t image_size = (colour_stride + mask_stride) * static_cast<uint32_t>(n);
  std::vector<uint8_t> out;
  put_info_header(out, n, 2 * n, bits, image_size, 0);
  const std::vector<Colour> palette = icon_palette();
  if (bits == 8) {
    for (const Colour& c : palette) {
      out.push_back(to_byte(c.b));
      out.push_back(to_byte(c.g));
      out.push_back(to_byte(c.r));
      out.push_back(0);
    }
  }
  for (int y = n - 1; y >= 0; --y) {
    const size_t row_start = out.size();
    for (int x = 0; x < n; ++x) {
      const Colour& p = canvas.pixels[static_cast<size_t>(y * n + x)];
      if (bits == 8) {
        out.push_back(p.a >= 0.5f ? nearest(palette, p) : 0);
      } else {
        out.push_back(to_byte(p.b));
        out.push_back(to_byte(p.g));
        out.push_back(to_byte(p.r));
        out.push_back(to_byte(p.a));
      }
    }
    out.resize(row_start + colour_stride, 0);
  }
  for (int y = n - 1; y >= 0; --y) {
    std::vector<uint8_t> row(mask_stride, 0);
    for (int x = 0; x < n; ++x)
      if (canvas.pixels[static_cast<size_t>(y * n + x)].a < 0.5f)
        row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

uint32_t adler32(const std::vector<uint8_t>& data) {
  uint32_t a = 1;
  uint32_t b = 0;
  for (uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// Bits of a deflate stream, least significant first.
struct BitWriter {
  std::vector<uint8_t> bytes;
  uint32_t buffer = 0;
  int count = 0;

  void bits(uint32_t value, int n) {
    buffer |= value << count;
    count += n;
    while (count >= 8) {
      bytes.push_back(static_cast<uint8_t>(buffer));
      buffer >>= 8;
      count -= 8;
    }
  }

  // Huffman codes go out most significant bit first.
  void code(uint32_t value, int n) {
    uint32_t reversed = 0;
    for (int i = 0; i < n; ++i) reversed |= ((value >> i) & 1) << (n - 1 - i);
    bits(reversed, n);
  }

  void flush() {
    if (count > 0) bits(0, 8 - count);
  }
};

// Literal or length symbol with the fixed Huffman code of deflate.
void fixed_symbol(BitWriter& out, int symbol) {
  if (symbol < 144)
    out.code(0x30 + symbol, 8);
  else if (symbol < 256)
    out.code(0x190 + symbol - 144, 9);
  else if (symbol < 280)
    out.code(symbol - 256, 7);
  else
    out.code(0xC0 + symbol - 280, 8);
}

constexpr int LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int DISTANCE_BASE[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// A match of `length` bytes `distance` back, in the fixed codes.
void fixed_match(BitWriter& out, int length, size_t distance) {
  int code = 28;
  while (LENGTH_BASE[code] > length) --code;
  fixed_symbol(out, 257 + code);
  out.bits(static_cast<uint32_t>(length - LENGTH_BASE[code]), LENGTH_EXTRA[code]);
  int dcode = 29;
  while (DISTANCE_BASE[dcode] > static_cast<int>(distance)) --dcode;
  out.code(static_cast<uint32_t>(dcode), 5);
  out.bits(static_cast<uint32_t>(distance) - DISTANCE_BASE[dcode], DISTANCE_EXTRA[dcode]);
}

// A zlib stream of one deflate block with the fixed codes, matches found greedily through a hash chain.
std::vector<uint8_t> zlib_compress(const std::vector<uint8_t>& data) {
  constexpr size_t WINDOW = 32768;
  constexpr int MAX_MATCH = 258;
  constexpr int CHAIN = 64;
  std::vector<int> head(1 << 15, -1);
  std::vector<int> previous(data.size(), -1);
  auto hash = [&](size_t i) { return ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & 0x7FFF; };

  BitWriter out;
  out.bits(0x78, 8);
  out.bits(0x01, 8);
  out.bits(1, 1);  // last block
  out.bits(1, 2);  // fixed Huffman codes
  size_t i = 0;
  auto insert = [&](size_t at) {
    if (at + 2 < data.size()) {
      const int h = hash(at);
      previous[at] = head[static_cast<size_t>(h)];
      head[static_cast<size_t>(h)] = static_cast<int>(at);
    }
  };
  while (i < data.size()) {
    int best_length = 0;
    size_t best_distance = 0;
    if (i + 2 < data.size()) {
      int candidate = head[static_cast<size_t>(hash(i))];
      for (int depth = 0; candidate >= 0 && depth < CHAIN; ++depth) {
        const size_t c = static_cast<size_t>(candidate);
        if (i - c > WINDOW) break;
        int length = 0;
        while (length < MAX_MATCH && i + length < data.size() && data[c + length] == data[i + length])
          ++length;
        if (length > best_length) {
          best_length = length;
          best_distance = i - c;
        }
        candidate = previous[c];
      }
    }
    if (best_length >= 3) {
      fixed_match(out, best_length, best_distance);
      for (int k = 0; k < best_length; ++k) insert(i + k);
      i += static_cast<size_t>(best_length);
    } else {
      fixed_symbol(out, data[i]);
      insert(i);
      ++i;
    }
  }
  fixed_symbol(out, 256);
  out.flush();
  put32_be(out.bytes, adler32(data));
  return out.bytes;
}

void png_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
  put32_be(out, static_cast<uint32_t>(body.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), body.begin(), body.end());
  out.insert(out.end(), typed.begin(), typed.end());
  put32_be(out, crc32(typed.data(), typed.size()));
}

// The canvas as an 8-bit RGBA PNG; every row uses the "up" filter, which turns the flat areas into zeros.
std::vector<uint8_t> png_file(const Canvas& canvas) {
  const size_t w = static_cast<size_t>(canvas.width);
  std::vector<uint8_t> raw;
  std::vector<uint8_t> above(w * 4, 0);
  for (int y = 0; y < canvas.height; ++y) {
    raw.push_back(2);
    std::vector<uint8_t> row;
    for (size_t x = 0; x < w; ++x) {
      const Colour& p = canvas.pixels[y * w + x];
      row.push_back(to_byte(p.r));
      row.push_back(to_byte(p.g));
      row.push_back(to_byte(p.b));
      row.push_back(to_byte(p.a));
    }
    for (size_t k = 0; k < row.size(); ++k) raw.push_back(static_cast<uint8_t>(row[k] - above[k]));
    above = row;
  }
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> header;
  put32_be(header, static_cast<uint32_t>(canvas.width));
  put32_be(header, static_cast<uint32_t>(canvas.height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter variant, no interlace
  png_chunk(out, "IHDR", header);
  png_chunk(out, "IDAT", zlib_compress(raw));
  png_chunk(out, "IEND", {});
  return out;
}

// The .ico file: ICONDIR, seven 16-byte entries (256 stored as 0, 1 plane, no colour count), the images.
std::vector<uint8_t> ico_file() {
  struct Image {
    int size;
    int bits;
    std::vector<uint8_t> bytes;
  };
  std::vector<Image> images;
  for (int size : {48, 32, 16}) images.push_back({size, 8, icon_bitmap(draw_icon(size), 8)});
  images.push_back({256, 32, png_file(draw_icon(256))});
  for (int size : {48, 32, 16}) images.push_back({size, 32, icon_bitmap(draw_icon(size), 32)});

  std::vector<uint8_t> out;
  put16(out, 0);
  put16(out, 1);
  put16(out, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const Image& image : images) {
    out.push_back(static_cast<uint8_t>(image.size == 256 ? 0 : image.size));
    out.push_back(static_cast<uint8_t>(image.size == 256 ? 0 : image.size));
    out.push_back(0);
    out.push_back(0);
    put16(out, 1);
    put16(out, static_cast<uint32_t>(image.bits));
    put32(out, static_cast<uint32_t>(image.bytes.size()));
    put32(out, offset);
    offset += static_cast<uint32_t>(image.bytes.size());
  }
  for (const Image& image : images) out.insert(out.end(), image.bytes.begin(), image.bytes.end());
  return out;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s picture.bmp app.ico\n", argv[0]);
    return 2;
  }
  if (!write_file(argv[1], bmp_file(draw_picture())) || !write_file(argv[2], ico_file())) {
    std::fprintf(stderr, "cannot write the images\n");
    return 1;
  }
  return 0;
}
