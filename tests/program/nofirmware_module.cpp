#include "nofirmware_module.h"

#include <cstddef>

#include "platform/win32/kernel32_ext.h"

extern const unsigned char nofirmware_res[];
extern const size_t nofirmware_res_size;

HINSTANCE nofirmware_module() {
  static const HINSTANCE module = platform_register_module(nofirmware_res, nofirmware_res_size);
  return module;
}
