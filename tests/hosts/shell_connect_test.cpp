// How a command finds its unit in the dialog's port list, status as the presence monitor shows it, the
// MIDI system as list and diagnose report it.
#include <nlohmann/json.hpp>

#include "shell_support.h"

namespace {

SimSetup with_ports(std::vector<SimPortSetup> outputs, std::vector<SimPortSetup> inputs) {
  SimSetup setup;
  setup.outputs = std::move(outputs);
  setup.inputs = std::move(inputs);
  return setup;
}

TEST(ShellStatus, RunningUpdateModeAndAbsentAsTheMonitorShowsThem) {
  ShellResult result = run_shell({"status"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "running 3.1 on vexa\n");

  SimSetup boot;
  boot.unit.mode = SimMode::Boot;
  result = run_shell({"status"}, boot);
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "update-mode on vexa\n");

  SimSetup invalid;
  invalid.unit.version[0] = 0x7F;
  result = run_shell({"status", "--json"}, invalid);
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(nlohmann::json::parse(result.out, nullptr, false),
            nlohmann::json({{"state", "running"}, {"firmware", nullptr}, {"port", "vexa"}}));

  // Replies of another model: the unit's ports are there, but nothing answers.
  SimSetup silent;
  silent.unit.reply_model = 0x4E;
  result = run_shell({"--json", "status"}, silent);
  EXPECT_EQ(result.code, 3);
  EXPECT_EQ(nlohmann::json::parse(result.out, nullptr, false),
            nlohmann::json({{"state", "absent"}, {"firmware", nullptr}, {"port", nullptr}}));
  EXPECT_NE(result.err.find("no unit answers on \"vexa\""), std::string::npos) << result.err;
}

TEST(ShellConnect, WithoutPairedPortsThereIsNoUnit) {
  ShellResult result = run_shell({"status"}, with_ports({}, {}));
  EXPECT_EQ(result.code, 3);
  EXPECT_EQ(result.out, "absent\n");
  EXPECT_NE(result.err.find("Warning: No MIDI outputs available"), std::string::npos) << result.err;

  result = run_shell({"get"}, with_ports({{"synth", false}}, {{"keyboard", false}}));
  EXPECT_EQ(result.code, 3);
  EXPECT_NE(result.err.find("no MIDI output has an input of the same name"), std::string::npos) << result.err;
  EXPECT_TRUE(sim_sent_to(0).empty());

  result = run_shell({"get", "--port", "synth"}, with_ports({{"synth", false}}, {{"keyboard", false}}));
  EXPECT_EQ(result.code, 3);
  EXPECT_NE(result.err.find("\"synth\" has no input of the same name"), std::string::npos) << result.err;

  result = run_shell({"status", "--port=vexa 2"});
  EXPECT_EQ(result.code, 3);
  EXPECT_NE(result.err.find("no MIDI output is named \"vexa 2\""), std::string::npos) << result.err;
  EXPECT_TRUE(sim_unit_snapshot().received.empty());
}

TEST(ShellConnect, APortInUseIsNoUnit) {
  SimSetup setup;
  setup.outputs[0].open_result = MMSYSERR_ALLOCATED;
  const ShellResult result = run_shell({"status"}, setup);
  EXPECT_EQ(result.code, 3);
  EXPECT_NE(result.err.find("Selected MIDI output not available."), std::string::npos) << result.err;
}

// A paired port that does not answer (as ALSA's "Midi Through" pairs with itself) is passed over.
TEST(ShellConnect, TheOnePairedOutputWhoseUnitAnswers) {
  const SimSetup setup =
      with_ports({{"vexa", true}, {"Midi Through", false}}, {{"Midi Through", false}, {"vexa", true}});
  const ShellResult result = run_shell({"get", "brightness"}, setup);
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "brightness=8\n");
  // Both were tried, the unit's first; the unit's port was chosen again after the other's burst.
  EXPECT_EQ(received_with_code(0x10).size(), 2u);
  EXPECT_EQ(sim_sent_to(1).size(), 11u);
}

