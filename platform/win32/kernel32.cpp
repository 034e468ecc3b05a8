// KERNEL32 on Linux: modules whose resources come from compiled .res files, threads, an instrumented
// Sleep and recursive critical sections. The host API (kernel32_ext.h) is in kernel32_ext.cpp.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <set>
#include <thread>

#include "platform/win32/kernel32_internal.h"

namespace {

thread_local DWORD last_error = 0;

// ---- Modules and resources ----

// Modules are never unloaded; the deque keeps their addresses, which serve as HMODULE values.
std::mutex module_mutex;
std::deque<Module> modules;
Module* comctl32_module = nullptr;

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

DWORD read32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

// Reads a type or name field of a resource header at pos: 0xFFFF and an ordinal, or a NUL-terminated
// UTF-16 string (resource names are ASCII). Returns false when the field runs past end.
bool read_id(const BYTE* bytes, size_t end, size_t& pos, ResourceId& id, std::string& stored) {
  if (pos + 2 > end) return false;
  if (read16(bytes + pos) == 0xFFFF) {
    if (pos + 4 > end) return false;
    id.ordinal = read16(bytes + pos + 2);
    pos += 4;
    return true;
  }
  id.ordinal = 0;
  for (;;) {
    if (pos + 2 > end) return false;
    const WORD c = read16(bytes + pos);
    pos += 2;
    if (c == 0) break;
    stored += static_cast<char>(c < 0x80 ? c : '?');
    id.name += upper(static_cast<char>(c < 0x80 ? c : '?'));
  }
  return !id.name.empty();
}

// Parses a .res file: a sequence of entries, each a header (DataSize, HeaderSize, TYPE, NAME, padding to
// a DWORD, DataVersion, MemoryFlags, LanguageId, Version, Characteristics) followed by the data, every
// entry starting on a DWORD boundary. The first entry is the empty 32-byte marker of the format.
bool parse_res(const BYTE* bytes, size_t size, std::deque<Resource>& out) {
  constexpr BYTE marker[32] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
  if (size < sizeof marker || std::memcmp(bytes, marker, sizeof marker) != 0) return false;
  size_t pos = sizeof marker;
  while (pos < size) {
    if (pos + 8 > size) return false;
    const DWORD data_size = read32(bytes + pos);
    const DWORD header_size = read32(bytes + pos + 4);
    if (header_size < 8 || header_size > size - pos || data_size > size - pos - header_size) return false;
    const size_t header_end = pos + header_size;
    size_t field = pos + 8;
    Resource r{};
    if (!read_id(bytes, header_end, field, r.type, r.stored_type) ||
        !read_id(bytes, header_end, field, r.name, r.stored_name))
      return false;
    field = (field + 3) & ~size_t{3};
    if (field + 16 > header_end) return false;
    r.memory_flags = read16(bytes + field + 4);
    r.language = read16(bytes + field + 6);
    r.data = bytes + header_end;
    r.size = data_size;
    out.push_back(r);
    pos = (header_end + data_size + 3) & ~size_t{3};
  }
  return true;
}

Module* program_module() {
  static Module* module = add_resource_module(program_res_bytes, program_res_size);
  return module;
}

// An id given to FindResourceA: an ordinal, "#number", or a name.
ResourceId wanted_id(LPCSTR id) {
  if (IS_INTRESOURCE(id)) return ResourceId{static_cast<WORD>(reinterpret_cast<ULONG_PTR>(id)), {}};
  if (id[0] == '#') {
    unsigned long value = 0;
    for (const char* p = id + 1; *p >= '0' && *p <= '9' && value <= 0xFFFF; ++p)
      value = value * 10 + static_cast<unsigned long>(*p - '0');
    return ResourceId{static_cast<WORD>(value), {}};
  }
  ResourceId wanted{0, {}};
  for (const char* p = id; *p; ++p) wanted.name += upper(*p);
  return wanted;
}

bool same_id(const ResourceId& a, const ResourceId& b) {
  return a.name.empty() ? b.name.empty() && a.ordinal == b.ordinal : a.name == b.name;
}

// ---- Threads ----

std::atomic<DWORD> next_thread_id{1};
thread_local DWORD current_thread_id = 0;

DWORD new_thread_id() {
  // Thread ids on the platform are multiples of 4 and never 0.
  return next_thread_id.fetch_add(1) * 4;
}

// Thread handles are the thread ids themselves; the threads run detached and may outlive their handles,
// and a handle that is never closed costs nothing.
std::mutex handle_mutex;
std::set<DWORD> open_thread_handles;

const auto process_start = std::chrono::steady_clock::now();

}  // namespace

Module* add_resource_module(const void* bytes, size_t size) {
  std::deque<Resource> resources;
  if (bytes != nullptr && !parse_res(static_cast<const BYTE*>(bytes), size, resources)) return nullptr;
  std::lock_guard lock(module_mutex);
  modules.push_back(Module{});
  modules.back().resources = std::move(resources);
  return &modules.back();
}

