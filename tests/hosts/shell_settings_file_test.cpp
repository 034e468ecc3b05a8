// The settings file's reader and writer and the command line's values, on their own.
#include <gtest/gtest.h>

#include "hosts/shell/settings_file.h"

namespace {

SettingsFile sample() {
  SettingsFile file;
  file.firmware = "3.1";
  const int values[SETTING_COUNT] = {1, 0, 1, 0, 1, 1, 0, 1, 126, 15};
  for (int i = 0; i < SETTING_COUNT; ++i) file.values[static_cast<size_t>(i)] = values[i];
  return file;
}

// What is written reads back alike (as restore shows); a version that it would refuse is written as null.
TEST(SettingsFile, AVersionThatWouldBeRefusedIsNotWritten) {
  SettingsFile file = sample();
  file.firmware = "3\x1b";
  EXPECT_NE(settings_file_write(file).find("\"firmware\": null"), std::string::npos);
}

// Each way a file can be wrong, with the line or the key that the error names; the result stays as it was.
TEST(SettingsFile, RefusedFilesNameTheLineOrTheKey) {
  const std::string valid = settings_file_write(sample());
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = valid;
    return text.replace(text.find(from), from.size(), to);
  };
  const std::pair<std::string, std::string> cases[] = {
      {replaced("\"version\": 1,", "\"version\": 1"), "line 4, column 12: syntax error"},
      {valid + std::string(1, '\0') + "{", "line 18, column 1: a NUL byte"},
      {replaced("\"brightness\": 15", "\"brightness\": 1e999"), "line 15, column 23: number overflow"},
      {replaced("\"brightness\": 15", "\"brightness\": 16"),
       "\"settings.brightness\" is 16, out of range (0..15)"},
      {replaced("\"mmc-id\": 126", "\"mmc-id\": -1"), "\"settings.mmc-id\" is -1, out of range (0..126)"},
      {replaced("\"mmc-id\": 126", "\"mmc-id\": 9.5"), "\"settings.mmc-id\" must be a whole number"},
      {replaced("\"brightness\": 15", "\"brightness\": 18446744073709551615"), "out of range (0..15)"},
      {replaced("\"trvx\": true", "\"trvx\": 1"), "\"settings.trvx\" must be true or false"},
      {replaced("\"trvx\": true,", ""), "missing setting \"settings.trvx\""},
      {replaced("\"trvx\": true", "\"trvx\": true, \"volume\": 3"), "unknown setting \"settings.volume\""},
      {replaced("\"trvx\": true", "\"trvx\": true, \"trvx\": false"), "\"settings.trvx\" is given twice"},
      {replaced("\"firmware\"", "\"comment\": \"x\", \"firmware\""), "unknown key \"comment\""},
      {replaced("vexa-settings", "other-settings"), "\"format\" is not \"vexa-settings\""},
      {replaced("\"version\": 1", "\"version\": 2"), "\"version\" is not 1"},
      {replaced("\"3.1\"", "\"\\u001b]0;TITLE\\u0007\""), "\"firmware\" is neither a version"},
      {replaced("\"3.1\"", "\"3.1\\u0000x\""), "\"firmware\" is neither a version"},
      {replaced("\"3.1\"", "31"), "\"firmware\" is neither a version"},
      {"{\"format\": \"vexa-settings\", \"version\": 1, \"settings\": []}",
       "\"settings\" is missing or is not an"},
      {std::string(SETTINGS_FILE_MAX_BYTES + 1, ' '), "larger than 64 KiB"},
      {std::string(20, '[') + std::string(20, ']'), "the document nests deeper than a settings file does"},
      {"{\"format\": \"vexa-\xff\"}", "syntax error"},
      {"[1, 2]", "not a vexa settings file"},
  };
  for (const auto& [text, said] : cases) {
    SettingsFile read;
    read.firmware = "untouched";
    std::string error;
    EXPECT_FALSE(settings_file_read(text, read, error)) << said;
    EXPECT_NE(error.find(said), std::string::npos) << "wanted \"" << said << "\" in " << error;
    EXPECT_EQ(read.firmware, "untouched");
  }
}

TEST(SettingValues, AsTypedOnTheCommandLine) {
  int index = -1;
  int value = -1;
  std::string error;
  ASSERT_TRUE(parse_assignment("mmc-id=007", index, value, error)) << error;
  EXPECT_EQ(std::string(SETTINGS[index].name) + "=" + std::to_string(value), "mmc-id=7");
  ASSERT_TRUE(parse_assignment("stationary-ltc=off", index, value, error)) << error;
  EXPECT_EQ(value, 0);
  for (const char* wrong :
       {"trvx=ON", "trvx=1", "trvx=", "mmc-id=", "mmc-id=+5", "mmc-id=1234567", "mmc-id=127", "mmc-id=1e2",
        "brightness=-1", "brightness=0x5", "=3", "trvx", "volume=3"})
    EXPECT_FALSE(parse_assignment(wrong, index, value, error)) << wrong;
  EXPECT_FALSE(parse_assignment("brightness=16", index, value, error));
  EXPECT_EQ(error, "brightness takes 0..15, not \"16\"");
}

}  // namespace
