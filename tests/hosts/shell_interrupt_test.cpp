// Ctrl+C or SIGTERM while a command runs: the dialog's close closes the ports, the exit code is 128 plus
// the signal's number, and an interrupted update says how to finish it.
#include <signal.h>

#include <atomic>

#include "midi/midi.h"
#include "shell_support.h"

namespace {

std::atomic<int> packet_pauses{0};

std::vector<std::string> calls_after(const std::vector<std::string>& calls, const std::string& first) {
  const auto at = std::find(calls.begin(), calls.end(), first);
  return at == calls.end() ? std::vector<std::string>{} : std::vector<std::string>(at, calls.end());
}

// SIGTERM comes while the dialog pauses after sending the first of two changes.
TEST(ShellInterrupt, KilledDuringASetTheDialogsCloseClosesThePorts) {
  platform_set_sleep_hook([](DWORD ms) {
    if (ms != 50) return;
    bool sent = false;
    sim_with_unit([&sent](SimUnit& unit) {
      sent = !unit.received.empty() && unit.received.back() == message({0xF0, 0x2C, 0x4D, 0x5D, 0x01, 0xF7});
    });
    if (sent) kill(getpid(), SIGTERM);
  });
  sim_start(SimSetup());
  winmm_clear_calls();
  const ShellResult result = run_shell_again({"set", "brightness=3", "trvx=on"});
  platform_set_sleep_hook(nullptr);
  EXPECT_EQ(result.code, 128 + SIGTERM);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("vexa: interrupted; the ports are closed"), std::string::npos) << result.err;
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  // The close is the dialog's: input first, then output, and nothing sent after the first change: neither
  // the second nor a read-back.
  const std::vector<std::string> after = calls_after(winmm_calls(), "midiInStop");
  EXPECT_EQ(std::count(after.begin(), after.end(), "midiInClose"), 1);
  EXPECT_EQ(std::count(after.begin(), after.end(), "midiOutClose"), 1);
  EXPECT_LT(std::find(after.begin(), after.end(), "midiInClose") - after.begin(),
            std::find(after.begin(), after.end(), "midiOutClose") - after.begin());
  EXPECT_EQ(std::count(after.begin(), after.end(), "midiOutLongMsg"), 0);
  EXPECT_EQ(sim_unit_snapshot().received.back(), message({0xF0, 0x2C, 0x4D, 0x5D, 0x01, 0xF7}));
  // The signal's handler is the process's own again.
  struct sigaction now = {};
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(ShellInterrupt, AnInterruptedUpdateIsFinishedByTheNextOne) {
  SimSetup setup;
  setup.unit.mode = SimMode::Boot;
  setup.unit.reply_latency_us = 100;
  setup.unit.erase_time_us = 20000;
  platform_set_sleep_hook([](DWORD ms) {
    if (ms == 1 && ++packet_pauses == 100) kill(getpid(), SIGINT);
  });
  const ShellResult stopped = run_shell({"update"}, setup);
  platform_set_sleep_hook(nullptr);
  EXPECT_EQ(stopped.code, 128 + SIGINT);
  EXPECT_NE(
      stopped.err.find("interrupted during the update: the unit stays in update mode; vexa update again "
                       "finishes the update"),
      std::string::npos)
      << stopped.err;
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  SimUnit unit = sim_unit_snapshot();
  EXPECT_EQ(unit.mode, SimMode::Boot);
  EXPECT_LT(unit.packets.size(), 2488u);

  const ShellResult finished = run_shell_again({"update"});
  EXPECT_EQ(finished.code, 0) << finished.err;
  unit = sim_unit_snapshot();
  EXPECT_EQ(unit.packets.size(), 2488u);
  EXPECT_EQ(unit.mode, SimMode::Running);
}

}  // namespace
