// The commands, one function each; each returns its exit code (exit_codes.h).
#pragma once
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
