// The command line of the shell commands: options before or after the command, the usage errors (exit
// code 2, nothing started), and --help and the README naming every command, option, setting and exit code.
#include <gtest/gtest.h>

#include "hosts/shell/command_line.h"
#include "hosts/shell/exit_codes.h"
#include "hosts/shell/settings.h"
#include "shell_support.h"

namespace {

TEST(ShellCommandLine, OptionsStandBeforeOrAfterTheCommand) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(parse_command_line({"--midi", "jack", "get", "brightness", "--json", "--port=vexa 2", "trvx"},
                                 line, error))
      << error;
  ASSERT_NE(line.command, nullptr);
  EXPECT_EQ(line.command->command, Command::Get);
  EXPECT_EQ(line.operands, (std::vector<std::string>{"brightness", "trvx"}));
  EXPECT_EQ(line.midi, "jack");
  EXPECT_EQ(line.port, "vexa 2");
  EXPECT_TRUE(line.json);

  CommandLine after;
  ASSERT_TRUE(parse_command_line({"backup", "--midi=sim", "--", "-"}, after, error)) << error;
  EXPECT_EQ(after.command->command, Command::Backup);
  EXPECT_EQ(after.operands, std::vector<std::string>{"-"});
  EXPECT_EQ(after.midi, "sim");
}

TEST(ShellCommandLine, ACommandIsAWordThatIsNoOptionValue) {
  EXPECT_FALSE(names_command({}));
  EXPECT_FALSE(names_command({"--midi", "sim"}));
  EXPECT_FALSE(names_command({"--midi", "sim", "--list"}));
  EXPECT_FALSE(names_command({"--port", "status"}));
  EXPECT_TRUE(names_command({"--midi", "sim", "status"}));
  EXPECT_TRUE(names_command({"frobnicate"}));
  EXPECT_TRUE(names_command({"--", "status"}));
  EXPECT_TRUE(names_command({"--midi=sim", "get"}));
}

TEST(ShellCommandLine, UsageErrorsStartNothing) {
  const std::vector<std::vector<std::string>> wrong = {
      {"frobnicate"},
      {"status", "--loud"},
      {"--json", "set", "trvx=on"},
      {"status", "--image", "x.bin"},
      {"list", "--port", "vexa"},
      {"get", "--list"},
      {"status", "--midi"},
      {"status", "extra"},
      {"restore"},
      {"backup", "a", "b"},
      {"update", "--json=yes"},
      {"status", "--port="},
      {"--midi", "bogus", "status"},
  };
  for (const std::vector<std::string>& args : wrong) {
    sim_start(SimSetup());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int code = shell_run(args, nullptr, ShellStreams{out, err, false});
    const std::string said = contents(err);
    EXPECT_EQ(code, 2) << args[0] << " " << said;
    EXPECT_EQ(said.rfind("vexa: ", 0), 0u) << said;
    EXPECT_EQ(contents(out), "");
    EXPECT_TRUE(sim_unit_snapshot().received.empty());
  }
}

std::string help_text() {
  std::FILE* out = std::tmpfile();
  shell_print_help(out);
  return contents(out);
}

bool has_line_starting(const std::string& text, const std::string& start) {
  for (const std::string& line : lines_of(text))
    if (line.rfind(start, 0) == 0) return true;
  return false;
}

TEST(ShellHelp, NamesEveryCommandOptionSettingAndExitCode) {
  const std::string help = help_text();
  for (const CommandInfo& command : COMMANDS)
    EXPECT_TRUE(has_line_starting(help, std::string("  ") + command.name)) << command.name;
  for (const OptionInfo& option : OPTIONS)
    EXPECT_TRUE(has_line_starting(help, std::string("  ") + option.name)) << option.name;
  for (const Setting& setting : SETTINGS) {
    EXPECT_TRUE(has_line_starting(help, std::string("  ") + setting.name)) << setting.name;
    EXPECT_NE(
        help.find(setting_range(setting) + std::string(setting.kind == SettingKind::CheckBox ? "  " : "")),
        std::string::npos);
  }
  for (const char* range : {"0..126", "0..15"}) EXPECT_NE(help.find(range), std::string::npos) << range;
  for (const ExitMeaning& exit : EXIT_MEANINGS) {
    EXPECT_TRUE(has_line_starting(help, std::string("  ") + exit.code + " ")) << exit.code;
    const std::string first_words = std::string(exit.meaning).substr(0, 30);
    EXPECT_NE(help.find(first_words), std::string::npos) << exit.code;
  }
  for (const std::string& line : lines_of(help)) EXPECT_LE(line.size(), 100u) << line;
  // --help through a command line with a command prints the same.
  std::FILE* out = std::tmpfile();
  EXPECT_EQ(shell_run({"get", "--help"}, nullptr, ShellStreams{out, stderr, false}), 0);
  EXPECT_EQ(contents(out), help);
}

TEST(ShellHelp, TheReadmeShowsTheSameExitCodesSettingsAndFileFormat) {
  const std::string readme = read_text(std::string(VEXA_SOURCE_DIR) + "/README.md");
  ASSERT_NE(readme.find("## From a shell"), std::string::npos);
  for (const ExitMeaning& exit : EXIT_MEANINGS)
    EXPECT_NE(readme.find(std::string("| ") + exit.code + " | " + exit.meaning + " |"), std::string::npos)
        << exit.code;
  for (const Setting& setting : SETTINGS) {
    // A table cell writes the bar of on|off as \|.
    std::string range = setting_range(setting);
    if (range.find('|') != std::string::npos) range.insert(range.find('|'), "\\");
    EXPECT_NE(readme.find(std::string("| `") + setting.name + "` | " + range + " |"), std::string::npos)
        << setting.name;
  }
  EXPECT_NE(readme.find("\"format\": \"vexa-settings\""), std::string::npos);
}

}  // namespace
