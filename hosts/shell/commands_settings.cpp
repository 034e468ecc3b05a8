// status, get, set, backup and restore: the port chosen in the dialog's list, the settings read from its
// controls once the read-back burst has filled them, changed as a person changes them.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "hosts/shell/commands.h"
#include "hosts/shell/file_io.h"
#include "hosts/shell/session.h"
#include "hosts/shell/settings_dialog.h"
#include "hosts/shell/settings_file.h"
#include "protocol/protocol.h"

namespace {

using Json = nlohmann::ordered_json;

std::vector<int> all_settings() {
  std::vector<int> indices;
  for (int i = 0; i < SETTING_COUNT; ++i) indices.push_back(i);
  return indices;
}

std::string value_text(int index, const std::optional<int>& value) {
  return value ? setting_text(SETTINGS[index], *value) : "?";
}

void print_json(const Json& object) {
  std::fprintf(streams().out, "%s\n", object.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
}

// Starts the program, connects, and checks that the unit runs its firmware: the settings live there.
int connect_running(const CommandLine& line, const std::vector<int>& needed, ShownUnit& unit) {
  if (int code = program_start(nullptr); code != EXIT_DONE) return code;
  if (int code = connect_unit(line.port, needed, unit); code != EXIT_DONE) return code;
  if (unit.state != UnitState::UpdateMode) return EXIT_DONE;
  note("the unit on \"" + connected_port() +
       "\" is in update mode: it has no settings until its firmware is written (vexa update)");
  return EXIT_WRONG_MODE;
}

// A setting that the unit did not report is an error, never a value shown as if read.
int require_reported(const SettingValues& values, const std::vector<int>& needed) {
  std::string missing;
  for (int i : needed) {
    if (!values[static_cast<size_t>(i)])
      missing += std::string(missing.empty() ? "" : ", ") + SETTINGS[i].name;
  }
  if (missing.empty()) return EXIT_DONE;
  note("the unit did not report " + missing);
  return EXIT_NO_UNIT;
}

// Compares what the unit reported after the changes with what was asked; prints what changed.
int confirm_changes(const std::vector<int>& changed, const SettingValues& before,
                    const SettingValues& wanted) {
  const ReadBack after = read_back(changed, interrupted);
  bool disagrees = false;
  bool missing = false;
  for (int i : changed) {
    const size_t at = static_cast<size_t>(i);
    const std::string name = SETTINGS[i].name;
    if (after[at].byte < 0) {
      note(unconfirmed(i, wanted, after));
      missing = true;
    } else if (after[at].value != wanted[at]) {
      note(unconfirmed(i, wanted, after));
      disagrees = true;
    } else {
      std::fprintf(streams().out, "%s=%s (was %s)\n", name.c_str(), value_text(i, after[at].value).c_str(),
                   value_text(i, before[at]).c_str());
    }
  }
  if (interrupted()) return interrupted_exit();
  return disagrees ? EXIT_UNIT_FAILED : missing ? EXIT_NO_UNIT : EXIT_DONE;
}

// Changes the settings of `wanted` that the dialog shows otherwise, at its controls, then reads them back.
int change_settings(const SettingValues& wanted) {
  ignore_broken_pipes();
  const SettingValues before = shown_settings();
  // The slider sends a position only when it differs from the last one sent, which a drawn dialog's first
  // redraw makes the unit's own. This dialog is never drawn: the unit's brightness counts as sent.
  for (int i = 0; i < SETTING_COUNT; ++i) {
    if (SETTINGS[i].kind == SettingKind::Slider && before[static_cast<size_t>(i)])
      brightness_sent = static_cast<uint8_t>(*before[static_cast<size_t>(i)]);
  }
  std::vector<int> changed;
  for (int i = 0; i < SETTING_COUNT; ++i) {
    const std::optional<int>& value = wanted[static_cast<size_t>(i)];
    if (!value || before[static_cast<size_t>(i)] == value) continue;
    for (const PersonInput& input : inputs_to_set(i, *value)) {
      if (interrupted()) return interrupted_exit();
      if (int code = perform(input); code != EXIT_DONE) return code;
    }
    changed.push_back(i);
  }
  if (interrupted()) return interrupted_exit();
  if (changed.empty()) {
    note("nothing to change: the unit has these settings");
    return EXIT_DONE;
  }
  return confirm_changes(changed, before, wanted);
}

// The settings as the dialog shows them after connecting: all of `needed` reported by a running unit.
int connect_and_read(const CommandLine& line, const std::vector<int>& needed, ShownUnit& unit,
                     SettingValues& values) {
  int code = connect_running(line, needed, unit);
  if (code == EXIT_DONE) {
    values = shown_settings();
    code = require_reported(values, needed);
  }
  return code;
}

}  // namespace

int command_status(const CommandLine& line) {
  ShownUnit unit{UnitState::Absent, ""};
  int code = program_start(nullptr);
  if (code == EXIT_DONE) code = connect_unit(line.port, {}, unit);
  if (code == EXIT_DONE || code == EXIT_NO_UNIT) {
    const bool present = unit.state != UnitState::Absent;
    if (line.json) {
      Json object = Json::object();
      object["state"] = unit_state_name(unit.state);
      object["firmware"] = unit.firmware.empty() ? Json(nullptr) : Json(unit.firmware);
      object["port"] = present ? Json(connected_port()) : Json(nullptr);
      print_json(object);
    } else if (present) {
      std::fprintf(streams().out, "%s on %s\n", unit_state_text(unit).c_str(), connected_port().c_str());
    } else {
      std::fprintf(streams().out, "absent\n");
    }
  }
  return program_end(code);
}

int command_get(const CommandLine& line) {
  std::vector<int> asked;
  for (const std::string& name : line.operands) {
    const int index = setting_index(name);
    if (index < 0) {
      note("unknown setting \"" + name + "\" (see vexa --help)");
      return EXIT_USAGE;
    }
    asked.push_back(index);
  }
  if (asked.empty()) asked = all_settings();
  ShownUnit unit;
  SettingValues values;
  const int code = connect_and_read(line, asked, unit, values);
  if (code == EXIT_DONE && line.json) {
    SettingValues chosen;
    for (int i : asked) chosen[static_cast<size_t>(i)] = values[static_cast<size_t>(i)];
    print_json(settings_object(chosen));
  } else if (code == EXIT_DONE) {
    for (int i : asked)
      std::fprintf(streams().out, "%s=%s\n", SETTINGS[i].name,
                   value_text(i, values[static_cast<size_t>(i)]).c_str());
  }
  return program_end(code);
}

int command_set(const CommandLine& line) {
  SettingValues wanted;
  std::vector<int> named;
  for (const std::string& assignment : line.operands) {
    int index = 0;
    int value = 0;
    std::string error;
    if (!parse_assignment(assignment, index, value, error)) {
      note(error + " (see vexa --help)");
      return EXIT_USAGE;
    }
    if (wanted[static_cast<size_t>(index)]) {
      note(std::string(SETTINGS[index].name) + " is given twice");
      return EXIT_USAGE;
    }
    wanted[static_cast<size_t>(index)] = value;
    named.push_back(index);
  }
  ShownUnit unit;
  SettingValues shown;
  int code = connect_and_read(line, named, unit, shown);
  if (code == EXIT_DONE) code = change_settings(wanted);
  return program_end(code);
}

int command_backup(const CommandLine& line) {
  const bool to_file = !line.operands.empty() && line.operands[0] != "-";
  PendingFile file;
  std::string error;
  // The file is begun before anything is sent, so that a folder that cannot take it fails first.
  if (to_file && !pending_open(file, line.operands[0], error)) {
    note(error);
    return EXIT_USAGE;
  }
  ShownUnit unit;
  SettingValues values;
  int code = connect_and_read(line, all_settings(), unit, values);
  if (code == EXIT_DONE) {
    const std::string text = settings_file_write({unit.firmware, values});
    if (!to_file) {
      std::fputs(text.c_str(), streams().out);
    } else if (!pending_commit(file, text, error)) {
      note(error);
      code = EXIT_NOT_WRITTEN;
    }
  }
  pending_discard(file);
  return program_end(code);
}

int command_restore(const CommandLine& line) {
  const std::string& path = line.operands[0];
  std::string text;
  std::string error;
  SettingsFile file;
  // The whole file is checked before the program starts: a file that is refused sends nothing.
  if (!read_file(path, SETTINGS_FILE_MAX_BYTES, text, error) || !settings_file_read(text, file, error)) {
    // Ctrl+C while a FIFO or a terminal is read interrupts the read.
    if (interrupted()) return interrupted_early();
    note(path + ": " + error);
    return EXIT_USAGE;
  }
  ShownUnit unit;
  SettingValues shown;
  int code = connect_and_read(line, all_settings(), unit, shown);
  if (code == EXIT_DONE && !file.firmware.empty() && file.firmware != unit.firmware)
    note("the file was taken from firmware " + file.firmware + "; the unit runs " +
         (unit.firmware.empty() ? "invalid firmware" : unit.firmware));
  if (code == EXIT_DONE) code = change_settings(file.values);
  return program_end(code);
}