Module* module_of(HMODULE handle) {
  if (handle == nullptr) return program_module();
  std::lock_guard lock(module_mutex);
  for (Module& module : modules)
    if (handle == reinterpret_cast<HMODULE>(&module)) return &module;
  return nullptr;
}

HMODULE handle_of(Module* module) { return reinterpret_cast<HMODULE>(module); }

const Resource* find_resource(const Module* module, const ResourceId& name, const ResourceId& type) {
  if (module == nullptr) return nullptr;
  for (const Resource& r : module->resources)
    if (same_id(r.type, type) && same_id(r.name, name)) return &r;
  return nullptr;
}

constinit SleepLog sleep_log;

DWORD WINAPI GetLastError(void) { return last_error; }

void WINAPI SetLastError(DWORD dwErrCode) { last_error = dwErrCode; }

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName == nullptr) return handle_of(program_module());
  std::string wanted;
  for (const char* p = lpModuleName; *p; ++p) wanted += lower(*p);
  std::lock_guard lock(module_mutex);
  for (Module& module : modules)
    if (!module.file_name.empty() && module.file_name == wanted) return handle_of(&module);
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

// Only the common-control library is known: its window classes are always registered on Linux, so
// loading it just hands out a module without resources.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name;
  for (const char* p = lpLibFileName; *p; ++p) name += lower(*p);
  if (name != "comctl32.dll" && name != "comctl32") {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard lock(module_mutex);
  if (comctl32_module == nullptr) {
    modules.push_back(Module{});
    comctl32_module = &modules.back();
    comctl32_module->file_name = "comctl32.dll";
  }
  return handle_of(comctl32_module);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) { return hLibModule ? TRUE : FALSE; }

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
  if (lpName == nullptr || lpType == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const Module* module = module_of(hModule);
  const ResourceId type = wanted_id(lpType);
  const Resource* found = find_resource(module, wanted_id(lpName), type);
  if (found == nullptr) {
    bool type_known = false;
    if (module)
      for (const Resource& r : module->resources) type_known = type_known || same_id(r.type, type);
    SetLastError(type_known ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<Resource*>(found));
}

// As on the platform, the "loaded" resource is its data in the mapped module.
HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
  if (hResInfo == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<BYTE*>(reinterpret_cast<const Resource*>(hResInfo)->data);
}

LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
  if (hResInfo == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return reinterpret_cast<const Resource*>(hResInfo)->size;
}

// Resources live as long as their module; freeing does nothing and reports FALSE, like current systems.
BOOL WINAPI FreeResource(HGLOBAL) { return FALSE; }

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
  Module* module = hInstance ? module_of(hInstance) : nullptr;
  if (module == nullptr || lpIconName == nullptr) return nullptr;
  const Resource* group = find_resource(module, wanted_id(lpIconName), ResourceId{14, {}});
  if (group == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard lock(module_mutex);
  Icon& icon = module->icons.try_emplace(group, Icon{module, group}).first->second;
  return reinterpret_cast<HICON>(&icon);
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (lpStartAddress == nullptr || (dwCreationFlags & CREATE_SUSPENDED) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const DWORD id = new_thread_id();
  {
    std::lock_guard lock(handle_mutex);
    open_thread_handles.insert(id);
  }
  if (lpThreadId) *lpThreadId = id;
  std::thread([=] {
    current_thread_id = id;
    lpStartAddress(lpParameter);
  }).detach();
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(id));
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  std::lock_guard lock(handle_mutex);
  if (open_thread_handles.erase(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(hObject))) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) {
  if (current_thread_id == 0) current_thread_id = new_thread_id();
  return current_thread_id;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  const DWORD thread_id = GetCurrentThreadId();
  if (sleep_log.logging.load()) {
    std::lock_guard lock(sleep_log.lock);
    const uint64_t sequence = ++sleep_log.sequence;
    sleep_log.entries[sequence % SLEEP_LOG_SIZE] = PlatformSleep{thread_id, sequence, dwMilliseconds};
    sleep_log.count = std::min(sleep_log.count + 1, SLEEP_LOG_SIZE);
  }
  if (void (*hook)(DWORD) = sleep_log.hook.load()) hook(dwMilliseconds);
  const unsigned divisor = std::max(1u, sleep_log.divisor.load());
  const uint64_t microseconds = uint64_t{dwMilliseconds} * 1000 / divisor;
  if (microseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}

DWORD WINAPI GetTickCount(void) {
  const auto elapsed = std::chrono::steady_clock::now() - process_start;
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

// The lock lives inside the caller's structure.
static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::Opaque));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

static std::recursive_mutex* lock_of(LPCRITICAL_SECTION section) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(section->Opaque));
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  new (lpCriticalSection->Opaque) std::recursive_mutex();
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { lock_of(lpCriticalSection)->lock(); }

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  lock_of(lpCriticalSection)->unlock();
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  lock_of(lpCriticalSection)->~recursive_mutex();
}
