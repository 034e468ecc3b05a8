// The simulated unit's options: vexa-sim's command line and the Wine driver's config file read one table,
// so each option has one spelling in both and lands in the same field.
#include "sim/unit/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// One option as a person writes it, and what it must change in a fresh config; or the result of a refusal.
struct OptionCase {
  std::vector<const char*> words;  // the name without dashes, then the values
  void (*expect)(const SimConfig& config);
  SimOptionResult result = SIM_OPTION_OK;
};

const OptionCase OPTION_CASES[] = {
    {{"update-mode"}, [](const SimConfig& c) { EXPECT_EQ(c.mode, SimMode::Boot); }},
    {{"firmware", "3.0"}, [](const SimConfig& c) { EXPECT_EQ(c.version[1], '0'); }},
    {{"no-firmware"}, [](const SimConfig& c) { EXPECT_EQ(c.version[0] + c.version[1], 2 * 0x7F); }},
    {{"set", "0x53=42"}, [](const SimConfig& c) { EXPECT_EQ(c.settings[1], 42); }},
    {{"boot-code", "32"}, [](const SimConfig& c) { EXPECT_EQ(c.boot_code, 0x20); }},
    {{"params-in-boot"}, [](const SimConfig& c) { EXPECT_TRUE(c.params_in_boot); }},
    {{"latency-ms", "7"}, [](const SimConfig& c) { EXPECT_EQ(c.reply_latency_us, 7000u); }},
    {{"erase-ms", "0x10"}, [](const SimConfig& c) { EXPECT_EQ(c.erase_time_us, 16000u); }},
    {{"erase-never-answers"}, [](const SimConfig& c) { EXPECT_TRUE(c.erase_never_answers); }},
    {{"status-silence", "2"}, [](const SimConfig& c) { EXPECT_EQ(c.status_silence, 2); }},
    {{"packet-script", "5", "NTA"}, [](const SimConfig& c) { EXPECT_EQ(c.packet_scripts.at(5), "NTA"); }},
    {{"every-packet-script", "L"}, [](const SimConfig& c) { EXPECT_EQ(c.every_packet_script, "L"); }},
    {{"late-reply-ms", "600"}, [](const SimConfig& c) { EXPECT_EQ(c.late_reply_us, 600000u); }},
    {{"verify", "no-firmware"},
     [](const SimConfig& c) { EXPECT_EQ(c.verify_answer, SimVerifyAnswer::BootNoFirmware); }},
    {{"written-firmware", "2.9"}, [](const SimConfig& c) { EXPECT_EQ(c.written_version[0], '2'); }},
    {{"finish-silence"}, [](const SimConfig& c) { EXPECT_TRUE(c.finish_silence); }},
    {{"unplug-after", "100"}, [](const SimConfig& c) { EXPECT_EQ(c.unplug_after_packets, 100); }},
    {{"noise", "5"},
     [](const SimConfig& c) { EXPECT_EQ(c.noise, SIM_NOISE_QUARTER_FRAME | SIM_NOISE_LONG_SYSEX); }},
    {{"long-sysex-length", "700"}, [](const SimConfig& c) { EXPECT_EQ(c.long_sysex_length, 700); }},
    {{"timecode", "01:00:00:00", "29.97df"},
     [](const SimConfig& c) {
       EXPECT_TRUE(c.timecode.connected);
       EXPECT_EQ(c.timecode.rate, TimecodeRate::fps2997df);
       EXPECT_EQ(c.timecode.start_frame, 107892);
     }},
    {{"timecode", "00:00:10:00", "30", "timecode-step", "-2.5", "1.5", "timecode-step", "jump", "00:01:00:00",
      "timecode-step", "gap", "0.25", "timecode-step", "stop", "2"},
     [](const SimConfig& c) {
       const std::vector<SimTimecodeStep> steps = {{SimTimecodeStep::Run, -2.5, 1500000, 0},
                                                   {SimTimecodeStep::Jump, 1, 0, 1800},
                                                   {SimTimecodeStep::Gap, 1, 250000, 0},
                                                   {SimTimecodeStep::Run, 0, 2000000, 0}};
       EXPECT_EQ(c.timecode.steps, steps);
     }},
    {{"latency_us", "1000"}, nullptr, SIM_OPTION_UNKNOWN},  // the config file's former spelling
    {{"mode", "boot"}, nullptr, SIM_OPTION_UNKNOWN},
    {{"latency-ms"}, nullptr, SIM_OPTION_MISSING_VALUE},
    {{"packet-script", "5"}, nullptr, SIM_OPTION_MISSING_VALUE},
    {{"latency-ms", "x"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"latency-ms", "-1"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"latency-ms", "2ms"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"verify", "boot_no_firmware"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"set", "0x54=1"}, nullptr, SIM_OPTION_BAD_VALUE},  // no parameter
    {{"set", "0x53=128"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"firmware", "31"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"boot-code", "0x21"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"packet-script", "5", "NXA"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"timecode", "01:00:00:25", "25"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"timecode", "01:00:00:00", "29.97"}, nullptr, SIM_OPTION_BAD_VALUE},
    {{"timecode-step", "play", "1"}, nullptr, SIM_OPTION_BAD_VALUE},  // no time code input before it
};

