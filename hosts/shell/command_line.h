// The command line of `vexa` with a sub-command: the commands, the options (before or after the command),
// and their tables, which the parser and `vexa --help` share.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class Command : uint8_t { List, Status, Get, Set, Backup, Restore, Update, Diagnose, Timecode };

struct CommandInfo {
  Command command;
  const char* name;
  const char* arguments;  // as --help shows them
  const char* summary;
  int min_operands;
  int max_operands;  // -1: any number
  bool json;         // takes --json
};
extern const CommandInfo COMMANDS[9];

// The options; `value` names the option's argument, null for a flag.
struct OptionInfo {
  const char* name;
  const char* value;
  const char* summary;
};
extern const OptionInfo OPTIONS[8];

struct CommandLine {
  const CommandInfo* command = nullptr;  // null: no command given
  std::vector<std::string> operands;
  std::string midi;  // empty: VEXA_MIDI, else alsa
  std::string port;
  std::string image;
  std::string seconds;  // timecode: how long to listen; empty: until an interrupt
  bool json = false;
  bool help = false;
  bool version = false;
  bool list = false;  // given as --list
};

// Parses options and command in any order (--list stands for the command list); false with the problem in
// `error` (exit code 2). A line without a command is the dialog's: at most --midi, --help and --version.
bool parse_command_line(const std::vector<std::string>& args, CommandLine& line, std::string& error);
