// get, set and the read-back after a change, against the simulated unit: the exact messages the unit
// receives, what the commands print and their exit codes.
#include <nlohmann/json.hpp>

#include "midi/midi.h"
#include "shell_support.h"

namespace {

// By the unit's parameter order 52 53 55 56 58 59 5A 5B 5C 5D.
SimSetup unit_with(std::initializer_list<uint8_t> settings) {
  SimSetup setup;
  std::copy(settings.begin(), settings.end(), setup.unit.settings);
  return setup;
}

const Bytes READ_BACK_BURST[] = {
    message({0xF0, 0x2C, 0x4D, 0x52, 0x7F, 0xF7}), message({0xF0, 0x2C, 0x4D, 0x55, 0x7F, 0xF7}),
    message({0xF0, 0x2C, 0x4D, 0x53, 0x7F, 0xF7}), message({0xF0, 0x2C, 0x4D, 0x58, 0x7F, 0xF7}),
    message({0xF0, 0x2C, 0x4D, 0x59, 0x7F, 0xF7}), message({0xF0, 0x2C, 0x4D, 0x5A, 0x7F, 0xF7}),
    message({0xF0, 0x2C, 0x4D, 0x5B, 0x7F, 0xF7}), message({0xF0, 0x2C, 0x4D, 0x5C, 0x7F, 0xF7}),
    message({0xF0, 0x2C, 0x4D, 0x5D, 0x7F, 0xF7}), message({0xF0, 0x2C, 0x4D, 0x56, 0x7F, 0xF7}),
    message({0xF0, 0x2C, 0x4D, 0x10, 0xF7}),
};

// What the unit received after the burst and the echo of its brightness that follows it.
std::vector<Bytes> received_after_connecting() {
  const std::vector<Bytes> received = sim_unit_snapshot().received;
  const std::vector<Bytes> burst(std::begin(READ_BACK_BURST), std::end(READ_BACK_BURST));
  EXPECT_GE(received.size(), burst.size() + 1);
  if (received.size() < burst.size() + 1) return {};
  EXPECT_EQ(std::vector<Bytes>(received.begin(), received.begin() + 11), burst);
  EXPECT_EQ(received[11][3], 0x56) << "the slider sends the reported brightness back once";
  return std::vector<Bytes>(received.begin() + 12, received.end());
}

int person_pauses(DWORD ms) {
  int count = 0;
  for (const PlatformSleep& sleep : platform_sleeps())
    count += sleep.thread_id == GetCurrentThreadId() && sleep.ms == ms;
  return count;
}

TEST(ShellGet, PrintsTheTenSettingsAsTheDialogShowsThem) {
  const ShellResult result = run_shell({"get"}, unit_with({1, 42, 0, 11, 1, 1, 0, 1, 0, 1}));
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(lines_of(result.out),
            (std::vector<std::string>{"blank-leading-zero=on", "blank-frames=off", "stationary-ltc=off",
                                      "mtc-full-message=off", "mtc-mmc-locate=off", "infinite-flywheel=on",
                                      "ltc-hold-off=on", "trvx=on", "mmc-id=42", "brightness=11"}));
  EXPECT_EQ(result.err, "");
  // Nothing but the dialog's own messages: the burst and the brightness echoed once.
  EXPECT_EQ(received_after_connecting(), std::vector<Bytes>{});
  // The dialog was closed as its close button closes it: both ports are closed.
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_EQ(midi_out_port.load(), nullptr);
}

TEST(ShellGet, NamedSettingsInTheirOrderAndAsJson) {
  const SimSetup setup = unit_with({0, 7, 1, 15, 0, 0, 1, 0, 1, 0});
  const ShellResult text = run_shell({"get", "brightness", "stationary-ltc", "mmc-id"}, setup);
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(lines_of(text.out), (std::vector<std::string>{"brightness=15", "stationary-ltc=on", "mmc-id=7"}));

  const ShellResult json = run_shell({"--json", "get", "trvx", "mtc-full-message"}, setup);
  EXPECT_EQ(json.code, 0) << json.err;
  const nlohmann::json object = nlohmann::json::parse(json.out, nullptr, false);
  EXPECT_EQ(object, nlohmann::json({{"trvx", false}, {"mtc-full-message", true}})) << json.out;

  const ShellResult unknown = run_shell({"get", "brightness", "loudness"}, setup);
  EXPECT_EQ(unknown.code, 2);
  EXPECT_NE(unknown.err.find("unknown setting \"loudness\""), std::string::npos) << unknown.err;
  EXPECT_TRUE(sim_unit_snapshot().received.empty());
}

TEST(ShellSet, ChangesAtTheControlsThenReadsEachBack) {
  platform_clear_sleeps();
  const ShellResult result =
      run_shell({"set", "brightness=3", "trvx=on", "mmc-id=126", "stationary-ltc=off", "blank-frames=off"});
  EXPECT_EQ(result.code, 0) << result.err;
  // In the table's order; blank-frames was off already.
  EXPECT_EQ(lines_of(result.out),
            (std::vector<std::string>{"stationary-ltc=off (was on)", "trvx=on (was off)",
                                      "mmc-id=126 (was 0)", "brightness=3 (was 8)"}));
  EXPECT_EQ(received_after_connecting(), (std::vector<Bytes>{
                                             message({0xF0, 0x2C, 0x4D, 0x58, 0x01, 0xF7}),
                                             message({0xF0, 0x2C, 0x4D, 0x5D, 0x01, 0xF7}),
                                             message({0xF0, 0x2C, 0x4D, 0x53, 0x7E, 0xF7}),
                                             message({0xF0, 0x2C, 0x4D, 0x56, 0x03, 0xF7}),
                                             message({0xF0, 0x2C, 0x4D, 0x58, 0x7F, 0xF7}),
                                             message({0xF0, 0x2C, 0x4D, 0x5D, 0x7F, 0xF7}),
                                             message({0xF0, 0x2C, 0x4D, 0x53, 0x7F, 0xF7}),
                                             message({0xF0, 0x2C, 0x4D, 0x56, 0x7F, 0xF7}),
                                         }));
  const SimUnit unit = sim_unit_snapshot();
  EXPECT_EQ(sim_unit_setting(unit, 0x56), 3);
  EXPECT_EQ(sim_unit_setting(unit, 0x5D), 1);
  EXPECT_EQ(sim_unit_setting(unit, 0x53), 126);
  EXPECT_EQ(sim_unit_setting(unit, 0x58), 1);
  // Each read-back is followed by the program's pause, as the burst's are: on the shell's thread.
  EXPECT_EQ(person_pauses(50), 4);
  // The dialog's: eleven for the burst, one for the echo, one for each change.
  const std::vector<DWORD> pauses = program_pauses();
  EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 50u), 16);
}

