// The simulated unit's options: one table from name to SimConfig field, read from the command line and
// from config files alike.
#include "sim/unit/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// Longer waits than an hour test nothing that a shorter one does not.
constexpr long MAX_MS = 3600000;
constexpr long MAX_COUNT = 1000000;
constexpr uint8_t NO_FIRMWARE = 0x7F;
// A step of the time code input lasts at most an hour; winds run at most a hundred times play speed.
constexpr double MAX_STEP_SECONDS = 3600;
constexpr double MAX_SPEED = 100;
// The help's column for the descriptions and its width.
constexpr size_t HELP_COLUMN = 34;
constexpr size_t HELP_WIDTH = 110;

// A whole word as a number from min to max: decimal, or hexadecimal after 0x.
bool parse_number(const char* text, long min, long max, long& value) {
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = hex ? text + 2 : text;
  const unsigned char first = static_cast<unsigned char>(*digits);
  if (hex ? !std::isxdigit(first) : !std::isdigit(first)) return false;  // no sign, no blank
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(digits, &end, hex ? 16 : 10);
  if (*end != '\0' || errno != 0 || parsed < min || parsed > max) return false;
  value = parsed;
  return true;
}

template <typename Field>
bool store_number(const char* text, long max, Field& field) {
  long value = 0;
  if (!parse_number(text, 0, max, value)) return false;
  field = static_cast<Field>(value);
  return true;
}

bool store_ms(const char* text, uint32_t& field_us) {
  long ms = 0;
  if (!parse_number(text, 0, MAX_MS, ms)) return false;
  field_us = static_cast<uint32_t>(ms * 1000);
  return true;
}

// "3.1": the two characters that the unit reports as its version.
bool store_version(const char* text, uint8_t (&version)[2]) {
  if (std::strlen(text) != 3 || text[1] != '.' || text[0] < 0x20 || text[2] < 0x20) return false;
  version[0] = static_cast<uint8_t>(text[0]);
  version[1] = static_cast<uint8_t>(text[2]);
  return true;
}

// Letters of SimConfig::packet_scripts.
bool is_script(const char* text) {
  return text[0] != '\0' && std::strspn(text, "ANTRBLU") == std::strlen(text);
}

bool store_script(const char* text, std::string& script) {
  if (!is_script(text)) return false;
  script = text;
  return true;
}

// PARAM=VALUE: PARAM a parameter byte, VALUE a data byte.
bool store_setting(SimConfig& config, const char* text) {
  const char* equals = std::strchr(text, '=');
  if (equals == nullptr) return false;
  long param = 0, value = 0;
  const std::string param_text(text, equals);
  if (!parse_number(param_text.c_str(), 0, 0x7F, param) || !parse_number(equals + 1, 0, 0x7F, value))
    return false;
  const int index = sim_param_index(static_cast<uint8_t>(param));
  if (index < 0) return false;
  config.settings[index] = static_cast<uint8_t>(value);
  return true;
}

// A whole word as a decimal number from min to max ("1.5", "-10").
bool parse_decimal(const char* text, double min, double max, double& value) {
  if (*text == '\0' || std::isspace(static_cast<unsigned char>(*text))) return false;
  char* end = nullptr;
  const double parsed = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(parsed) || parsed < min || parsed > max) return false;
  value = parsed;
  return true;
}

// HH:MM:SS:FF RATE: the time code input, standing at that time when the unit starts.
bool store_timecode(SimTimecodeInput& input, const char* const* values) {
  TimecodeRate rate = TimecodeRate::fps25;
  TimecodeTime start;
  if (!timecode_rate_from_name(values[1], rate) || !timecode_parse(values[0], rate, start)) return false;
  input.connected = true;
  input.rate = rate;
  input.start_frame = timecode_to_frames(start);
  return true;
}

// One step of the input, after its start and rate: play|reverse|stop|gap|SPEED SECONDS, or jump HH:MM:SS:FF.
bool store_timecode_step(SimTimecodeInput& input, const char* const* values) {
  const std::string_view what = values[0];
  SimTimecodeStep step;
  if (!input.connected) return false;
  if (what == "jump") {
    TimecodeTime to;
    if (!timecode_parse(values[1], input.rate, to)) return false;
    step.kind = SimTimecodeStep::Jump;
    step.to_frame = timecode_to_frames(to);
    input.steps.push_back(step);
    return true;
  }
  double seconds = 0;
  if (!parse_decimal(values[1], 0, MAX_STEP_SECONDS, seconds)) return false;
  step.duration_us = static_cast<uint32_t>(std::llround(seconds * 1e6));
  if (what == "gap") step.kind = SimTimecodeStep::Gap;
  const bool named = what == "play" || what == "reverse" || what == "stop" || what == "gap";
  step.speed = what == "reverse" ? -1 : what == "stop" ? 0 : 1;
  if (!named && !parse_decimal(values[0], -MAX_SPEED, MAX_SPEED, step.speed)) return false;
  input.steps.push_back(step);
  return true;
}

