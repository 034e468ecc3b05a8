// What each command prints and its exit code, for a wrong command line and for what it finds in the port
// list and at the unit; which lines are the shell's; the choice of the unit's port; diagnose; update.
#include <nlohmann/json.hpp>

#include "midi/midi.h"
#include "shell_support.h"

namespace {

// What is not the dialog's own line (nothing, --midi NAME) is the shell's, which runs or refuses it.
TEST(ShellCommandLine, AnyLineButTheDialogsIsTheShells) {
  for (Args args :
       {Args{}, Args{"--midi", "sim"}, Args{"--port", "status"}, Args{"--list"}, Args{"--bogus"}}) {
    std::vector<char*> argv{const_cast<char*>("vexa")};
    for (std::string& arg : args) argv.push_back(arg.data());
    EXPECT_EQ(shell_has_command(int(argv.size()), argv.data()), argv.size() > 1 && args[0] != "--midi");
  }
}

TEST(ShellCommandLine, UsageErrorsSendNothing) {
  const std::pair<Args, std::string> wrong[] = {
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"status", "--loud"}, "unknown option --loud"},
      {{"--json", "set", "trvx=on"}, "--json does not apply to set"},
      {{"status", "--image", "x.bin"}, "--image applies to update only"},
      {{"list", "--port", "vexa"}, "--port does not apply to list"},
      {{"get", "--list"}, "--list takes no command"},
      {{"status", "--midi"}, "--midi needs NAME"},
      {{"status", "extra"}, "usage: vexa status"},
      {{"backup", "--", "-x", "y"}, "usage: vexa backup [FILE]"},  // after --, no option
      {{"update", "--json=yes"}, "--json takes no value"},
      {{"status", "--port="}, "--port needs NAME"},
      {{"--port", "a", "status", "--port", "b"}, "--port is given twice"},
      {{"--midi", "sim", "--midi=alsa", "list"}, "--midi is given twice"},
      {{"update", "--image=a", "--image", "b"}, "--image is given twice"},
      {{"--port", "status"}, "no command given (--port took \"status\" as its NAME)"},
      {{"get", "brightness", "loudness"}, "unknown setting \"loudness\""},
      {{"set"}, "usage: vexa set"},
      {{"set", "brightness=3", "trvx=maybe"}, "trvx takes on|off, not \"maybe\""},
      {{"set", "brightness=3", "brightness=4"}, "brightness is given twice"},
      {{"set", "brightness"}, "\"brightness\" is not NAME=VALUE"},
      {{"backup", "/nonexistent-folder/b.json"}, "/nonexistent-folder/b.json: cannot write beside it"},
      {{"restore", "/dev/null"}, "vexa: /dev/null: line 1, column 1: syntax error"},
      {{"restore", "/nonexistent-folder/s.json"},
       "vexa: /nonexistent-folder/s.json: No such file or directory"},
  };
  for (const auto& [args, said] : wrong) {
    const ShellResult result = run_shell(args);
    EXPECT_EQ(result.code, 2) << args[0] << ": " << result.err;
    EXPECT_EQ(result.err.rfind("vexa: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(said), std::string::npos) << said << " not in " << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(sim_unit_snapshot().received.empty()) << said;
  }
}

SimSetup ports(std::vector<SimPortSetup> outputs, std::vector<SimPortSetup> inputs) {
  SimSetup setup;
  setup.outputs = std::move(outputs);
  setup.inputs = std::move(inputs);
  return setup;
}

SimSetup unit(SimMode mode, uint8_t version = 0x33, uint8_t reply_model = 0x4D, uint8_t mmc_id = 0) {
  SimSetup setup;
  setup.unit.mode = mode;
  setup.unit.version[0] = version;
  setup.unit.reply_model = reply_model;
  setup.unit.reply_latency_us = 100;
  setup.unit.erase_time_us = 20000;
  const uint8_t settings[SIM_PARAM_COUNT] = {1, mmc_id, 0, 11, 1, 1, 0, 1, 0, 1};
  std::copy(settings, settings + SIM_PARAM_COUNT, setup.unit.settings);
  return setup;
}

// Each sends no change to the unit, and one that fails nothing but the burst that choosing the port sends.
TEST(ShellCommands, WhatEachPrintsAndItsExitCode) {
  SimSetup busy = unit(SimMode::Running), naks = unit(SimMode::Boot);
  busy.outputs[0].open_result = MMSYSERR_ALLOCATED;
  naks.unit.packet_scripts[3] = "NNN";
  SimSetup lossy = unit(SimMode::Running);  // its first answer lost on the way, as a busy MIDI service may
  lossy.unit.status_silence = 1;
  const SimSetup run = unit(SimMode::Running), boot = unit(SimMode::Boot), none = ports({}, {});
  const SimSetup silent = unit(SimMode::Running, 0x33, 0x4E), synth = ports({{"synth"}}, {{"keys"}});
  const SimSetup invalid = unit(SimMode::Running, 0x7F), id127 = unit(SimMode::Running, 0x33, 0x4D, 127);
  // No control character of a port's name or of what the unit reports reaches the terminal.
  SimSetup esc =
      ports({{"vexa\x1b]0;T\x07\xc2\x9b", true}, {"synth\x1b[2J"}}, {{"vexa\x1b]0;T\x07\xc2\x9b", true}});
  esc.unit.version[1] = 0x1B;
  const Args json_get = {"get", "trvx", "--json", "blank-frames"};
  const std::string json_absent = "{\n  \"state\": \"absent\",\n  \"firmware\": null,\n  \"port\": null";
  const std::tuple<Args, SimSetup, int, std::string, std::string> cases[] = {
      {{"status"}, run, 0, "running 3.1 on vexa\n", ""},
      {{"status"}, boot, 0, "update-mode on vexa\n", ""},
      {{"status"}, lossy, 0, "running 3.1 on vexa\n", ""},
      {{"status", "--json"}, invalid, 0, "{\n  \"state\": \"running\",\n  \"firmware\": null", ""},
      {{"get"}, run, 0, "blank-leading-zero=on\nblank-frames=off\nstationary-ltc=off\n", ""},
      {{"get"}, run, 0, "", "\nmtc-full-message=off\nmtc-mmc-locate=off\ninfinite-flywheel=on\n"},
      {{"get"}, run, 0, "", "\nltc-hold-off=on\ntrvx=on\nmmc-id=0\nbrightness=11\n"},
      {{"get", "brightness", "stationary-ltc"}, run, 0, "brightness=11\nstationary-ltc=off\n", ""},
      // Options stand before or after the command.
      {json_get, run, 0, "{\n  \"blank-frames\": false,\n  \"trvx\": true\n}\n", ""},
      {{"backup"}, run, 0, "{\n  \"format\": \"vexa-settings\",\n", ""},
      {{"diagnose"}, run, 0, "Program: Quorvanex vexa 3.1 (Linux terminal), firmware image 3.1\n", ""},
      {{"set", "brightness=11", "trvx=on"}, run, 0, "", "nothing to change: the unit has these settings"},
      // Replies of another model: the unit's ports are there, but nothing answers.
      {{"status", "--json"}, silent, 3, json_absent, "no unit answers on \"vexa\""},
      {{"diagnose"}, silent, 3, "Program: ", "no unit answers on \"vexa\""},
      {{"status"}, esc, 0, "running 3.? on vexa?]0;T??\n", ""},
      {{"list"},
       esc,
       0,
       "MIDI service: sim\nOutputs: 2\n  0: vexa?]0;T??  (paired with input 0)\n  1: synth?[2J",
       ""},
      {{"diagnose"}, esc, 0, "Program: ", "Unit: running 3.? on vexa?]0;T??\nRound trip"},
      {{"status", "--port", "x\x1b[2J"}, esc, 3, "absent\n", "no MIDI output is named \"x?[2J\""},
      {{"status"}, none, 3, "absent\n", "Warning: No MIDI outputs available"},
      {{"status"}, busy, 3, "absent\n", "Selected MIDI output not available. Port is probably used"},
      {{"get"}, synth, 3, "", "no MIDI output has an input of the same name"},
      {{"get", "--port", "synth"}, synth, 3, "", "\"synth\" has no input of the same name"},
      {{"status", "--port=vexa 2"}, run, 3, "absent\n", "no MIDI output is named \"vexa 2\""},
      // The ID box shows an ID of 127 or more as nothing: the unit reported no valid ID.
      {{"get", "mmc-id"}, id127, 3, "", "the unit did not report mmc-id"},
      {{"get"}, boot, 4, "", "is in update mode"},
      {{"set", "trvx=on"}, boot, 4, "", "is in update mode"},
      {{"backup"}, boot, 4, "", "is in update mode"},
      {{"update"}, run, 4, "", "runs its firmware 3.1: to update it, hold down both of its keys"},
      {{"update"}, none, 3, "", "No MIDI outputs available"},
      {{"timecode", "--seconds", "0.1"}, none, 3, "", "No MIDI outputs available"},
      {{"timecode", "--seconds", "0.1"}, boot, 4, "", "sends no time code"},
      {{"update"}, naks, 1, "", "the update failed: Checksum error\nvexa: the unit stays in update mode"},
  };
  for (const auto& [args, setup, code, out, said] : cases) {
    const ShellResult result = run_shell(args, setup);
    EXPECT_EQ(result.code, code) << said;
    EXPECT_EQ(result.out.rfind(out, 0), 0u) << out << " is not the start of " << result.out;
    EXPECT_NE((result.out + result.err).find(said), std::string::npos) << result.err;
    EXPECT_TRUE(set_messages().empty()) << args[0];
    const std::string all = result.out + result.err;
    EXPECT_FALSE(std::any_of(all.begin(), all.end(), [](char c) { return c != '\n' && uint8_t(c) < 0x20; }));
    // At most the burst and, once, what did not come of it: a failed command reads, never more.
    EXPECT_TRUE(code < 2 || sim_unit_snapshot().received.size() <= 22u) << said;
    EXPECT_EQ(midi_out_port.load(), nullptr) << "the dialog's close closes the ports";
  }
}

// A paired port that does not answer (as ALSA's "Midi Through" pairs with itself) is passed over.
TEST(ShellConnect, TheOnePairedOutputWhoseUnitAnswers) {
  const SimSetup setup = ports({{"vexa", true}, {"Midi Through"}}, {{"Midi Through"}, {"vexa", true}});
  EXPECT_EQ(run_shell({"get", "brightness"}, setup).out, "brightness=8\n");
  // Both were tried, the unit's first; the unit's port was chosen again after the other's burst and its
  // status query asked again.
  EXPECT_EQ(received_with_code(0x10).size(), 2u);
  EXPECT_EQ(sim_sent_to(1).size(), 12u);
}

// The list is filled afresh as it opens: the unit, gone after it answered, is not taken for its successor.
TEST(ShellConnect, APortGoneBetweenTwoTriesIsNotChosen) {
  platform_set_sleep_hook([](DWORD) {
    if (!sim_unplugged() && !sim_sent_to(1).empty()) sim_unplug();
  });
  const SimSetup setup =
      ports({{"vexa", true}, {"Through"}, {"other"}}, {{"Through"}, {"other"}, {"vexa", true}});
  const ShellResult result = run_shell({"status"}, setup);
  platform_set_sleep_hook(nullptr);
  EXPECT_EQ(result.code, 3);
  EXPECT_NE(result.err.find("no unit answers on \"vexa\""), std::string::npos) << result.err;
}

TEST(ShellConnect, SeveralUnitsNeedAPort) {
  const SimSetup setup = ports({{"vexa", true}, {"vexa 2", true}}, {{"vexa", true}, {"vexa 2", true}});
  const ShellResult result = run_shell({"set", "trvx=on"}, setup);
  EXPECT_EQ(result.code, 2);
  EXPECT_NE(result.err.find("several units answer: \"vexa\", \"vexa 2\"; choose one with"),
            std::string::npos);
  EXPECT_EQ(received_with_code(0x5D).size(), 2u) << "the two bursts' read-backs, no change";
  EXPECT_EQ(run_shell({"--port", "vexa 2", "status"}, setup).out, "running 3.1 on vexa 2\n");
}

// Twenty status queries, each timed until its answer; nothing else is sent after the burst.
TEST(ShellDiagnose, ReportsTheSystemTheUnitAndItsRoundTrips) {
  SimSetup setup;
  setup.unit.reply_latency_us = 3000;
  nlohmann::json report = nlohmann::json::parse(run_shell({"diagnose", "--json"}, setup).out, nullptr, false);
  const nlohmann::json trips = report["unit"]["round_trip_ms"];
  EXPECT_GE(trips["min"].get<double>(), 3.0);  // no answer comes before the unit's latency
  EXPECT_TRUE(trips["min"] <= trips["median"] && trips["median"] <= trips["max"]) << trips;
  EXPECT_EQ(trips["queries"].get<int>() * 100 + trips["answered"].get<int>(), 2020);
  report["unit"].erase("round_trip_ms");
  EXPECT_EQ(report, nlohmann::json::parse(R"({"program": "Quorvanex vexa 3.1", "platform": "Linux terminal",
      "firmware_image": "3.1", "midi": {"service": "sim", "problem": null},
      "outputs": [{"index": 0, "name": "vexa", "paired_input": 0}], "inputs": [{"index": 0, "name": "vexa"}],
      "unit": {"state": "running", "firmware": "3.1", "port": "vexa"}})"));
  EXPECT_EQ(sim_unit_snapshot().received.size(), 11u + 20u);
}

// The header line and the first `count` packets of the built-in image, with its terminator.
Bytes first_packets(size_t count) {
  Bytes image;
  for (const PlatformResource& resource : platform_module_resources(nullptr))
    if (resource.name == "FIRMWAREFILE") image.assign(resource.data, resource.data + resource.size);
  size_t at = 56;
  for (size_t n = 0; n < count && at < image.size(); ++n)
    at = size_t(std::find(image.begin() + long(at), image.end(), 0xF7) - image.begin()) + 2;
  Bytes cut(image.begin(), image.begin() + long(std::min(at, image.size())));
  cut.push_back(0xFF);
  return cut;
}

TEST(ShellUpdate, WritesTheBuiltInImage) {
  const ShellResult result = run_shell({"update"}, update_mode_unit());
  EXPECT_EQ(result.out, "Programming successful: firmware 3.1 written to vexa\n");
  EXPECT_EQ(sim_unit_snapshot().packets.size(), 2488u);
  EXPECT_EQ(sim_unit_snapshot().mode, SimMode::Running);
  // Not on a terminal: a line per 10 % written, after the statuses.
  EXPECT_EQ(result.err.substr(std::min(result.err.size(), result.err.find("Writing\n"))),
            "Writing\nWriting 10 %\nWriting 20 %\nWriting 30 %\nWriting 40 %\nWriting 50 %\nWriting 60 %\n"
            "Writing 70 %\nWriting 80 %\nWriting 90 %\n");
}

// --image: refused by the program's check before anything is sent; the unit's version after the writing.
TEST(ShellUpdate, AnImageOfItsOwn) {
  TempFolder folder;
  const std::string path = folder.file("image.bin");
  Bytes image = first_packets(100), no_terminator = first_packets(10);
  image[6] = '2';  // the version in the text field, which the header check does not examine: 3.2
  no_terminator.pop_back();
  for (const auto& [bytes, said] : {std::pair<Bytes, std::string>{no_terminator, "no terminator"},
                                    {Bytes{0xFF}, "its header is not that of a vexa firmware image"},
                                    {image, ""}}) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    SimSetup setup = update_mode_unit();
    setup.unit.written_version[1] = '4';
    const ShellResult result = run_shell({"update", "--image", path}, setup);
    EXPECT_EQ(result.code, said.empty() ? 0 : 2) << said;
    EXPECT_NE(result.err.find(said), std::string::npos) << result.err;
    EXPECT_EQ(result.out, said.empty() ? "Programming successful: firmware 3.4 written to vexa\n" : "");
    EXPECT_EQ(sim_unit_snapshot().received.empty(), !said.empty());
    EXPECT_EQ(sim_unit_snapshot().packets.size(), said.empty() ? 100u : 0u) << said;
  }
}

}  // namespace
