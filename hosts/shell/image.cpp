#include "hosts/shell/image.h"

#include <cstdint>
#include <deque>
#include <vector>

#include "firmware/firmware.h"
#include "hosts/shell/file_io.h"
#include "platform/win32/kernel32_ext.h"

namespace {

// Far above the built-in image's 72761 bytes.
constexpr size_t IMAGE_MAX_BYTES = 1024 * 1024;

using Bytes = std::vector<uint8_t>;

// Modules keep pointers into their bytes for the life of the process.
std::deque<std::string> images;
std::deque<Bytes> resource_files;

void put16(Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(Bytes& out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

// A type or name as a .res file stores it: an ordinal (FFFF, number) or a UTF-16 string.
void put_id(Bytes& out, WORD ordinal, const std::string& name) {
  if (name.empty()) {
    put16(out, 0xFFFF);
    put16(out, ordinal);
    return;
  }
  for (char c : name) put16(out, static_cast<uint8_t>(c));
  put16(out, 0);
}

void pad4(Bytes& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

// One entry of a .res file: its sizes, type, name and version fields, then the data.
void put_resource(Bytes& out, const PlatformResource& resource, const uint8_t* data, uint32_t size) {
  Bytes header;
  put_id(header, resource.type_ordinal, resource.type_name);
  put_id(header, resource.name_ordinal, resource.name);
  pad4(header);
  put32(header, 0);
  put16(header, resource.memory_flags);
  put16(header, resource.language);
  put32(header, 0);
  put32(header, 0);
  put32(out, size);
  put32(out, static_cast<uint32_t>(header.size() + 8));
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), data, data + size);
  pad4(out);
}

// The program's own check of an image before it sends anything of it.
bool image_passes(const std::string& image, std::string& error) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(image.data());
  const int32_t length = image_length(bytes, static_cast<uint32_t>(image.size()));
  if (length == NO_TERMINATOR) {
    error = "no terminator (a byte FF): not a vexa firmware image";
    return false;
  }
  image_start = bytes;
  image_end = bytes + length;
  image_pos = bytes;
  const bool passes = check_image_header() == 0;
  image_start = image_end = image_pos = nullptr;
  if (!passes) error = "its header is not that of a vexa firmware image";
  return passes;
}

}  // namespace

HINSTANCE image_module(const std::string& path, std::string& error) {
  std::string image;
  if (!read_file(path, IMAGE_MAX_BYTES, image, error) || !image_passes(image, error)) return nullptr;
  const std::string& kept = images.emplace_back(std::move(image));
  Bytes& file = resource_files.emplace_back();
  // A .res file begins with an empty entry.
  put_resource(file, PlatformResource{0, "", 0, "", 0, 0, nullptr, 0}, nullptr, 0);
  for (const PlatformResource& resource : platform_module_resources(nullptr)) {
    if (resource.name == "FIRMWAREFILE")
      put_resource(file, resource, reinterpret_cast<const uint8_t*>(kept.data()),
                   static_cast<uint32_t>(kept.size()));
    else
      put_resource(file, resource, resource.data, resource.size);
  }
  HINSTANCE module = platform_register_module(file.data(), file.size());
  if (!module) error = "the program's resources cannot carry it";
  return module;
}
