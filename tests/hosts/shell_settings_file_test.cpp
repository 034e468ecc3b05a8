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

TEST(SettingsFile, WhatIsWrittenReadsBackAlike) {
  const std::string text = settings_file_write(sample());
  SettingsFile read;
  std::string error;
  ASSERT_TRUE(settings_file_read(text, read, error)) << error;
  EXPECT_EQ(read.firmware, "3.1");
  EXPECT_EQ(read.values, sample().values);
  EXPECT_EQ(text.back(), '\n');
  // Keys in the table's order, check boxes as true and false.
  EXPECT_LT(text.find("\"blank-leading-zero\": true"), text.find("\"brightness\": 15"));
  SettingsFile unknown = sample();
  unknown.firmware.clear();
  EXPECT_NE(settings_file_write(unknown).find("\"firmware\": null"), std::string::npos);
}

TEST(SettingsFile, RefusedFilesLeaveTheResultAsItWas) {
  const std::string text = settings_file_write(sample());
  const std::string cases[] = {
      std::string(SETTINGS_FILE_MAX_BYTES + 1, ' '),
      std::string(20, '[') + std::string(20, ']'),
      "{\"format\": \"vexa-settings\", \"format\": \"vexa-settings\"}",
      "{\"format\": \"vexa-\xff\"}",
      text.substr(0, text.find("\"brightness\"")) + "\"brightness\": 15.0}}",
      text.substr(0, text.find("\"brightness\"")) + "\"brightness\": 18446744073709551615}}",
      "{\"format\": \"vexa-settings\", \"version\": 1, \"firmware\": 31, \"settings\": {}}",
      "{\"format\": \"vexa-settings\", \"version\": 1, \"settings\": []}",
      "{\"format\": \"vexa-settings\", \"version\": 1}",
      "null",
  };
  for (const std::string& bad : cases) {
    SettingsFile read;
    read.firmware = "untouched";
    std::string error;
    EXPECT_FALSE(settings_file_read(bad, read, error)) << bad.substr(0, 60);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(read.firmware, "untouched");
    EXPECT_FALSE(read.values[0].has_value());
  }
}

TEST(SettingsFile, ErrorsNameTheLineOrTheKey) {
  SettingsFile read;
  std::string error;
  EXPECT_FALSE(settings_file_read("{\n  \"format\": \"vexa-settings\",\n  \"version\" 1\n}", read, error));
  EXPECT_EQ(error.rfind("line 3, column ", 0), 0u) << error;
  EXPECT_NE(error.find("syntax error"), std::string::npos) << error;
  EXPECT_FALSE(settings_file_read("{\"format\": 1, \"format\": 2}", read, error));
  EXPECT_EQ(error, "\"format\" is given twice");
  EXPECT_FALSE(settings_file_read(std::string(20, '['), read, error));
  EXPECT_EQ(error, "the document nests deeper than a settings file does");
}

TEST(SettingValues, AsTypedOnTheCommandLine) {
  int index = -1;
  int value = -1;
  std::string error;
  ASSERT_TRUE(parse_assignment("mmc-id=007", index, value, error)) << error;
  EXPECT_EQ(std::string(SETTINGS[index].name), "mmc-id");
  EXPECT_EQ(value, 7);
  ASSERT_TRUE(parse_assignment("stationary-ltc=off", index, value, error)) << error;
  EXPECT_EQ(value, 0);
  for (const char* wrong : {"trvx=ON", "trvx=1", "trvx=", "mmc-id=", "mmc-id=+5", "mmc-id=1234567",
                            "brightness=0x5", "=3", "trvx", "volume=3"}) {
    EXPECT_FALSE(parse_assignment(wrong, index, value, error)) << wrong;
  }
  EXPECT_FALSE(parse_assignment("brightness=16", index, value, error));
  EXPECT_EQ(error, "brightness takes 0..15, not \"16\"");
}

}  // namespace
