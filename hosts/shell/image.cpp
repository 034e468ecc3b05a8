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

// Modules keep pointers into their images for the life of the process.
std::deque<std::string> images;

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
  HINSTANCE module = platform_module_replacing("FIRMWAREFILE", kept.data(), kept.size());
  if (!module) error = "the program's resources cannot carry it";
  return module;
}
