// The settings file: readable JSON with a format name and version, the firmware the settings were taken
// from, and the ten settings by the names of settings.h. The one reader and writer of it, used by `vexa
// backup` and `vexa restore` and by the browser's "Save settings…" and "Load settings…".
//
//   {
//     "format": "vexa-settings",
//     "version": 1,
//     "firmware": "3.1",
//     "settings": {"blank-leading-zero": false, ..., "mmc-id": 0, "brightness": 8}
//   }
//
// Check boxes are true or false (true where the dialog's box is ticked), the ID and the brightness whole
// numbers in their ranges. "firmware" is a version of letters, digits and dots, null or missing; every other
// key must be there, once, and no other key may be. A NUL byte anywhere refuses the file.
//
// Also compiled into the browser build, which has no C++ exceptions: only nlohmann's non-throwing calls.
#pragma once
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "hosts/shell/settings.h"

constexpr const char* SETTINGS_FORMAT = "vexa-settings";
constexpr int SETTINGS_FORMAT_VERSION = 1;
// Far more than any settings file needs; a larger file is refused before it is parsed.
constexpr size_t SETTINGS_FILE_MAX_BYTES = 64 * 1024;

struct SettingsFile {
  std::string firmware;  // "3.1"; empty when not known
  SettingValues values;
};

// Checks a whole file. True with all ten values in `file`; false with the problem in `error`, naming the
// line of a syntax error or the key of a wrong value, and `file` left as it was.
bool settings_file_read(std::string_view text, SettingsFile& file, std::string& error);
// The file's text for a complete set of ten values, ending with a line feed.
std::string settings_file_write(const SettingsFile& file);
// {"name": value, ...} in the table's order, for the values present.
nlohmann::ordered_json settings_object(const SettingValues& values);
