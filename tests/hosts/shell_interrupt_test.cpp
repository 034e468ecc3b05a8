// Signals while a command runs: the dialog's close closes the ports, exit code 128 + N; a signal ignored
// from the start stays ignored; a second signal ends the process at once and leaves no temporary file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "midi/midi.h"
#include "shell_support.h"

namespace {

std::atomic<int> packet_pauses{0};

// SIGTERM comes while the dialog pauses after sending the first of two changes.
TEST(ShellInterrupt, KilledDuringASetTheDialogsCloseClosesThePorts) {
  platform_set_sleep_hook([](DWORD ms) {
    sim_with_unit([ms](SimUnit& unit) {
      if (ms == 50 && !unit.received.empty() && unit.received.back() == message(0x5D, 1))
        kill(getpid(), SIGTERM);
    });
  });
  const ShellResult result = run_shell({"set", "brightness=3", "trvx=on"});
  platform_set_sleep_hook(nullptr);
  EXPECT_EQ(result.code, 128 + SIGTERM);
  EXPECT_NE(result.err.find("vexa: interrupted; the ports are closed"), std::string::npos) << result.err;
  EXPECT_EQ(midi_out_port.load(), nullptr);
  // Nothing was sent after the first change: neither the second nor a read-back.
  EXPECT_EQ(sim_unit_snapshot().received.back(), message(0x5D, 1));
  // The signal's handler is the process's own again.
  struct sigaction now = {};
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

// An interrupted update is finished by the next, which an ignored hang-up and a closed stderr do not end.
TEST(ShellInterrupt, AnInterruptedUpdateIsFinishedByTheNextOne) {
  static int signal_number = SIGINT;
  platform_set_sleep_hook([](DWORD ms) {
    if (ms == 1 && ++packet_pauses == 100) kill(getpid(), signal_number);
  });
  const ShellResult stopped = run_shell({"update"}, update_mode_unit());
  EXPECT_EQ(stopped.code, 128 + SIGINT);
  const char* said =
      "interrupted during the update: the unit stays in update mode; vexa update again finishes";
  EXPECT_NE(stopped.err.find(said), std::string::npos) << stopped.err;
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(sim_unit_snapshot().mode, SimMode::Boot);

  signal_number = SIGHUP;
  packet_pauses = 0;
  signal(SIGHUP, SIG_IGN);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  close(pipe_ends[0]);
  std::FILE* err = fdopen(pipe_ends[1], "w");
  std::FILE* out = std::tmpfile();
  const int code = shell_run({"update"}, midi_backend_sim(), ShellStreams{out, err, false});
  platform_set_sleep_hook(nullptr);
  signal(SIGPIPE, SIG_IGN);
  std::fclose(err);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(contents(out), "Programming successful: firmware 3.1 written to vexa\n");
  EXPECT_EQ(sim_unit_snapshot().packets.size(), 2488u);
}

// Ctrl+C while restore waits for a FIFO's writer to write: an interruption, not an unreadable file.
TEST(ShellInterrupt, CtrlCWhileAFileIsReadInterruptsTheCommand) {
  TempFolder folder;
  const std::string fifo = folder.file("settings.json");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const pthread_t command = pthread_self();
  const pid_t command_thread = gettid();
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);  // once the command has opened it
    // Then until it waits in its read (the state after the name in /proc's stat is S).
    const std::string stat = "/proc/self/task/" + std::to_string(command_thread) + "/stat";
    for (int looks = 0; looks < 1000 && read_text(stat).find(") S ") == std::string::npos; ++looks)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pthread_kill(command, SIGINT);
    close(fd);
  });
  const ShellResult result = run_shell({"restore", fifo});
  writer.join();
  EXPECT_EQ(result.code, 128 + SIGINT) << result.err;
  EXPECT_EQ(result.err, "vexa: interrupted\n");
  EXPECT_TRUE(sim_unit_snapshot().received.empty());
}

// A second signal ends `vexa` at once: its temporary file goes with it. A process of its own.
TEST(ShellInterrupt, ASecondSignalLeavesNoTemporaryFile) {
  TempFolder folder;
  const std::string file = folder.file("b.json");
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  const pid_t pid = fork();
  if (pid == 0) _exit(execl(VEXA_PROGRAM, VEXA_PROGRAM, "--midi", "sim", "backup", file.c_str(), nullptr));
  ASSERT_GT(pid, 0);
  // Once the temporary file is there, the command is connecting: half a second of the unit's burst.
  for (int looks = 0; looks < 5000 && std::filesystem::is_empty(folder.path); ++looks)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Both wait while it is stopped, and then come one right after the other.
  for (int number : {SIGSTOP, SIGTERM, SIGINT, SIGCONT}) kill(pid, number);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) > 128) << status;
  EXPECT_TRUE(std::filesystem::is_empty(folder.path)) << "a file was left";
}

}  // namespace
