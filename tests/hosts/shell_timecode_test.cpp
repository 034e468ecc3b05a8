// vexa timecode in this process: the reader's tap around the simulated back-end, whose unit sends time code
// on its own thread, JSON Lines to the end and the exit code that says whether time code came.
#include <nlohmann/json.hpp>

#include "shell_support.h"

namespace {

TEST(ShellTimecode, JsonLinesAndWhetherTimeCodeCame) {
  SimSetup setup;
  setup.unit.timecode = SimTimecodeInput{true, TimecodeRate::fps30, 0, {}};
  ShellResult result = run_shell({"timecode", "--seconds", "0.5", "--json"}, setup);
  EXPECT_EQ(result.code, 0) << result.err;
  const std::vector<std::string> lines = lines_of(result.out);
  ASSERT_GE(lines.size(), 2u) << result.out;
  const auto first = nlohmann::json::parse(lines.front(), nullptr, false);
  const auto last = nlohmann::json::parse(lines.back(), nullptr, false);
  EXPECT_EQ(first["event"], "start");
  EXPECT_EQ(first["rate"], "30");
  EXPECT_EQ(last["event"], "summary");
  EXPECT_GT(last["frames"], 0);

  result = run_shell({"timecode", "--seconds", "0.2"});
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.out, "no time code, 0 drop-outs, 0 errors\n");
}

}  // namespace