struct VerifyName {
  const char* name;
  SimVerifyAnswer answer;
};
const VerifyName VERIFY_NAMES[] = {
    {"normal", SimVerifyAnswer::Normal},
    {"running", SimVerifyAnswer::Running},
    {"no-firmware", SimVerifyAnswer::BootNoFirmware},
    {"partial", SimVerifyAnswer::BootPartial},
    {"silence", SimVerifyAnswer::Silence},
};

bool store_verify(const char* text, SimVerifyAnswer& answer) {
  for (const VerifyName& verify : VERIFY_NAMES) {
    if (std::strcmp(text, verify.name) == 0) {
      answer = verify.answer;
      return true;
    }
  }
  return false;
}

const SimOption OPTIONS[] = {
    {"update-mode", 0, "", "start in the boot loader, as with both keys held",
     [](SimConfig& c, const char* const*) {
       c.mode = SimMode::Boot;
       return true;
     }},
    {"firmware", 1, "X.Y", "the firmware version held (default 3.1)",
     [](SimConfig& c, const char* const* v) { return store_version(v[0], c.version); }},
    {"no-firmware", 0, "", "no valid firmware held (version bytes 7F 7F)",
     [](SimConfig& c, const char* const*) {
       c.version[0] = c.version[1] = NO_FIRMWARE;
       return true;
     }},
    {"set", 1, "PARAM=VALUE", "a setting's value at the start, PARAM its byte (0x52..0x5D)",
     [](SimConfig& c, const char* const* v) { return store_setting(c, v[0]); }},
    {"boot-code", 1, "31|32", "the boot loader's status code, 0x1F or 0x20 (default 31)",
     [](SimConfig& c, const char* const* v) {
       long code = 0;
       if (!parse_number(v[0], 0x1F, 0x20, code)) return false;
       c.boot_code = static_cast<uint8_t>(code);
       return true;
     }},
    {"params-in-boot", 0, "", "the boot loader also answers the settings' messages",
     [](SimConfig& c, const char* const*) {
       c.params_in_boot = true;
       return true;
     }},
    {"latency-ms", 1, "N", "every reply comes N ms after its message (default 1)",
     [](SimConfig& c, const char* const* v) { return store_ms(v[0], c.reply_latency_us); }},
    {"erase-ms", 1, "N", "erasing takes N ms (default 300)",
     [](SimConfig& c, const char* const* v) { return store_ms(v[0], c.erase_time_us); }},
    {"erase-never-answers", 0, "", "the erase is never answered",
     [](SimConfig& c, const char* const*) {
       c.erase_never_answers = true;
       return true;
     }},
    {"status-silence", 1, "N", "the first N status queries go unanswered",
     [](SimConfig& c, const char* const* v) { return store_number(v[0], MAX_COUNT, c.status_silence); }},
    {"packet-script", 2, "K LETTERS",
     "data packet K (from 0) is answered by one letter per receipt, then normally: A normally, N NAK, "
     "T not at all, R running, B boot code, L normally after late-reply-ms, U unplugged",
     [](SimConfig& c, const char* const* v) {
       int packet = 0;
       if (!store_number(v[0], MAX_COUNT, packet) || !is_script(v[1])) return false;
       c.packet_scripts[packet] = v[1];
       return true;
     }},
    {"every-packet-script", 1, "LETTERS", "the same for every packet without a script of its own",
     [](SimConfig& c, const char* const* v) { return store_script(v[0], c.every_packet_script); }},
    {"late-reply-ms", 1, "N", "how late the letter L answers (default 0)",
     [](SimConfig& c, const char* const* v) { return store_ms(v[0], c.late_reply_us); }},
    {"verify", 1, "normal|running|no-firmware|partial|silence",
     "the answer to the status query after the writing: the written version, the firmware's, 7F 7F, 7F 03 "
     "or none",
     [](SimConfig& c, const char* const* v) { return store_verify(v[0], c.verify_answer); }},
    {"written-firmware", 1, "X.Y", "the version that the written image carries (default 3.1)",
     [](SimConfig& c, const char* const* v) { return store_version(v[0], c.written_version); }},
    {"finish-silence", 0, "", "the finish message goes unanswered",
     [](SimConfig& c, const char* const*) {
       c.finish_silence = true;
       return true;
     }},
    {"unplug-after", 1, "N", "the unit is unplugged once N packets are written",
     [](SimConfig& c, const char* const* v) {
       return store_number(v[0], MAX_COUNT, c.unplug_after_packets);
     }},
    {"noise", 1, "BITS",
     "extra traffic before each reply: 1 quarter frames, 2 another maker's SysEx, 4 a long SysEx, "
     "8 stray data bytes, 16 a timing clock inside the reply, 32 a SysEx cut off",
     [](SimConfig& c, const char* const* v) { return store_number(v[0], 63, c.noise); }},
    {"long-sysex-length", 1, "N", "bytes of noise 4's SysEx, F0 and F7 included (default 600)",
     [](SimConfig& c, const char* const* v) { return store_number(v[0], MAX_COUNT, c.long_sysex_length); }},
    {"timecode", 2, "HH:MM:SS:FF RATE",
     "a time code input at RATE (24, 25, 29.97df or 30) that is at HH:MM:SS:FF when the unit starts and "
     "plays from there; the unit sends MIDI time code of it as its settings say",
     [](SimConfig& c, const char* const* v) { return store_timecode(c.timecode, v); }},
    {"timecode-step", 2, "WHAT VALUE",
     "the time code input's next step (after timecode; once the last is over it goes on as it was): play, "
     "reverse, stop (standing, its signal there), gap (its signal gone) or a speed (10: wind, 0.5, -2) for "
     "VALUE seconds, or jump to VALUE (HH:MM:SS:FF)",
     [](SimConfig& c, const char* const* v) { return store_timecode_step(c.timecode, v); }},
};