// Which of the words are options' names (the others are their values).
std::vector<bool> option_names(const std::vector<const char*>& words) {
  std::vector<bool> names(words.size(), false);
  for (size_t i = 0; i < words.size(); ++i) {
    names[i] = true;
    for (const SimOption& option : SIM_OPTIONS) {
      if (std::string(words[i]) != option.name) continue;
      i += static_cast<size_t>(option.value_count);
      break;
    }
  }
  return names;
}

// The command line that vexa-sim reads: each option's name with its dashes, each value a word of its own.
SimOptionResult from_command_line(SimConfig& config, const std::vector<const char*>& words,
                                  std::string& bad) {
  std::vector<std::string> storage;
  const std::vector<bool> names = option_names(words);
  for (size_t i = 0; i < words.size(); ++i) storage.push_back((names[i] ? "--" : "") + std::string(words[i]));
  std::vector<const char*> argv;
  for (const std::string& word : storage) argv.push_back(word.c_str());
  return sim_read_options(config, argv, "--", {}, bad);
}

// The config file line that the Wine driver reads.
SimOptionResult from_config_line(SimConfig& config, const std::vector<const char*>& words, std::string& bad) {
  std::string line;
  for (const char* word : words) line = line + word + " ";
  line.back() = '\n';
  return sim_read_config_line(config, line.c_str(), {}, bad);
}

TEST(Options, TheCommandLineAndTheConfigFileReadEachOptionAlike) {
  for (const OptionCase& option : OPTION_CASES) {
    SCOPED_TRACE(option.words[0]);
    SimConfig from_arguments, from_file;
    std::string bad_argument, bad_line;
    EXPECT_EQ(from_command_line(from_arguments, option.words, bad_argument), option.result) << bad_argument;
    EXPECT_EQ(from_config_line(from_file, option.words, bad_line), option.result) << bad_line;
    EXPECT_EQ(from_arguments, from_file);
    if (option.expect) {
      option.expect(from_arguments);
      EXPECT_NE(from_arguments, SimConfig());
      continue;
    }
    // A refused option is named, and changes nothing.
    EXPECT_EQ(bad_argument.find("--" + std::string(option.words[0])), 0u) << bad_argument;
    EXPECT_EQ(bad_line.find(option.words[0]), 0u) << bad_line;
    EXPECT_EQ(from_file, SimConfig());
  }
}

TEST(Options, TheCommandLineWantsDashesAndAHostsOptionsComeFirst) {
  SimConfig config;
  std::string bad;
  const char* without_dashes[] = {"update-mode"};
  EXPECT_EQ(sim_read_options(config, without_dashes, "--", {}, bad), SIM_OPTION_UNKNOWN);
  EXPECT_EQ(bad, "update-mode");

  static int host_value = 0;
  const SimOption host[] = {
      {"latency-ms", 1, "N", "the host's own", [](SimConfig&, const char* const* values) {
         host_value = std::atoi(values[0]);
         return true;
       }}};
  const char* words[] = {"--latency-ms", "9", "--erase-ms", "5"};
  EXPECT_EQ(sim_read_options(config, words, "--", host, bad), SIM_OPTION_OK);
  EXPECT_EQ(host_value, 9);
  EXPECT_EQ(config.reply_latency_us, SimConfig().reply_latency_us);
  EXPECT_EQ(config.erase_time_us, 5000u);
  EXPECT_NE(sim_options_help("--", host).find("the host's own"), std::string::npos);
}

TEST(Options, ConfigLinesSkipBlanksAndComments) {
  SimConfig config;
  std::string bad;
  for (const char* line : {"", "   \n", "# latency-ms 9\n", "\tlatency-ms   3 \r\n"}) {
    EXPECT_EQ(sim_read_config_line(config, line, {}, bad), SIM_OPTION_OK) << line;
  }
  EXPECT_EQ(config.reply_latency_us, 3000u);
  EXPECT_EQ(sim_read_config_line(config, "latency-ms 3 4\n", {}, bad), SIM_OPTION_UNKNOWN);
  EXPECT_EQ(bad, "4");
}

}  // namespace
