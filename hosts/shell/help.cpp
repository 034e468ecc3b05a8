// `vexa --help`: the dialog's options and keys and the commands, options, settings and exit codes of the
// shell commands, each from its table. Every entry is one line "  TERM  text" with the text wrapped under
// itself, so that tools can read the sections.
#include <cstdio>
#include <string>

#include "hosts/shell/command_line.h"
#include "hosts/shell/exit_codes.h"
#include "hosts/shell/settings.h"
#include "hosts/shell/shell.h"
#include "platform/midi/choice/midi_choice.h"

namespace {

constexpr size_t WIDTH = 100;
constexpr size_t TERM_COLUMN = 24;

// "  term" padded to the text's column (or on a line of its own when longer), then the text wrapped at
// word boundaries to WIDTH.
void entry(std::FILE* to, const std::string& term, const std::string& text) {
  std::string line = "  " + term;
  if (line.size() + 2 > TERM_COLUMN) {
    std::fprintf(to, "%s\n", line.c_str());
    line.clear();
  }
  line.resize(TERM_COLUMN, ' ');
  size_t at = 0;
  while (at < text.size()) {
    size_t room = WIDTH - TERM_COLUMN;
    size_t end = at + room >= text.size() ? text.size() : text.rfind(' ', at + room);
    if (end == std::string::npos || end <= at) end = std::min(text.size(), at + room);
    std::fprintf(to, "%s%s\n", line.c_str(), text.substr(at, end - at).c_str());
    line.assign(TERM_COLUMN, ' ');
    at = end < text.size() && text[end] == ' ' ? end + 1 : end;
  }
}

void commands(std::FILE* to) {
  std::fprintf(to, "Commands:\n");
  for (const CommandInfo& command : COMMANDS) {
    std::string term = command.name;
    if (command.arguments[0]) term += std::string(" ") + command.arguments;
    entry(to, term, command.summary);
  }
}

void options(std::FILE* to) {
  std::fprintf(to, "Options (before or after the command):\n");
  for (const OptionInfo& option : OPTIONS) {
    std::string term = option.name;
    if (option.value) term += std::string(" ") + option.value;
    entry(to, term, option.summary);
  }
}

void settings(std::FILE* to) {
  std::fprintf(to,
               "Settings (set NAME=VALUE; the same names in settings files and JSON; on|off is true|false\n"
               "in JSON, on where the dialog's box is ticked):\n");
  for (const Setting& setting : SETTINGS) {
    std::string range = setting_range(setting);
    range.resize(8, ' ');
    entry(to, setting.name, range + "\"" + setting.caption + "\"");
  }
}

void exit_codes(std::FILE* to) {
  std::fprintf(to, "Exit codes:\n");
  for (const ExitMeaning& exit : EXIT_MEANINGS) entry(to, exit.code, exit.meaning);
}

void services(std::FILE* to) {
  std::fprintf(to, "MIDI services (%s):\n", midi_choice_names());
  entry(to, "alsa", "real devices through the ALSA sequencer (the default)");
  entry(to, "jack", "real devices through a running JACK server");
  entry(to, "sim", "the built-in simulated unit (what `make run` uses); F9 puts it into update mode");
}

void keys(std::FILE* to) {
  std::fprintf(to, "Keys of the dialog:\n");
  entry(to, "Tab, Shift+Tab", "next, previous control");
  entry(to, "underlined letter", "go to that control (Alt+letter too)");
  entry(to, "F4, Alt+Down", "open the port list; Up, Down and Enter choose, Esc closes it");
  entry(to, "Space", "press a button, tick a box");
  entry(to, "arrows, PgUp/PgDn", "move the slider, change the number");
  entry(to, "Enter, Esc", "dismiss a message box");
  entry(to, "Ctrl+Q", "quit (the window's close button)");
  std::fprintf(to,
               "The mouse works too. The layout follows the terminal's size: the whole dialog from 55 x 48,\n"
               "two columns from 80 x 24, and below that a dialog that scrolls to the focused control.\n");
}

void environment(std::FILE* to) {
  std::fprintf(to, "Environment:\n");
  entry(to, "VEXA_MIDI", "the MIDI service when --midi is not given");
  entry(
      to, "VEXA_SIM_OPTIONS",
      "options of vexa-sim for the built-in simulated unit (sim), such as its time code input (see vexa-sim "
      "--help)");
  entry(to, "LANG", "a UTF-8 locale draws frames and the picture with line and block characters");
  entry(to, "TERM", "the terminal type");
}

}  // namespace

void shell_print_help(std::FILE* to) {
  std::fprintf(
      to,
      "Usage: vexa [--midi NAME] [--list] [--help] [--version]\n"
      "       vexa COMMAND [OPTIONS] [ARGUMENTS]\n"
      "\n"
      "Without a command, shows the vexa utility's dialog in the terminal: pair the unit's MIDI\n"
      "ports, read and change its settings, update its firmware. A command does one of these without\n"
      "a terminal, through the same dialog, and ends by itself with an exit code that tells the\n"
      "outcome; nothing is reported done before the unit has confirmed it.\n"
      "\n");
  commands(to);
  std::fprintf(to, "\n");
  options(to);
  std::fprintf(to, "\n");
  settings(to);
  std::fprintf(to, "\n");
  exit_codes(to);
  std::fprintf(to, "\n");
  services(to);
  std::fprintf(to, "\n");
  keys(to);
  std::fprintf(to, "\n");
  environment(to);
}