const SimOption* find_option(std::string_view name, std::span<const SimOption> host) {
  for (std::span<const SimOption> table : {host, SIM_OPTIONS}) {
    for (const SimOption& option : table) {
      if (name == option.name) return &option;
    }
  }
  return nullptr;
}

void append_help(std::string& help, const char* prefix, const SimOption& option) {
  std::string head = std::string("  ") + prefix + option.name;
  if (option.values[0] != '\0') head = head + " " + option.values;
  help += head;
  size_t column = head.size();
  if (column + 1 > HELP_COLUMN) {  // the description starts on a line of its own
    help += '\n';
    column = 0;
  }
  bool fresh = true;  // nothing of the description on this line yet
  std::string_view text = option.help;
  while (!text.empty()) {
    const std::string_view word = text.substr(0, text.find(' '));
    text.remove_prefix(std::min(word.size() + 1, text.size()));
    if (!fresh && column + 1 + word.size() > HELP_WIDTH) {
      help += '\n';
      column = 0;
      fresh = true;
    }
    help.append(fresh ? HELP_COLUMN - column : 1, ' ');
    column = fresh ? HELP_COLUMN : column + 1;
    help += word;
    column += word.size();
    fresh = false;
  }
  help += '\n';
}

}  // namespace

const std::span<const SimOption> SIM_OPTIONS(OPTIONS);

SimOptionResult sim_read_options(SimConfig& config, std::span<const char* const> words, const char* prefix,
                                 std::span<const SimOption> host, std::string& bad) {
  const size_t prefix_length = std::strlen(prefix);
  for (size_t i = 0; i < words.size();) {
    const char* word = words[i];
    bad = word;
    const SimOption* option =
        std::strncmp(word, prefix, prefix_length) == 0 ? find_option(word + prefix_length, host) : nullptr;
    if (option == nullptr) return SIM_OPTION_UNKNOWN;
    const size_t count = static_cast<size_t>(option->value_count);
    if (words.size() - i - 1 < count) return SIM_OPTION_MISSING_VALUE;
    if (!option->apply(config, words.data() + i + 1)) {
      for (size_t k = 1; k <= count; ++k) bad = bad + " " + words[i + k];
      return SIM_OPTION_BAD_VALUE;
    }
    i += 1 + count;
  }
  bad.clear();
  return SIM_OPTION_OK;
}

SimOptionResult sim_read_config_line(SimConfig& config, const char* line, std::span<const SimOption> host,
                                     std::string& bad) {
  std::vector<std::string> words;
  const char* blanks = " \t\r\n";
  for (const char* at = line + std::strspn(line, blanks); *at != '\0'; at += std::strspn(at, blanks)) {
    const size_t length = std::strcspn(at, blanks);
    words.emplace_back(at, length);
    at += length;
  }
  if (words.empty() || words[0][0] == '#') {
    bad.clear();
    return SIM_OPTION_OK;
  }
  std::vector<const char*> pointers;
  for (const std::string& word : words) pointers.push_back(word.c_str());
  return sim_read_options(config, pointers, "", host, bad);
}

const char* sim_option_problem(SimOptionResult result) {
  switch (result) {
    case SIM_OPTION_OK:
      return "accepted";
    case SIM_OPTION_UNKNOWN:
      return "no such option";
    case SIM_OPTION_MISSING_VALUE:
      return "its value is missing";
    case SIM_OPTION_BAD_VALUE:
      return "a value that it does not take";
  }
  return "refused";
}

std::string sim_options_help(const char* prefix, std::span<const SimOption> host) {
  std::string help;
  for (std::span<const SimOption> table : {host, SIM_OPTIONS}) {
    for (const SimOption& option : table) append_help(help, prefix, option);
  }
  return help;
}
