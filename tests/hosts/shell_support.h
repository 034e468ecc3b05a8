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

using Bytes = std::vector<uint8_t>;
using Args = std::vector<std::string>;

struct ShellResult {
  int code;
  std::string out, err;
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

// `vexa ARGS` over the simulated unit as it is, output to `out` or captured; pauses a tenth of their length.
inline ShellResult run_shell_again(const Args& args, std::FILE* out = nullptr) {
  platform_set_sleep_divisor(10);
  std::FILE* captured = out ? out : std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int code = shell_run(args, midi_backend_sim(), ShellStreams{captured, err, false});
  return {code, out ? "" : contents(captured), contents(err)};
}

// The same with a simulated unit started afresh from `setup`.
inline ShellResult run_shell(const Args& args, const SimSetup& setup = SimSetup(), std::FILE* out = nullptr) {
  sim_start(setup);
  return run_shell_again(args, out);
}

// A unit in update mode that answers and erases at once.
inline SimSetup update_mode_unit() {
  SimSetup setup;
  setup.unit.mode = SimMode::Boot;
  setup.unit.reply_latency_us = 100;
  setup.unit.erase_time_us = 20000;
  return setup;
}

inline Args lines_of(const std::string& text) {
  Args lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

inline Bytes message(int code, int value) { return {0xF0, 0x2C, 0x4D, uint8_t(code), uint8_t(value), 0xF7}; }

// What the unit received with code `code` (its byte 3), or (-1) what changes a setting (a value not 7F).
inline std::vector<Bytes> received_with_code(int code) {
  std::vector<Bytes> found;
  for (const Bytes& m : sim_unit_snapshot().received) {
    const bool set = m.size() == 6 && sim_param_index(m[3]) >= 0 && m[4] != 0x7F;
    if (m.size() > 3 && (code < 0 ? set : m[3] == code)) found.push_back(m);
  }
  return found;
}
inline std::vector<Bytes> set_messages() { return received_with_code(-1); }

// A folder of its own, removed with what it holds.
struct TempFolder {
  std::string path;
  TempFolder() {
    char pattern[] = "/tmp/vexa-shell-test.XXXXXX";
    path = mkdtemp(pattern) ? pattern : "";
  }
  ~TempFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string& name) const { return path + "/" + name; }
};

inline void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

inline std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
