#include "hosts/web/web_host.h"

#include <windows.h>

#include <emscripten/emscripten.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "firmware/firmware.h"
#include "platform/midi/sim/midi_sim.h"
#include "platform/win32/kernel32_ext.h"
#include "platform/win32/user32_ext.h"
#include "timecode/tap.h"

namespace {

constexpr int FRAME_MS = 16;
// The time code line is looked at this often, as in the terminal.
constexpr int TIMECODE_MS = 80;

std::atomic<bool> watching{false};
std::atomic<bool> with_sim{false};
std::thread watcher;
std::thread timecode_watcher;

// Texts go out as UTF-8, as they are: the program's own texts are ASCII, and port names come as UTF-8 from
// Web MIDI (cut after whole characters, platform/midi/midi_name.h). Only what JSON must escape is escaped.
void put_string(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

void put_number(std::string& out, const char* key, long long value) {
  out += '"';
  out += key;
  out += "\":";
  out += std::to_string(value);
  out += ',';
}

void put_text(std::string& out, const char* key, const std::string& value) {
  out += '"';
  out += key;
  out += "\":";
  put_string(out, value);
  out += ',';
}

void close_object(std::string& out, char bracket) {
  if (out.back() == ',') out.pop_back();
  out += bracket;
  out += ',';
}

void put_control(std::string& out, const User32Control& c) {
  out += '{';
  put_number(out, "id", c.id);
  put_text(out, "cls", c.class_name);
  put_text(out, "kind", user32_kind_name(c.kind));
  put_number(out, "x", c.x);
  put_number(out, "y", c.y);
  put_number(out, "cx", c.cx);
  put_number(out, "cy", c.cy);
  put_number(out, "style", c.style);
  put_text(out, "text", c.text);
  put_number(out, "enabled", c.enabled);
  put_number(out, "visible", c.visible);
  put_number(out, "focused", c.focused);
  put_number(out, "check", c.check);
  put_number(out, "pos", c.position);
  put_number(out, "min", c.minimum);
  put_number(out, "max", c.maximum);
  put_number(out, "sel", c.selection);
  put_number(out, "dropped", c.dropped);
  put_number(out, "bitmap", c.bitmap_id);
  put_number(out, "bw", c.bitmap_width);
  put_number(out, "bh", c.bitmap_height);
  out += "\"items\":[";
  for (const std::string& item : c.items) {
    put_string(out, item);
    out += ',';
  }
  close_object(out, ']');
  close_object(out, '}');
}

// A copy of the text for the page, which frees it; null when there is no memory for it.
char* page_copy(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

void post(const std::string& json) {
  if (char* copy = page_copy(json)) MAIN_THREAD_ASYNC_EM_ASM({ Module['vexaPage'].state($0); }, copy);
}

// The time code line goes to the page by itself whenever it changes: the dialog is not drawn again for it.
void watch_timecode() {
  std::string shown;
  while (watching.load()) {
    std::string line = timecode_tap_line();
    if (line != shown) {
      shown = std::move(line);
      if (char* copy = page_copy(shown)) MAIN_THREAD_ASYNC_EM_ASM({ Module['vexaPage'].timecode($0); }, copy);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(TIMECODE_MS));
  }
}

void watch() {
  uint64_t seen = 0;
  std::string shown;
  while (watching.load()) {
    seen = user32_wait_change(seen, 250);
    std::string json = web_dialog_json();
    if (json == shown) continue;
    shown = std::move(json);
    post(shown);
    // At most one state per frame: the page's main thread also carries every MIDI message, and an
    // upload changes the progress bar hundreds of times.
    std::this_thread::sleep_for(std::chrono::milliseconds(FRAME_MS));
  }
}

// A compiled resource as the file a browser reads: a bitmap with its file header, an icon group as an
// .ico file.
std::vector<uint8_t> file_bytes;

void put_le(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

std::string web_dialog_json() {
  std::string out = "{";
  User32Dialog d;
  if (user32_read_dialog(d)) {
    out += "\"dialog\":{";
    put_text(out, "title", d.title);
    put_number(out, "x", d.x);
    put_number(out, "y", d.y);
    put_number(out, "cx", d.cx);
    put_number(out, "cy", d.cy);
    put_number(out, "style", d.style);
    put_text(out, "font", d.font_face);
    put_number(out, "points", d.point_size);
    put_number(out, "visible", d.visible);
    put_number(out, "blocked", d.input_blocked);
    put_number(out, "focus", d.focus_id);
    out += "\"controls\":[";
    for (const User32Control& c : d.controls) put_control(out, c);
    close_object(out, ']');
    close_object(out, '}');
  }
  out += "\"boxes\":[";
  for (const User32MessageBox& box : user32_open_boxes()) {
    out += '{';
    put_number(out, "serial", static_cast<long long>(box.serial));
    put_text(out, "title", box.title);
    put_text(out, "text", box.text);
    put_number(out, "type", box.type);
    close_object(out, '}');
  }
  close_object(out, ']');
  if (with_sim.load()) {
    bool boot = false;
    sim_with_unit([&boot](SimUnit& unit) { boot = unit.mode == SimMode::Boot; });
    out += "\"sim\":{";
    put_number(out, "boot", boot);
    close_object(out, '}');
  }
  if (out.back() == ',') out.pop_back();
  out += '}';
  return out;
}

void web_watch_start(bool sim) {
  with_sim.store(sim);
  watching.store(true);
  watcher = std::thread(watch);
  timecode_watcher = std::thread(watch_timecode);
}

void web_watch_stop() {
  watching.store(false);
  user32_wake_watchers();
  if (watcher.joinable()) watcher.join();
  if (timecode_watcher.joinable()) timecode_watcher.join();
  post(web_dialog_json());
}

// Person input from the page, on its main thread. Each returns the layer's result (USER32_*).
extern "C" {

EMSCRIPTEN_KEEPALIVE int web_click(int id) { return user32_click(id); }
EMSCRIPTEN_KEEPALIVE int web_key(int vk, int shift) { return user32_key(vk, shift != 0); }
EMSCRIPTEN_KEEPALIVE int web_key_to(int id, int vk, int shift) { return user32_key_to(id, vk, shift != 0); }
EMSCRIPTEN_KEEPALIVE int web_type_char(int character) {
  const char text[2] = {static_cast<char>(character), '\0'};
  return user32_type(text);
}
EMSCRIPTEN_KEEPALIVE int web_combo_open(int id) { return user32_combo_open(id); }
EMSCRIPTEN_KEEPALIVE int web_combo_choose(int id, int index) { return user32_combo_choose(id, index); }
EMSCRIPTEN_KEEPALIVE int web_combo_cancel(int id) { return user32_combo_cancel(id); }
EMSCRIPTEN_KEEPALIVE int web_slider_drag(int id, int position) { return user32_slider_drag(id, position); }
EMSCRIPTEN_KEEPALIVE int web_updown_press(int id, int up) { return user32_updown_press(id, up != 0); }
EMSCRIPTEN_KEEPALIVE int web_updown_release(int id) { return user32_updown_release(id); }
EMSCRIPTEN_KEEPALIVE int web_close() { return user32_close(); }
EMSCRIPTEN_KEEPALIVE int web_dismiss_box(double serial) {
  return user32_dismiss_box(static_cast<uint64_t>(serial));
}

// The simulated unit to update mode and back, as holding both keys while plugging it in would.
EMSCRIPTEN_KEEPALIVE int web_sim_toggle_boot() {
  if (!with_sim.load()) return USER32_NO_CONTROL;
  sim_with_unit(
      [](SimUnit& unit) { unit.mode = unit.mode == SimMode::Boot ? SimMode::Running : SimMode::Boot; });
  user32_wake_watchers();
  return USER32_OK;
}

// Bitmap resource `id` of the program as a .bmp file; its size in web_file_size(). Null when missing.
EMSCRIPTEN_KEEPALIVE const uint8_t* web_bitmap_file(int id) {
  file_bytes.clear();
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), RT_BITMAP);
  if (!found) return nullptr;
  const auto* dib = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  const DWORD size = SizeofResource(module, found);
  if (!dib || size < 40) return nullptr;
  // The pixels follow the header and the colour table (none for 24 and 32 bits per pixel).
  const uint32_t header = dib[0] | dib[1] << 8 | dib[2] << 16 | static_cast<uint32_t>(dib[3]) << 24;
  const int bits = dib[14] | dib[15] << 8;
  uint32_t colours = dib[32] | dib[33] << 8 | dib[34] << 16 | static_cast<uint32_t>(dib[35]) << 24;
  if (colours == 0 && bits <= 8) colours = 1u << bits;
  put_le(file_bytes, 'B' | 'M' << 8, 2);
  put_le(file_bytes, 14 + size, 4);
  put_le(file_bytes, 0, 4);
  put_le(file_bytes, 14 + header + colours * 4, 4);
  file_bytes.insert(file_bytes.end(), dib, dib + size);
  return file_bytes.data();
}

// Icon group `id` of the program as an .ico file; its size in web_file_size(). Null when missing.
EMSCRIPTEN_KEEPALIVE const uint8_t* web_icon_file(int id) {
  file_bytes.clear();
  const std::vector<PlatformIconImage> images =
      platform_icon_images(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)));
  if (images.empty()) return nullptr;
  put_le(file_bytes, 0, 2);
  put_le(file_bytes, 1, 2);
  put_le(file_bytes, static_cast<uint32_t>(images.size()), 2);
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (const PlatformIconImage& image : images) {
    file_bytes.push_back(static_cast<uint8_t>(image.width >= 256 ? 0 : image.width));
    file_bytes.push_back(static_cast<uint8_t>(image.height >= 256 ? 0 : image.height));
    file_bytes.push_back(0);
    file_bytes.push_back(0);
    put_le(file_bytes, 1, 2);
    put_le(file_bytes, static_cast<uint32_t>(image.bits), 2);
    put_le(file_bytes, image.size, 4);
    put_le(file_bytes, offset, 4);
    offset += image.size;
  }
  for (const PlatformIconImage& image : images)
    file_bytes.insert(file_bytes.end(), image.data, image.data + image.size);
  return file_bytes.data();
}

EMSCRIPTEN_KEEPALIVE int web_file_size() { return static_cast<int>(file_bytes.size()); }

// The status line's texts while an update runs, before its result, one a line: the page's guard tells a
// running update by them.
EMSCRIPTEN_KEEPALIVE const char* web_update_steps() {
  static const std::string steps = std::string(upload_status_text(STATUS_PREPARING)) + '\n' +
                                   upload_status_text(STATUS_ERASING) + '\n' +
                                   upload_status_text(STATUS_WRITING);
  return steps.c_str();
}

}  // extern "C"
