// The commands, one function each; each returns its exit code (exit_codes.h).
#pragma once
#include <array>
#include <vector>

#include "hosts/shell/command_line.h"
#include "hosts/shell/settings.h"

int command_list(const CommandLine& line);
int command_status(const CommandLine& line);
int command_get(const CommandLine& line);
int command_set(const CommandLine& line);
int command_backup(const CommandLine& line);
int command_restore(const CommandLine& line);
int command_update(const CommandLine& line);
int command_diagnose(const CommandLine& line);
int command_timecode(const CommandLine& line);

// What the unit reported of a setting that was read back: the byte of its reply, and the value that the
// setting's control shows for that byte (empty for a byte that no control shows).
struct Reported {
  std::optional<int> value;
  int byte = -1;  // -1: no reply came
};
// Reads the settings `indices` back from the unit (readback.cpp).
std::array<Reported, SETTING_COUNT> read_back(const std::vector<int>& indices);
