// Support for the tests of the shell commands: one command line run in this process, as `vexa` runs it,
// over the simulated unit, with its standard output and error captured.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hosts/shell/shell.h"
#include "platform/midi/sim/midi_sim.h"
#include "platform/win32/kernel32_ext.h"
#include "platform/win32/winmm_ext.h"

using Bytes = std::vector<uint8_t>;

struct ShellResult {
  int code;
  std::string out;
  std::string err;
};

inline std::string contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  std::fclose(file);
  return text;
}

// Runs `vexa ARGS` against the simulated back-end as it is now (the unit keeps its state from the runs
// before). Pauses are logged as asked and last a tenth of that.
inline ShellResult run_shell_again(const std::vector<std::string>& args) {
  platform_set_sleep_divisor(10);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int code = shell_run(args, midi_backend_sim(), ShellStreams{out, err, false});
  return {code, contents(out), contents(err)};
}

// The same with a simulated unit started afresh from `setup`.
inline ShellResult run_shell(const std::vector<std::string>& args, const SimSetup& setup = SimSetup()) {
  sim_start(setup);
  return run_shell_again(args);
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

inline Bytes message(std::initializer_list<int> values) {
  Bytes bytes;
  for (int value : values) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

// The messages the unit received with code `code` (its byte 3).
inline std::vector<Bytes> received_with_code(uint8_t code) {
  std::vector<Bytes> found;
  for (const Bytes& m : sim_unit_snapshot().received)
    if (m.size() > 3 && m[3] == code) found.push_back(m);
  return found;
}

// The pauses of every thread but this one (the person's): the program's own, in order.
inline std::vector<DWORD> program_pauses() {
  std::vector<DWORD> pauses;
  const DWORD person = GetCurrentThreadId();
  for (const PlatformSleep& sleep : platform_sleeps())
    if (sleep.thread_id != person) pauses.push_back(sleep.ms);
  return pauses;
}

// A file in a folder of its own, removed with it.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/vexa-shell-test.XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
  }
  ~TempFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

inline std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
