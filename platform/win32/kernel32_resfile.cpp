// Modules made from the program's own: a .res file written anew with one resource's data replaced, for
// hosts and tests that run the program with another firmware image.
#include <deque>

#include "platform/win32/kernel32_ext.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The files of the modules made here: a module keeps pointers into them for the life of the process.
std::deque<Bytes> files;

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

}  // namespace

HINSTANCE platform_module_replacing(const std::string& name, const void* data, size_t size) {
  if (size > 0xFFFF0000u) return nullptr;
  Bytes& file = files.emplace_back();
  // A .res file begins with an empty entry.
  put_resource(file, PlatformResource{0, "", 0, "", 0, 0, nullptr, 0}, nullptr, 0);
  bool replaced = false;
  for (const PlatformResource& resource : platform_module_resources(nullptr)) {
    if (resource.name == name) {
      put_resource(file, resource, static_cast<const uint8_t*>(data), static_cast<uint32_t>(size));
      replaced = true;
    } else {
      put_resource(file, resource, resource.data, resource.size);
    }
  }
  return replaced ? platform_register_module(file.data(), file.size()) : nullptr;
}
