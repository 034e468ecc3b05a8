// The shell commands against the simulated unit answering every message after 2 ms, each a whole run of
// the program in this process (dialog, port choice, presence tick, the command, the close). Prints, for
// each command, the wall time (the median of a few runs), the messages that the unit received, and the
// floor that those messages require: every message of the program is followed by its 50 ms pause (the
// read-back burst alone is 11 of them).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "hosts/shell/shell.h"
#include "platform/midi/sim/midi_sim.h"

namespace {

constexpr uint32_t LATENCY_US = 2000;
constexpr int RUNS = 5;
constexpr double MESSAGE_PAUSE_S = 0.050;

struct Figures {
  double seconds;
  size_t messages;
};

SimSetup unit() {
  SimSetup setup;
  setup.unit.reply_latency_us = LATENCY_US;
  return setup;
}

// One run with a unit afresh; the file of a restore is made first, by a backup from a unit whose
// brightness is 3 (the unit restored into has 8).
Figures run(const std::vector<std::string>& args, const std::string& file) {
  std::FILE* null = std::fopen("/dev/null", "w");
  const ShellStreams quiet{null, null, false};
  if (args[0] == "restore") {
    SimSetup source = unit();
    source.unit.settings[3] = 3;
    shell_run({"backup", file}, sim_start(source), quiet);
  }
  const MidiBackend* backend = sim_start(unit());
  const auto start = std::chrono::steady_clock::now();
  const int code = shell_run(args, backend, quiet);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fclose(null);
  if (code != 0) std::fprintf(stderr, "vexa %s ended with %d\n", args[0].c_str(), code);
  return {seconds, sim_unit_snapshot().received.size()};
}

}  // namespace

int main() {
  char folder[] = "/tmp/vexa-shell-bench.XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string file = std::string(folder) + "/settings.json";
  const std::vector<std::vector<std::string>> commands = {
      {"status"}, {"get"}, {"set", "brightness=3"}, {"backup", file}, {"restore", file}};
  std::printf("Shell commands against the simulated unit, replies after %u ms (median of %d runs)\n\n",
              LATENCY_US / 1000, RUNS);
  std::printf("| command | wall time | messages | floor (messages x 50 ms) | above the floor |\n");
  std::printf("| --- | --- | --- | --- | --- |\n");
  for (const std::vector<std::string>& args : commands) {
    std::vector<Figures> runs;
    for (int i = 0; i < RUNS; ++i) runs.push_back(run(args, file));
    std::sort(runs.begin(), runs.end(),
              [](const Figures& a, const Figures& b) { return a.seconds < b.seconds; });
    const Figures& median = runs[RUNS / 2];
    const double floor = static_cast<double>(median.messages) * MESSAGE_PAUSE_S;
    std::string name = args[0] == "set" ? "set brightness=3" : args[0];
    std::printf("| %s | %.3f s | %zu | %.3f s | %.3f s |\n", name.c_str(), median.seconds, median.messages,
                floor, median.seconds - floor);
  }
  unlink(file.c_str());
  rmdir(folder);
  return 0;
}
