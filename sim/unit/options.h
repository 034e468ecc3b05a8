// The simulated unit's options by name, one spelling for every host: vexa-sim takes each as
// "--NAME VALUE...", the Wine driver's config file as a line "NAME VALUE...". Both read them through
// sim_read_options, and vexa-sim's --help is made from the same table.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "sim/unit/unit.h"

// One option: its name, the words that follow it (none for a switch) and what it does. A host's own
// options have the same shape; their apply() leaves the config alone and sets the host's state.
struct SimOption {
  const char* name;
  int value_count;
  const char* values;  // how the values are written, for the help; "" for a switch
  const char* help;
  // Takes value_count words; false when one of them is not what the option takes.
  bool (*apply)(SimConfig& config, const char* const* values);
};

// The unit's options: every field of SimConfig that a person chooses.
extern const std::span<const SimOption> SIM_OPTIONS;

enum SimOptionResult : int32_t {
  SIM_OPTION_OK = 0,
  // A word where an option belongs names none (on the command line: or lacks the dashes).
  SIM_OPTION_UNKNOWN = 1,
  // The words end before the option's values do.
  SIM_OPTION_MISSING_VALUE = 2,
  // A value that the option does not take.
  SIM_OPTION_BAD_VALUE = 3,
};

// Reads `words`: each option's name with `prefix` before it ("--" on the command line, "" in a file),
// then its values. A host's own options are looked for before the unit's. The reading stops at the
// first word that fails, which `bad` then holds.
SimOptionResult sim_read_options(SimConfig& config, std::span<const char* const> words, const char* prefix,
                                 std::span<const SimOption> host, std::string& bad);

// One line of a config file, read as the command line is but without the dashes; blank lines and lines
// that start with # hold nothing.
SimOptionResult sim_read_config_line(SimConfig& config, const char* line, std::span<const SimOption> host,
                                     std::string& bad);

// What is wrong, in words, for a message that names the word at fault: "no such option" and so on.
const char* sim_option_problem(SimOptionResult result);

// One line per option, the host's first, each name with `prefix` before it.
std::string sim_options_help(const char* prefix, std::span<const SimOption> host);
