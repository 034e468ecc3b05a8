#include "hosts/shell/settings_file.h"

#include <algorithm>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

// Objects and arrays of a settings file nest two deep; deeper documents are refused before they are built.
constexpr size_t MAX_DEPTH = 8;
const char* const TOP_KEYS[] = {"format", "version", "firmware", "settings"};
// A version as the unit reports one ("3.1"): letters, digits and dots, short.
constexpr size_t MAX_VERSION_LENGTH = 16;

// "line 3, column 5" of the byte at `position` (0-based).
std::string line_and_column(std::string_view text, size_t position) {
  const std::string_view before = text.substr(0, std::min(position, text.size()));
  const size_t line_start = before.rfind('\n');
  const size_t column = line_start == std::string_view::npos ? position + 1 : position - line_start;
  return "line " + std::to_string(std::count(before.begin(), before.end(), '\n') + 1) + ", column " +
         std::to_string(column);
}

// A first pass over the text for what the document parser does not tell: the line and column of a syntax
// error, a key given twice in one object (the parser would keep the last), and nesting deeper than a
// settings file has.
class SyntaxCheck : public nlohmann::json_sax<Json> {
 public:
  explicit SyntaxCheck(std::string_view text) : text(text) {}
  std::string error;

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return open(); }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(); }
  bool end_array() override { return close(); }

  bool key(string_t& name) override {
    std::vector<std::string>& keys = open_keys.back();
    if (std::find(keys.begin(), keys.end(), name) != keys.end()) {
      error = "\"" + path(name) + "\" is given twice";
      return false;
    }
    keys.push_back(name);
    return true;
  }

  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& problem) override {
    // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..." without its
    // library prefix; a problem that names no line ("number overflow parsing '1e999'") gets the line and
    // column where the parser stopped.
    const std::string what = problem.what();
    const size_t at = what.find(" at line ");
    const size_t prefix_end = what.find("] ");
    error = at != std::string::npos ? what.substr(at + 4)
                                    : line_and_column(text, position > 0 ? position - 1 : 0) + ": " +
                                          what.substr(prefix_end == std::string::npos ? 0 : prefix_end + 2);
    return false;
  }

 private:
  std::string_view text;
  std::vector<std::vector<std::string>> open_keys;  // the keys seen so far in each open object or array

  bool open() {
    if (open_keys.size() >= MAX_DEPTH) {
      error = "the document nests deeper than a settings file does";
      return false;
    }
    open_keys.emplace_back();
    return true;
  }

  bool close() {
    open_keys.pop_back();
    return true;
  }

  // "settings.brightness": the last key of each enclosing object, then the key.
  std::string path(const std::string& name) const {
    std::string joined;
    for (size_t level = 0; level + 1 < open_keys.size(); ++level) {
      if (open_keys[level].empty()) continue;
      joined += open_keys[level].back() + ".";
    }
    return joined + name;
  }
};

bool plain_version(const std::string& text) {
  const auto plain = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.';
  };
  return !text.empty() && text.size() <= MAX_VERSION_LENGTH && std::all_of(text.begin(), text.end(), plain);
}

bool check_top_level(const Json& document, std::string& error) {
  if (!document.is_object()) {
    error = "the file holds no JSON object: not a vexa settings file";
    return false;
  }
  for (const auto& item : document.items()) {
    if (std::find(std::begin(TOP_KEYS), std::end(TOP_KEYS), item.key()) == std::end(TOP_KEYS)) {
      error = "unknown key \"" + item.key() + "\"";
      return false;
    }
  }
  const auto format = document.find("format");
  if (format == document.end() || !format->is_string() || format->get<std::string>() != SETTINGS_FORMAT) {
    error = std::string("\"format\" is not \"") + SETTINGS_FORMAT + "\": not a vexa settings file";
    return false;
  }
  const auto version = document.find("version");
  if (version == document.end() || !version->is_number_integer() ||
      version->get<int64_t>() != SETTINGS_FORMAT_VERSION) {
    error = "\"version\" is not " + std::to_string(SETTINGS_FORMAT_VERSION) +
            ", the version of the file format that this program reads";
    return false;
  }
  const auto firmware = document.find("firmware");
  if (firmware != document.end() && !firmware->is_null() &&
      (!firmware->is_string() || !plain_version(firmware->get<std::string>()))) {
    error = "\"firmware\" is neither a version such as \"3.1\" nor null";
    return false;
  }
  const auto settings = document.find("settings");
  if (settings == document.end() || !settings->is_object()) {
    error = "\"settings\" is missing or is not an object";
    return false;
  }
  return true;
}

