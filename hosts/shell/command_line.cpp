#include "hosts/shell/command_line.h"

const CommandInfo COMMANDS[9] = {
    {Command::List, "list", "",
     "the MIDI outputs and inputs that the service sees, with the pairing (as --list)", 0, 0, false},
    {Command::Status, "status", "",
     "ask the unit for its state: running X.Y, update-mode or absent, with its port", 0, 0, true},
    {Command::Get, "get", "[NAME...]",
     "read the settings back from the unit, all ten or those named: one NAME=VALUE a line", 0, -1, true},
    {Command::Set, "set", "NAME=VALUE...",
     "change settings, then read each back from the unit and compare; prints what changed", 1, -1, false},
    {Command::Backup, "backup", "[FILE]", "write all ten settings to FILE (- or none: standard output)", 0, 1,
     false},
    {Command::Restore, "restore", "FILE",
     "check the whole file first, then set what differs and read it back; prints what changed", 1, 1, false},
    {Command::Update, "update", "[--image FILE]",
     "write the firmware into a unit in update mode; progress on standard error, then the outcome", 0, 0,
     false},
    {Command::Diagnose, "diagnose", "",
     "a report for a support request: program and firmware versions, the MIDI service, every output and "
     "input with the pairing, the unit's state and the round-trip time of 20 status queries",
     0, 0, true},
    {Command::Timecode, "timecode", "[--seconds N]",
     "listen to the time code that the unit sends until N seconds have passed, Ctrl+C or SIGTERM: a line per "
     "event (start, stop, locate, drop-out, jump, rate, error; the time once a second while running), on a "
     "terminal one line kept current; then a summary (frames, rate, drop-outs, errors, quarter frames' "
     "spacing)",
     0, 0, true},
};

const OptionInfo OPTIONS[8] = {
    {"--midi", "NAME", "the MIDI service (as VEXA_MIDI): see MIDI services"},
    {"--port", "NAME",
     "commands: the unit's MIDI output by its exact name (see vexa list); without it, the one output with an "
     "input of the same name whose unit answers"},
    {"--json", nullptr,
     "status, get, diagnose: print one JSON object instead of text; timecode: one JSON object a line"},
    {"--seconds", "N", "timecode: listen this long (without it: until Ctrl+C or SIGTERM, a normal end here)"},
    {"--image", "FILE",
     "update: write this firmware image instead of the built-in one; it must pass the same header check"},
    {"--list", nullptr,
     "print the MIDI outputs and inputs that the service sees, with the pairing the program would make, and "
     "exit (as vexa list)"},
    {"--version", nullptr, "print the program's and the firmware image's versions and exit"},
    {"--help", nullptr, "print this and exit (also -h)"},
};

namespace {

const OptionInfo* option_named(const std::string& name) {
  for (const OptionInfo& option : OPTIONS) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

const CommandInfo* command_named(const std::string& name) {
  for (const CommandInfo& command : COMMANDS) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

bool is_option(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

// The field of an option that takes a value, null for a flag.
std::string* value_of(CommandLine& line, const std::string& name) {
  return name == "--midi"      ? &line.midi
         : name == "--port"    ? &line.port
         : name == "--image"   ? &line.image
         : name == "--seconds" ? &line.seconds
                               : nullptr;
}

void set_flag(CommandLine& line, const std::string& name) {
  if (name == "--json") line.json = true;
  if (name == "--list") line.list = true;
  if (name == "--version") line.version = true;
  if (name == "--help") line.help = true;
}

// One option at args[i]; moves i past its value.
bool take_option(const std::vector<std::string>& args, size_t& i, CommandLine& line, std::string& error) {
  std::string name = args[i] == "-h" ? "--help" : args[i];
  std::string value;
  const size_t equals = name.find('=');
  const bool inline_value = equals != std::string::npos;
  if (inline_value) {
    value = name.substr(equals + 1);
    name.resize(equals);
  }
  const OptionInfo* option = option_named(name);
  if (!option) {
    error = "unknown option " + args[i];
    return false;
  }
  if (option->value && !inline_value) {
    if (i + 1 >= args.size()) {
      error = name + " needs " + option->value;
      return false;
    }
    value = args[++i];
  } else if (!option->value && inline_value) {
    error = name + " takes no value";
    return false;
  }
  if (option->value && value.empty()) {
    error = name + " needs " + option->value;
    return false;
  }
  std::string* field = value_of(line, name);
  if (field && !field->empty()) {
    error = name + " is given twice";
    return false;
  }
  if (field)
    *field = value;
  else
    set_flag(line, name);
  return true;
}

bool check_combination(const CommandLine& line, std::string& error) {
  const CommandInfo& command = *line.command;
  const int count = static_cast<int>(line.operands.size());
  if (count < command.min_operands || (command.max_operands >= 0 && count > command.max_operands)) {
    error =
        std::string("usage: vexa ") + command.name + (command.arguments[0] ? " " : "") + command.arguments;
    return false;
  }
  if (line.json && !command.json) error = std::string("--json does not apply to ") + command.name;
  if (!line.image.empty() && command.command != Command::Update) error = "--image applies to update only";
  if (!line.seconds.empty() && command.command != Command::Timecode)
    error = "--seconds applies to timecode only";
  if (!line.port.empty() && command.command == Command::List) error = "--port does not apply to list";
  return error.empty();
}

// Options of the commands without a command: `vexa --port status` took "status" for the port's name.
bool check_no_command(const CommandLine& line, std::string& error) {
  if (!line.port.empty()) error = "no command given (--port took \"" + line.port + "\" as its NAME)";
  if (!line.image.empty()) error = "no command given (--image took \"" + line.image + "\" as its FILE)";
  if (line.json) error = "no command given for --json";
  return error.empty();
}

}  // namespace

bool parse_command_line(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  bool options_end = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && is_option(arg)) {
      if (!take_option(args, i, line, error)) return false;
    } else if (!line.command) {
      line.command = command_named(arg);
      if (!line.command) {
        error = "unknown command \"" + arg + "\"";
        return false;
      }
    } else {
      line.operands.push_back(arg);
    }
  }
  if (line.help || line.version) return true;
  if (line.list) {
    if (line.command) {
      error = "--list takes no command (vexa list does the same)";
      return false;
    }
    line.command = command_named("list");
  }
  return line.command ? check_combination(line, error) : check_no_command(line, error);
}