TEST(ShellSet, ASettingTheUnitHasAlreadyIsNotSent) {
  const ShellResult result = run_shell({"set", "brightness=8", "trvx=off"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("nothing to change"), std::string::npos);
  EXPECT_EQ(received_after_connecting(), std::vector<Bytes>{});
}

TEST(ShellSet, EveryNameAndValueIsCheckedBeforeTheFirstMessage) {
  const std::vector<std::vector<std::string>> wrong = {
      {"set", "brightness=3", "trvx=maybe"},
      {"set", "loudness=3"},
      {"set", "brightness"},
      {"set", "brightness=3", "brightness=4"},
      {"set", "mmc-id=127"},
      {"set", "brightness=-1"},
      {"set", "brightness=16"},
      {"set", "mmc-id=1e2"},
      {"set"},
  };
  for (const std::vector<std::string>& args : wrong) {
    const ShellResult result = run_shell(args);
    EXPECT_EQ(result.code, 2) << args.back() << ": " << result.err;
    EXPECT_TRUE(sim_unit_snapshot().received.empty()) << args.back();
    EXPECT_EQ(result.out, "") << args.back();
  }
}

// The unit takes a different brightness meanwhile: its read-back disagrees with what was set.
TEST(ShellSet, AReadBackThatDisagreesFailsTheCommand) {
  platform_set_sleep_hook([](DWORD) {
    sim_with_unit([](SimUnit& unit) {
      if (!unit.received.empty() && unit.received.back() == message({0xF0, 0x2C, 0x4D, 0x56, 0x03, 0xF7}))
        unit.settings[3] = 5;
    });
  });
  const ShellResult result = run_shell({"set", "brightness=3"});
  platform_set_sleep_hook(nullptr);
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("brightness was set to 3, but the unit reports 5"), std::string::npos)
      << result.err;
  EXPECT_EQ(result.out, "");
}

// After the change the unit's replies stop reaching the program: no read-back, no confirmation.
TEST(ShellSet, AReadBackThatIsNotAnsweredIsNoAnswer) {
  platform_set_sleep_hook([](DWORD) {
    sim_with_unit([](SimUnit& unit) {
      if (!unit.received.empty() && unit.received.back()[3] == 0x5D && unit.received.back()[4] == 0x01)
        unit.config.reply_model = 0x11;
    });
  });
  const ShellResult result = run_shell({"set", "trvx=on"});
  platform_set_sleep_hook(nullptr);
  EXPECT_EQ(result.code, 3);
  EXPECT_NE(result.err.find("did not report trvx back"), std::string::npos) << result.err;
  EXPECT_EQ(received_with_code(0x5D).back(), message({0xF0, 0x2C, 0x4D, 0x5D, 0x7F, 0xF7}));
}

// The ID box shows an ID of 127 or more as nothing new: the unit reported no valid ID.
TEST(ShellGet, AnIdThatTheBoxCannotShowIsNotReported) {
  const ShellResult result = run_shell({"get", "mmc-id"}, unit_with({0, 127, 0, 8, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(result.code, 3);
  EXPECT_NE(result.err.find("the unit did not report mmc-id"), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
}

TEST(ShellSettings, AUnitInUpdateModeHasNoSettings) {
  SimSetup setup;
  setup.unit.mode = SimMode::Boot;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"get"}, {"set", "trvx=on"}, {"backup"}}) {
    const ShellResult result = run_shell(args, setup);
    EXPECT_EQ(result.code, 4) << args[0];
    EXPECT_NE(result.err.find("is in update mode"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(sim_unit_snapshot().received.size(), 11u) << "the burst alone";
  }
}

}  // namespace