TEST(ShellConnect, SeveralUnitsNeedAPort) {
  const SimSetup setup = with_ports({{"vexa", true}, {"vexa 2", true}}, {{"vexa", true}, {"vexa 2", true}});
  ShellResult result = run_shell({"set", "trvx=on"}, setup);
  EXPECT_EQ(result.code, 2);
  EXPECT_NE(result.err.find("several units answer: \"vexa\", \"vexa 2\"; choose one with --port NAME"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(received_with_code(0x5D).size(), 2u) << "the two bursts' read-backs, no change";

  result = run_shell({"--port", "vexa 2", "status"}, setup);
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "running 3.1 on vexa 2\n");
}

TEST(ShellList, TheOutputsInputsAndPairingAsVexaListShowsThem) {
  const SimSetup setup = with_ports({{"vexa", true}, {"synth", false}}, {{"vexa", true}});
  const ShellResult result = run_shell({"list"}, setup);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out,
            "MIDI service: sim\nOutputs: 2\n  0: vexa  (paired with input 0)\n"
            "  1: synth  (no input of that name: not a unit)\nInputs: 1\n  0: vexa\n");
  EXPECT_TRUE(sim_unit_snapshot().received.empty());
}

// Twenty status queries, each timed until its answer; nothing else is sent after the burst.
TEST(ShellDiagnose, ReportsTheSystemTheUnitAndItsRoundTrips) {
  SimSetup setup;
  setup.unit.reply_latency_us = 3000;
  platform_clear_sleeps();
  const ShellResult result = run_shell({"diagnose", "--json"}, setup);
  EXPECT_EQ(result.code, 0) << result.err;
  const nlohmann::json report = nlohmann::json::parse(result.out, nullptr, false);
  ASSERT_TRUE(report.is_object()) << result.out;
  EXPECT_EQ(report["program"], "Quorvanex vexa 3.1");
  EXPECT_EQ(report["firmware_image"], "3.1");
  EXPECT_EQ(report["midi"], nlohmann::json({{"service", "sim"}, {"problem", nullptr}}));
  EXPECT_EQ(report["outputs"], nlohmann::json::parse(R"([{"index":0,"name":"vexa","paired_input":0}])"));
  EXPECT_EQ(report["inputs"], nlohmann::json::parse(R"([{"index":0,"name":"vexa"}])"));
  const nlohmann::json& unit = report["unit"];
  EXPECT_EQ(unit["state"], "running");
  EXPECT_EQ(unit["port"], "vexa");
  const nlohmann::json& trips = unit["round_trip_ms"];
  EXPECT_EQ(trips["queries"], 20);
  EXPECT_EQ(trips["answered"], 20);
  // No answer comes before the unit's latency.
  EXPECT_GE(trips["min"].get<double>(), 3.0);
  EXPECT_LE(trips["min"].get<double>(), trips["median"].get<double>());
  EXPECT_LE(trips["median"].get<double>(), trips["max"].get<double>());
  EXPECT_EQ(received_with_code(0x10).size(), 21u);
  EXPECT_EQ(sim_unit_snapshot().received.size(), 12u + 20u);

  const ShellResult text = run_shell({"diagnose"});
  EXPECT_EQ(text.code, 0) << text.err;
  const std::vector<std::string> lines = lines_of(text.out);
  ASSERT_EQ(lines.size(), 9u) << text.out;
  EXPECT_EQ(lines[0], "Program: Quorvanex vexa 3.1 (Linux terminal), firmware image 3.1");
  EXPECT_EQ(lines[6], "MIDI service state: reachable");
  EXPECT_EQ(lines[7], "Unit: running 3.1 on vexa");
  EXPECT_EQ(lines[8].rfind("Round trip of 20 status queries: min ", 0), 0u) << lines[8];
}

TEST(ShellDiagnose, WithoutAUnitTheReportSaysSo) {
  SimSetup silent;
  silent.unit.reply_model = 0x4E;
  const ShellResult result = run_shell({"diagnose"}, silent);
  EXPECT_EQ(result.code, 3);
  EXPECT_EQ(lines_of(result.out).back(), "Unit: absent");
  EXPECT_EQ(received_with_code(0x10).size(), 1u);
}

}  // namespace
