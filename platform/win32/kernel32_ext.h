// Linux-only additions to the KERNEL32 layer, for the hosts and the tests; never included by the program.
#pragma once
#include <winbase.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Modules.

// Makes a module of a compiled resource file (.res, as windres -O res writes it). The bytes must stay
// valid for the life of the process. Returns NULL when they are not a well-formed .res file.
HINSTANCE platform_register_module(const void* res_bytes, size_t size);

// The executable's own resources (GetModuleHandleA(NULL)), a compiled .res file as the Windows linker
// would put it into the image. Called once by the executable's resource object during static
// initialisation; without it the program's module has no resources. The result lets that object call it
// from a static initialiser.
bool platform_set_program_resources(const void* res_bytes, size_t size);

// One resource of a module as its .res file lists it. A type or name is an ordinal when its string is
// empty; strings are as stored (windres stores names in capitals).
struct PlatformResource {
  WORD type_ordinal;
  std::string type_name;
  WORD name_ordinal;
  std::string name;
  WORD language;
  WORD memory_flags;
  const BYTE* data;
  DWORD size;
};

// Every resource of a module (NULL: the program's module) in file order.
std::vector<PlatformResource> platform_module_resources(HMODULE module);

// A module with every resource of the program's module, the one named `name` (as stored) holding `size`
// bytes at `data` instead; `data` must stay valid for the life of the process. NULL when the program's module
// has no resource of that name or the data is too large for a .res file.
HINSTANCE platform_module_replacing(const std::string& name, const void* data, size_t size);

// Language id of a resource found with FindResourceA; 0 for NULL.
WORD platform_resource_language(HRSRC resource);

// One image of an icon group: size in pixels (256 where the group entry says 0), bits per pixel and the
// RT_ICON data (a BITMAPINFOHEADER image with its mask, or a PNG file).
struct PlatformIconImage {
  int width;
  int height;
  int bits;
  WORD id;
  const BYTE* data;
  DWORD size;
};

// The images of an icon from LoadIconA, in group order; empty for NULL.
std::vector<PlatformIconImage> platform_icon_images(HICON icon);

// Sleep instrumentation. Every Sleep is logged with the calling thread, a sequence number that counts all
// Sleep calls of the process from 1 (not reset by clearing) and the requested milliseconds.
struct PlatformSleep {
  DWORD thread_id;
  uint64_t sequence;
  DWORD ms;
};

// A copy of the log, oldest first: the most recent 65536 pauses since the last clear.
std::vector<PlatformSleep> platform_sleeps();
void platform_clear_sleeps();
// Logging is on from the start, for tests. Off, Sleep leaves the log alone: the program people run keeps
// no 1.5 MB ring that fills a little more with every pause.
void platform_log_sleeps(bool on);
// Called by every Sleep after it is logged and before it pauses, on the sleeping thread; NULL removes it.
void platform_set_sleep_hook(void (*hook)(DWORD ms));
// Sleep(ms) then pauses ms * 1000 / divisor microseconds; it is still logged as ms. 0 counts as 1.
void platform_set_sleep_divisor(unsigned divisor);
