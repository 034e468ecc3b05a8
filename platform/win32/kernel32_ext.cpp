// The host API of the KERNEL32 layer (kernel32_ext.h): modules made from .res files, their resources and
// icons as stored, and the Sleep log.
#include "platform/win32/kernel32_internal.h"

HINSTANCE platform_register_module(const void* res_bytes, size_t size) {
  if (res_bytes == nullptr) return nullptr;
  return handle_of(add_resource_module(res_bytes, size));
}

const void* program_res_bytes = nullptr;
size_t program_res_size = 0;

bool platform_set_program_resources(const void* res_bytes, size_t size) {
  program_res_bytes = res_bytes;
  program_res_size = size;
  return true;
}

std::vector<PlatformResource> platform_module_resources(HMODULE module) {
  std::vector<PlatformResource> out;
  if (const Module* m = module_of(module))
    for (const Resource& r : m->resources)
      out.push_back(PlatformResource{r.type.ordinal, r.stored_type, r.name.ordinal, r.stored_name, r.language,
                                     r.memory_flags, r.data, r.size});
  return out;
}

WORD platform_resource_language(HRSRC resource) {
  return resource ? reinterpret_cast<const Resource*>(resource)->language : 0;
}

// The group data: a 6-byte header (reserved, type 1, count), then 14-byte entries (width, height, colour
// count, reserved, planes, bits per pixel, bytes in the image, RT_ICON id).
std::vector<PlatformIconImage> platform_icon_images(HICON icon) {
  std::vector<PlatformIconImage> out;
  if (icon == nullptr) return out;
  const Icon* i = reinterpret_cast<const Icon*>(icon);
  const BYTE* group = i->group->data;
  if (i->group->size < 6) return out;
  const WORD count = read16(group + 4);
  for (WORD k = 0; k < count && 6 + 14u * (k + 1u) <= i->group->size; ++k) {
    const BYTE* entry = group + 6 + 14 * k;
    const WORD id = read16(entry + 12);
    const Resource* image = find_resource(i->module, ResourceId{id, {}}, ResourceId{3, {}});
    if (image == nullptr) continue;
    out.push_back(PlatformIconImage{entry[0] ? entry[0] : 256, entry[1] ? entry[1] : 256, read16(entry + 6),
                                    id, image->data, image->size});
  }
  return out;
}

std::vector<PlatformSleep> platform_sleeps() {
  std::lock_guard lock(sleep_log.lock);
  std::vector<PlatformSleep> out;
  out.reserve(sleep_log.count);
  for (uint64_t sequence = sleep_log.sequence - sleep_log.count + 1; sequence <= sleep_log.sequence;
       ++sequence)
    out.push_back(sleep_log.entries[sequence % SLEEP_LOG_SIZE]);
  return out;
}

void platform_log_sleeps(bool on) { sleep_log.logging.store(on); }

void platform_clear_sleeps() {
  std::lock_guard lock(sleep_log.lock);
  sleep_log.count = 0;
}

void platform_set_sleep_hook(void (*hook)(DWORD ms)) { sleep_log.hook.store(hook); }

void platform_set_sleep_divisor(unsigned divisor) { sleep_log.divisor.store(divisor); }
