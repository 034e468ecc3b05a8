// backup and restore: the settings file written whole or not at all, read back into another unit, and a
// file that is refused changing nothing.
#include <dirent.h>

#include <nlohmann/json.hpp>

#include "shell_support.h"

namespace {

std::vector<std::string> folder_entries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.' || (entry->d_name[1] && entry->d_name[1] != '.'))
        names.push_back(entry->d_name);
    closedir(dir);
  }
  return names;
}

// Every setting differs from the simulated unit's defaults.
SimSetup tour_unit() {
  SimSetup setup;
  const uint8_t settings[SIM_PARAM_COUNT] = {1, 99, 1, 2, 1, 1, 1, 1, 1, 1};
  std::copy(settings, settings + SIM_PARAM_COUNT, setup.unit.settings);
  return setup;
}

const char VALID[] = R"({
  "format": "vexa-settings",
  "version": 1,
  "firmware": "3.1",
  "settings": {
    "blank-leading-zero": true, "blank-frames": true, "stationary-ltc": false, "mtc-full-message": true,
    "mtc-mmc-locate": true, "infinite-flywheel": true, "ltc-hold-off": true, "trvx": true,
    "mmc-id": 99, "brightness": 2
  }
})";

TEST(ShellBackup, ThenRestoreIntoAnotherUnitLeavesItAsTheFirst) {
  TempFolder folder;
  const std::string file = folder.file("tour.json");
  ShellResult result = run_shell({"backup", file}, tour_unit());
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(folder_entries(folder.path()), std::vector<std::string>{"tour.json"}) << "no temporary file left";
  const nlohmann::json written = nlohmann::json::parse(read_text(file), nullptr, false);
  EXPECT_EQ(written, nlohmann::json::parse(VALID));
  const ShellResult first = run_shell_again({"get"});

  // A unit with the simulated unit's defaults takes the file; every setting is set and read back.
  result = run_shell({"restore", file});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(lines_of(result.out).size(), 10u) << result.out;
  EXPECT_EQ(lines_of(result.out).front(), "blank-leading-zero=on (was off)");
  EXPECT_EQ(lines_of(result.out).back(), "brightness=2 (was 8)");
  const SimUnit unit = sim_unit_snapshot();
  EXPECT_TRUE(std::equal(unit.settings, unit.settings + SIM_PARAM_COUNT, tour_unit().unit.settings));
  EXPECT_EQ(run_shell_again({"get"}).out, first.out);

  // Again: nothing differs, nothing is sent but what connecting sends.
  const size_t before = sim_unit_snapshot().received.size();
  result = run_shell_again({"restore", file});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "");
  // The burst and the brightness that the slider sends back once.
  EXPECT_EQ(sim_unit_snapshot().received.size(), before + 12);
}

TEST(ShellBackup, ToStandardOutputAndReplacingAFile) {
  ShellResult result = run_shell({"backup", "-"}, tour_unit());
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(nlohmann::json::parse(result.out, nullptr, false), nlohmann::json::parse(VALID));
  TempFolder folder;
  const std::string file = folder.file("settings.json");
  write_text(file, "an older file");
  result = run_shell({"backup", file});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(nlohmann::json::parse(read_text(file), nullptr, false)["settings"]["brightness"], 8);
  EXPECT_EQ(folder_entries(folder.path()).size(), 1u);
}

// A file that cannot be written fails before anything is sent; a command that fails leaves no file.
TEST(ShellBackup, NothingHalfDone) {
  ShellResult result = run_shell({"backup", "/nonexistent-folder/settings.json"});
  EXPECT_EQ(result.code, 2);
  EXPECT_NE(result.err.find("/nonexistent-folder/settings.json: cannot write beside it"), std::string::npos)
      << result.err;
  EXPECT_TRUE(sim_unit_snapshot().received.empty());

  TempFolder folder;
  SimSetup boot;
  boot.unit.mode = SimMode::Boot;
  result = run_shell({"backup", folder.file("settings.json")}, boot);
  EXPECT_EQ(result.code, 4);
  EXPECT_TRUE(folder_entries(folder.path()).empty());
}

// Each way a file can be wrong: exit code 2, an error that names the line or the key, and not one message
// to the unit.
TEST(ShellRestore, ABrokenOrOutOfRangeFileSendsNothing) {
  const std::string valid = VALID;
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = valid;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {replaced("\"version\": 1,", "\"version\": 1"), "line 4, column 12: syntax error"},
      {valid.substr(0, valid.size() - 2), "syntax error"},
      {"", "line 1, column 1"},
      {replaced("\"brightness\": 2", "\"brightness\": 16"),
       "\"settings.brightness\" is 16, out of range (0..15)"},
      {replaced("\"mmc-id\": 99", "\"mmc-id\": -1"), "\"settings.mmc-id\" is -1, out of range (0..126)"},
      {replaced("\"mmc-id\": 99", "\"mmc-id\": 9.5"), "\"settings.mmc-id\" must be a whole number"},
      {replaced("\"trvx\": true", "\"trvx\": 1"), "\"settings.trvx\" must be true or false"},
      {replaced("\"trvx\": true,", ""), "missing setting \"settings.trvx\""},
      {replaced("\"trvx\": true", "\"trvx\": true, \"volume\": 3"), "unknown setting \"settings.volume\""},
      {replaced("\"trvx\": true", "\"trvx\": true, \"trvx\": false"), "\"settings.trvx\" is given twice"},
      {replaced("\"firmware\"", "\"comment\": \"x\", \"firmware\""), "unknown key \"comment\""},
      {replaced("vexa-settings", "other-settings"), "\"format\" is not \"vexa-settings\""},
      {replaced("\"version\": 1", "\"version\": 2"), "\"version\" is not 1"},
      {"[1, 2]", "not a vexa settings file"},
  };
  TempFolder folder;
  const std::string file = folder.file("settings.json");
  for (const Case& c : cases) {
    write_text(file, c.text);
    const ShellResult result = run_shell({"restore", file});
    EXPECT_EQ(result.code, 2) << c.error;
    EXPECT_NE(result.err.find(file + ": "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.error), std::string::npos)
        << "wanted \"" << c.error << "\" in " << result.err;
    EXPECT_EQ(sim_unit_snapshot().received.size(), 0u) << c.error;
  }
  const ShellResult missing = run_shell({"restore", folder.file("none.json")});
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
  EXPECT_EQ(sim_unit_snapshot().received.size(), 0u);
}

TEST(ShellRestore, AFileWithoutFirmwareOrFromOtherFirmwareIsTaken) {
  TempFolder folder;
  const std::string file = folder.file("settings.json");
  std::string text = VALID;
  text.replace(text.find("\"3.1\""), 5, "\"3.0\"");
  write_text(file, text);
  ShellResult result = run_shell({"restore", file});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.err.find("the file was taken from firmware 3.0; the unit runs 3.1"), std::string::npos)
      << result.err;
  text.replace(text.find("\"3.0\""), 5, "null");
  write_text(file, text);
  result = run_shell({"restore", file});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.err.find("taken from"), std::string::npos) << result.err;
}

}  // namespace
