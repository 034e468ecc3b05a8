// libFuzzer target: any bytes as a settings file (vexa restore, the browser's "Load settings…") and as a
// value on the command line. The reader either refuses them with an error or gives all ten settings in
// their ranges, which it then writes and reads back alike; never a crash, a sanitizer report or a leak.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "hosts/shell/settings_file.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_settings_file: %s\n", what);
  std::abort();
}

void check_values(const SettingValues& values) {
  for (int i = 0; i < SETTING_COUNT; ++i) {
    const std::optional<int>& value = values[static_cast<size_t>(i)];
    if (!value || *value < SETTINGS[i].minimum || *value > SETTINGS[i].maximum)
      fail("a setting missing or out of range");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SettingsFile file;
  std::string error;
  const bool read = settings_file_read(text, file, error);
  if (read != error.empty()) fail("a read gives either settings or an error");
  if (read) {
    check_values(file.values);
    SettingsFile again;
    if (!settings_file_read(settings_file_write(file), again, error)) fail("a written file is refused");
    if (again.values != file.values) fail("a written file reads back otherwise");
  }
  int index = -1;
  int value = -1;
  if (parse_assignment(text, index, value, error) &&
      (index < 0 || value < SETTINGS[index].minimum || value > SETTINGS[index].maximum))
    fail("a value from the command line out of range");
  return 0;
}
