// set, backup and restore: the messages the unit receives, the read-back, the settings file written whole,
// where and as a shell's `>` would write it, and output that cannot be written.
#include <fcntl.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "midi/midi.h"
#include "shell_support.h"

namespace {

mode_t mode_of(const std::string& path, bool link = false) {
  struct stat status = {};
  return (link ? lstat(path.c_str(), &status) : stat(path.c_str(), &status)) == 0 ? status.st_mode : 0;
}

SimSetup tour_unit() {  // every setting differs from the simulated unit's defaults
  SimSetup setup;
  const uint8_t settings[SIM_PARAM_COUNT] = {1, 99, 1, 2, 1, 1, 1, 1, 1, 1};
  std::copy(settings, settings + SIM_PARAM_COUNT, setup.unit.settings);
  return setup;
}

TEST(ShellBackup, ThenRestoreIntoAnotherUnitLeavesItAsTheFirst) {
  TempFolder folder;
  const std::string file = folder.file("tour.json");
  ASSERT_EQ(run_shell({"backup", file}, tour_unit()).code, 0);
  EXPECT_EQ(nlohmann::json::parse(read_text(file), nullptr, false), nlohmann::json::parse(R"({"format":
      "vexa-settings", "version": 1, "firmware": "3.1", "settings": {"blank-leading-zero": true, "blank-frames":
      true, "stationary-ltc": false, "mtc-full-message": true, "mtc-mmc-locate": true, "infinite-flywheel": true,
      "ltc-hold-off": true, "trvx": true, "mmc-id": 99, "brightness": 2}})"));
  // A unit with the simulated unit's defaults takes the file: one message for each setting, read back.
  ShellResult result = run_shell({"restore", file});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(lines_of(result.out).size(), 10u) << result.out;
  EXPECT_EQ(lines_of(result.out).back(), "brightness=2 (was 8)");
  const SimUnit unit = sim_unit_snapshot();
  EXPECT_TRUE(std::equal(unit.settings, unit.settings + SIM_PARAM_COUNT, tour_unit().unit.settings));
  // Again: nothing differs, nothing changes.
  result = run_shell_again({"restore", file});
  EXPECT_EQ(result.code + result.out.size(), 0u) << result.err;
  EXPECT_EQ(set_messages().size(), 10u);
  // A file from other firmware is taken, and said to be.
  std::string text = read_text(file);
  write_text(file, text.replace(text.find("\"3.1\""), 5, "\"3.0\""));
  EXPECT_NE(run_shell({"restore", file}).err.find("the file was taken from firmware 3.0; the unit runs 3.1"),
            std::string::npos);
}

// Kept: a mode, a link (to the file it names), a FIFO; a file that may not be written is refused at once.
TEST(ShellBackup, TheTargetIsWrittenAsAShellsRedirectionWouldWriteIt) {
  TempFolder folder;
  const std::string own = folder.file("own.json"), named = folder.file("named.json");
  const std::string link = folder.file("link.json"), read_only = folder.file("read-only.json");
  const std::string fifo = folder.file("fifo");
  for (const std::string& path : {own, named, read_only}) write_text(path, "an older file");
  chmod(own.c_str(), 0600);
  chmod(read_only.c_str(), 0444);
  ASSERT_EQ(symlink("named.json", link.c_str()) + mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  for (const std::string& path : {own, link, fifo}) EXPECT_EQ(run_shell({"backup", path}).code, 0) << path;
  char piped[4096] = {};
  EXPECT_GT(read(reader, piped, sizeof piped - 1), 0);
  close(reader);
  EXPECT_NE(std::string(piped).find("\"brightness\": 8"), std::string::npos);
  EXPECT_TRUE(S_ISFIFO(mode_of(fifo)) && S_ISLNK(mode_of(link, true)));
  EXPECT_EQ(mode_of(own) & 0777, 0600u);
  for (const std::string& path : {own, named})
    EXPECT_EQ(nlohmann::json::parse(read_text(path), nullptr, false)["settings"]["brightness"], 8) << path;
  // Root writes a read-only file, as its shell would, and keeps its mode.
  EXPECT_EQ(run_shell({"backup", read_only}).code, geteuid() == 0 ? 0 : 2);
  EXPECT_EQ(read_text(read_only) == "an older file", geteuid() != 0);
  EXPECT_EQ(mode_of(read_only) & 0777, 0444u);
  // A unit in update mode has no settings: the file stays as it was.
  EXPECT_EQ(run_shell({"backup", own}, update_mode_unit()).code, 4);
  EXPECT_EQ(std::system(("test $(ls -A " + folder.path + " | wc -l) -eq 5").c_str()), 0)
      << "a temporary file";
}

// Output that was not written (a full disk) is an error, whatever the command did.
TEST(ShellOutput, AFailedWriteOfTheOutputFailsTheCommand) {
  for (const Args& args : {Args{"backup"}, Args{"get"}, Args{"status", "--json"}, Args{"set", "trvx=on"},
                           Args{"list"}, Args{"--help"}}) {
    const ShellResult result = run_shell(args, SimSetup(), std::fopen("/dev/full", "w"));
    EXPECT_EQ(result.code, 5) << args[0];
    EXPECT_NE(result.err.find("vexa: cannot write the output: No space left on device"), std::string::npos)
        << result.err;
  }
}

TEST(ShellSet, ChangesAtTheControlsThenReadsEachBack) {
  platform_clear_sleeps();
  const ShellResult result =
      run_shell({"set", "brightness=0", "trvx=on", "mmc-id=126", "stationary-ltc=off", "blank-frames=off"});
  EXPECT_EQ(result.code, 0) << result.err;
  // One message for each setting that differs, in the table's order; blank-frames was off already.
  EXPECT_EQ(lines_of(result.out), (Args{"stationary-ltc=off (was on)", "trvx=on (was off)",
                                        "mmc-id=126 (was 0)", "brightness=0 (was 8)"}));
  const std::vector<Bytes> received = sim_unit_snapshot().received;
  ASSERT_EQ(received.size(), 19u);  // after the burst of eleven:
  EXPECT_EQ(std::vector<Bytes>(received.begin() + 11, received.end()),
            (std::vector<Bytes>{message(0x58, 1), message(0x5D, 1), message(0x53, 0x7E), message(0x56, 0),
                                message(0x58, 0x7F), message(0x5D, 0x7F), message(0x53, 0x7F),
                                message(0x56, 0x7F)}));
  // Each message is followed by the program's pause: eleven of the burst, four changes, four read-backs.
  int pauses = 0;
  for (const PlatformSleep& sleep : platform_sleeps()) pauses += sleep.ms == 50;
  EXPECT_EQ(pauses, 19);
}

// The unit holds another value, or one that no control shows (a slider shows 31 as 15), or stops answering.
TEST(ShellSet, AReadBackThatDisagreesOrIsNotAnsweredFailsTheCommand) {
  static int param = 0;
  static int held = 0;
  platform_set_sleep_hook([](DWORD) {
    sim_with_unit([](SimUnit& unit) {
      if (unit.received.empty() || unit.received.back()[3] != param || unit.received.back()[4] == 0x7F)
        return;
      if (held < 0) unit.config.reply_model = 0x11;
      if (held >= 0) unit.settings[sim_param_index(uint8_t(param))] = uint8_t(held);
    });
  });
  const std::tuple<Args, int, int, int, std::string> cases[] = {
      {{"set", "brightness=3"}, 0x56, 5, 1, "brightness was set to 3, but the unit reports 5"},
      {{"set", "brightness=15"}, 0x56, 31, 1, "brightness was set to 15, but the unit reports 31"},
      {{"set", "trvx=off"}, 0x5D, 5, 1, "trvx was set to off, but the unit reports 5"},
      {{"set", "trvx=off"}, 0x5D, -1, 3, "the unit did not report trvx back"},
  };
  for (const auto& [args, code, value, exit_code, said] : cases) {
    param = code;
    held = value;
    SimSetup trvx_on;
    trvx_on.unit.settings[9] = 1;
    const ShellResult result = run_shell(args, trvx_on);
    EXPECT_EQ(result.code, exit_code) << said;
    EXPECT_NE(result.err.find(said), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(received_with_code(code).back(), message(code, 0x7F));
  }
  platform_set_sleep_hook(nullptr);
}

}  // namespace
