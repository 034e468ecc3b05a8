// The shell host's entry: the command line, the MIDI service, the streams and the interrupts of one command.
#include "hosts/shell/shell.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "hosts/shell/command_line.h"
#include "hosts/shell/commands.h"
#include "hosts/shell/file_io.h"
#include "hosts/shell/printable.h"
#include "hosts/shell/program_info.h"
#include "hosts/shell/session.h"
#include "platform/midi/choice/midi_choice.h"
#include "platform/win32/kernel32_ext.h"
#include "platform/win32/winmm_ext.h"

namespace {

ShellStreams current{stdout, stderr, false};

const int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[3];
struct sigaction previous_pipe;
bool pipe_ignored = false;
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void on_interrupt(int number) {
  int none = 0;
  if (caught.compare_exchange_strong(none, number)) return;
  pending_remove_now();
  _exit(EXIT_SIGNAL_BASE + number);
}

const MidiBackend* choose_backend(const CommandLine& line, std::string& error) {
  return line.midi.empty() ? midi_backend_from_environment(error)
                           : midi_backend_choose(line.midi.c_str(), error);
}

int run_command(const CommandLine& line) {
  switch (line.command->command) {
    case Command::List:
      return command_list(line);
    case Command::Status:
      return command_status(line);
    case Command::Get:
      return command_get(line);
    case Command::Set:
      return command_set(line);
    case Command::Backup:
      return command_backup(line);
    case Command::Restore:
      return command_restore(line);
    case Command::Update:
      return command_update(line);
    case Command::Diagnose:
      return command_diagnose(line);
    case Command::Timecode:
      return command_timecode(line);
  }
  return EXIT_USAGE;
}

int run_line(const std::vector<std::string>& args, const MidiBackend* backend, const ShellStreams& io) {
  CommandLine line;
  std::string error;
  if (!parse_command_line(args, line, error)) {
    note(error + " (see vexa --help)");
    return EXIT_USAGE;
  }
  if (line.help) {
    shell_print_help(io.out);
    return EXIT_DONE;
  }
  if (line.version) {
    print_version(io.out);
    return EXIT_DONE;
  }
  if (!line.command) {
    note("no command given (see vexa --help)");
    return EXIT_USAGE;
  }
  if (!backend) backend = choose_backend(line, error);
  if (!backend) {
    note(error);
    return EXIT_USAGE;
  }
  winmm_use_backend(backend);
  catch_interrupts();
  const int code = run_command(line);
  release_interrupts();
  return code;
}

// Output that was not written is a failure of the command, whatever else it did.
int output_written(std::FILE* out, int code) {
  const bool failed_before = std::ferror(out) != 0;
  errno = 0;
  if (std::fflush(out) == 0 && !failed_before) return code;
  note(std::string("cannot write the output") + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
  return code == EXIT_DONE ? EXIT_NOT_WRITTEN : code;
}

}  // namespace

void set_streams(const ShellStreams& io) { current = io; }

const ShellStreams& streams() { return current; }

void note(const std::string& text) {
  std::fprintf(current.err, "vexa: %s\n", printable(text).c_str());
  std::fflush(current.err);
}

void catch_interrupts() {
  caught = 0;
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < 3; ++i) {
    sigaction(INTERRUPTS[i], nullptr, &previous[i]);
    // A signal that was ignored when the command began (nohup, a service) stays ignored.
    if (previous[i].sa_handler != SIG_IGN) sigaction(INTERRUPTS[i], &action, nullptr);
  }
}

void ignore_broken_pipes() {
  if (pipe_ignored) return;
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &previous_pipe);
  pipe_ignored = true;
}

void release_interrupts() {
  for (size_t i = 0; i < 3; ++i) sigaction(INTERRUPTS[i], &previous[i], nullptr);
  if (pipe_ignored) sigaction(SIGPIPE, &previous_pipe, nullptr);
  pipe_ignored = false;
}

bool interrupted() { return caught.load() != 0; }

int interrupted_exit() { return EXIT_SIGNAL_BASE + caught.load(); }

void forget_interrupt() { caught = 0; }

int interrupted_early() {
  note("interrupted");
  return interrupted_exit();
}

bool shell_has_command(int argc, char** argv) {
  CommandLine line;
  std::string error;
  return !parse_command_line(std::vector<std::string>(argv + 1, argv + argc), line, error) || line.command ||
         line.help || line.version;
}

int shell_run(const std::vector<std::string>& args, const MidiBackend* backend, const ShellStreams& io) {
  set_streams(io);
  return output_written(io.out, run_line(args, backend, io));
}

int shell_main(int argc, char** argv) {
  // The pause log serves tests only.
  platform_log_sleeps(false);
  // The MIDI libraries write their own complaints to standard error; they go nowhere, and the command
  // says what they mean.
  std::fflush(stderr);
  const int err_fd = dup(STDERR_FILENO);
  std::FILE* err = err_fd >= 0 ? fdopen(err_fd, "w") : nullptr;
  if (err) {
    setvbuf(err, nullptr, _IOLBF, 0);
    if (std::FILE* null = std::fopen("/dev/null", "w")) {
      dup2(fileno(null), STDERR_FILENO);
      std::fclose(null);
    }
  } else {
    err = stderr;
  }
  const ShellStreams io{stdout, err, isatty(fileno(err)) != 0};
  const int code = shell_run(std::vector<std::string>(argv + 1, argv + argc), nullptr, io);
  std::fflush(err);
  return code;
}