// One setting's value from the file: a boolean for a check box, a whole number in range otherwise.
bool read_value(const Setting& setting, const Json& value, int& out, std::string& error) {
  const std::string key = std::string("\"settings.") + setting.name + "\"";
  if (setting.kind == SettingKind::CheckBox) {
    if (!value.is_boolean()) {
      error = key + " must be true or false";
      return false;
    }
    out = value.get<bool>() ? 1 : 0;
    return true;
  }
  const std::string range = " (" + setting_range(setting) + ")";
  if (!value.is_number_integer()) {
    error = key + " must be a whole number" + range;
    return false;
  }
  const bool negative = !value.is_number_unsigned() && value.get<int64_t>() < 0;
  const uint64_t number = negative ? 0 : value.get<uint64_t>();
  if (negative || number < static_cast<uint64_t>(setting.minimum) ||
      number > static_cast<uint64_t>(setting.maximum)) {
    error = key + " is " + value.dump() + ", out of range" + range;
    return false;
  }
  out = static_cast<int>(number);
  return true;
}

bool read_settings(const Json& settings, SettingValues& values, std::string& error) {
  for (const auto& item : settings.items()) {
    if (setting_index(item.key()) < 0) {
      error = "unknown setting \"settings." + item.key() + "\"";
      return false;
    }
  }
  for (int i = 0; i < SETTING_COUNT; ++i) {
    const auto value = settings.find(SETTINGS[i].name);
    if (value == settings.end()) {
      error = std::string("missing setting \"settings.") + SETTINGS[i].name + "\"";
      return false;
    }
    int number = 0;
    if (!read_value(SETTINGS[i], *value, number, error)) return false;
    values[static_cast<size_t>(i)] = number;
  }
  return true;
}

}  // namespace

bool settings_file_read(std::string_view text, SettingsFile& file, std::string& error) {
  if (text.size() > SETTINGS_FILE_MAX_BYTES) {
    error = "the file is larger than " + std::to_string(SETTINGS_FILE_MAX_BYTES / 1024) +
            " KiB: not a vexa settings file";
    return false;
  }
  // The parser takes a NUL byte for the end of the text, and would read no further.
  if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
    error = line_and_column(text, nul) + ": a NUL byte: not a vexa settings file";
    return false;
  }
  SyntaxCheck check(text);
  if (!Json::sax_parse(text.begin(), text.end(), &check)) {
    error = check.error;
    return false;
  }
  const Json document = Json::parse(text.begin(), text.end(), nullptr, false);
  if (document.is_discarded()) {
    error = "the file is not JSON";
    return false;
  }
  SettingsFile read;
  if (!check_top_level(document, error) || !read_settings(*document.find("settings"), read.values, error))
    return false;
  const auto firmware = document.find("firmware");
  if (firmware != document.end() && firmware->is_string()) read.firmware = firmware->get<std::string>();
  file = read;
  return true;
}

nlohmann::ordered_json settings_object(const SettingValues& values) {
  Json object = Json::object();
  for (int i = 0; i < SETTING_COUNT; ++i) {
    const std::optional<int>& value = values[static_cast<size_t>(i)];
    if (!value) continue;
    if (SETTINGS[i].kind == SettingKind::CheckBox)
      object[SETTINGS[i].name] = *value != 0;
    else
      object[SETTINGS[i].name] = *value;
  }
  return object;
}

std::string settings_file_write(const SettingsFile& file) {
  Json document = Json::object();
  document["format"] = SETTINGS_FORMAT;
  document["version"] = SETTINGS_FORMAT_VERSION;
  // A version that the reader would refuse is not known.
  document["firmware"] = plain_version(file.firmware) ? Json(file.firmware) : Json(nullptr);
  document["settings"] = settings_object(file.values);
  // Text that is not UTF-8 is written with replacement characters rather than refused.
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
