// Internals shared by the KERNEL32 layer (kernel32.cpp) and its host API (kernel32_ext.cpp): modules with
// their resources, and the Sleep log. Not for the program or the hosts.
#pragma once
#include <winbase.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "platform/win32/kernel32_ext.h"

// A resource type or name: an ordinal, or a string kept in capitals for comparison.
struct ResourceId {
  WORD ordinal;
  std::string name;
};

struct Resource {
  ResourceId type;
  ResourceId name;
  std::string stored_type;  // strings as the file spells them
  std::string stored_name;
  WORD language;
  WORD memory_flags;
  const BYTE* data;
  DWORD size;
};

struct Module;

struct Icon {
  const Module* module;
  const Resource* group;
};

struct Module {
  std::string file_name;  // lower case; empty for resource modules
  std::deque<Resource> resources;
  std::map<const Resource*, Icon> icons;  // shared icons, as LoadIcon returns them
};

// A module of the resources in a .res file; null bytes make a module without resources.
Module* add_resource_module(const void* bytes, size_t size);
// The module behind a handle; NULL stands for the program's module, an unknown handle gives null.
Module* module_of(HMODULE handle);
HMODULE handle_of(Module* module);
const Resource* find_resource(const Module* module, const ResourceId& name, const ResourceId& type);

inline WORD read16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

// The executable's own resources, as its resource object registered them before main. Plain values, set
// during static initialisation and read only afterwards.
extern const void* program_res_bytes;
extern size_t program_res_size;

// The log keeps the most recent SLEEP_LOG_SIZE pauses in a ring, so that a program that runs for days
// neither grows without bound nor allocates while it pauses. Sleep writes it; the host API reads it and
// sets the rest.
constexpr size_t SLEEP_LOG_SIZE = size_t{1} << 16;
struct SleepLog {
  std::mutex lock;
  PlatformSleep entries[SLEEP_LOG_SIZE]{};
  size_t count = 0;  // entries in the ring, at most SLEEP_LOG_SIZE
  uint64_t sequence = 0;
  std::atomic<bool> logging{true};
  std::atomic<void (*)(DWORD)> hook{nullptr};
  std::atomic<unsigned> divisor{1};
};
extern SleepLog sleep_log;
