// `vexa update`: the dialog's "Update firmware" button pressed for a unit in update mode, the upload
// followed in the status line and the progress bar, its outcome taken from them and from the program's
// message boxes.
#include <cstdio>

#include "hosts/headless/headless.h"
#include "hosts/shell/commands.h"
#include "hosts/shell/image.h"
#include "hosts/shell/program_info.h"
#include "hosts/shell/session.h"
#include "resource.h"

namespace {

// The upload ends by itself (its waits are bounded); the shell looks again at least this often.
constexpr int LOOK_MS = 1000;
const char SUCCESS_TEXT[] = "Programming successful";
const char WRITING_TEXT[] = "Writing";
const char STAYS_TEXT[] = "the unit stays in update mode; vexa update again finishes the update";

struct Progress {
  std::string status;
  int position = -1;
  int step = 0;            // tens of percent already printed
  bool line_open = false;  // a terminal line being redrawn
};

void end_line(Progress& progress) {
  if (progress.line_open) std::fputc('\n', streams().err);
  progress.line_open = false;
}

// Prints each new status and, while writing, the share done: one line per 10 % to a file or pipe, one
// redrawn line on a terminal.
void report(Progress& progress, const std::string& status, int position) {
  std::FILE* err = streams().err;
  if (status != progress.status) {
    end_line(progress);
    progress.status = status;
    progress.step = 0;
    if (status != SUCCESS_TEXT && status.find_first_not_of(' ') != std::string::npos)
      std::fprintf(err, "%s\n", status.c_str());
  }
  if (status == WRITING_TEXT && position != progress.position) {
    if (streams().err_is_terminal) {
      std::fprintf(err, "\rWriting %3d %%", position);
      progress.line_open = true;
    } else {
      for (; progress.step < position / 10; ++progress.step)
        std::fprintf(err, "Writing %d %%\n", 10 * (progress.step + 1));
    }
  }
  progress.position = position;
  std::fflush(err);
}

// Presses the update button and follows the upload to its end.
int upload(const std::string& version) {
  Progress progress;
  if (int code = perform({PersonInput::Click, IDC_UPDATE_BUTTON, 0, ""}); code != EXIT_DONE) return code;
  int failure = EXIT_DONE;
  std::string reason;
  for (;;) {
    headless_wait_until(
        [&] {
          return interrupted() || !headless_running() || !headless_boxes().empty() ||
                 headless_text(IDC_STATUS_TEXT) != progress.status ||
                 headless_position(IDC_PROGRESS) != progress.position;
        },
        LOOK_MS);
    if (interrupted()) {
      end_line(progress);
      note(std::string("interrupted during the update: ") + STAYS_TEXT);
      return interrupted_exit();
    }
    if (!headless_running()) break;
    const std::string status = headless_text(IDC_STATUS_TEXT);
    report(progress, status, headless_position(IDC_PROGRESS));
    if (status == SUCCESS_TEXT) {
      end_line(progress);
      std::fprintf(streams().out, "%s: firmware %s written to %s\n", SUCCESS_TEXT, version.c_str(),
                   connected_port().c_str());
      return EXIT_DONE;
    }
    if (!headless_boxes().empty()) {
      end_line(progress);
      if (reason.empty()) reason = status;
      const int code = dismiss_boxes();
      if (failure == EXIT_DONE) failure = code;
    }
  }
  // A failed upload closes the dialog after its boxes.
  note("the update failed" + (reason.find_first_not_of(' ') == std::string::npos ? "" : ": " + reason));
  if (failure == EXIT_UNIT_FAILED) note(STAYS_TEXT);
  return failure == EXIT_DONE ? EXIT_UNIT_FAILED : failure;
}

}  // namespace

int command_update(const CommandLine& line) {
  HINSTANCE module = nullptr;
  std::string version = firmware_image_version();
  if (!line.image.empty()) {
    std::string error;
    module = image_module(line.image, error);
    if (!module) {
      note(line.image + ": " + error);
      return EXIT_USAGE;
    }
    version = firmware_image_version(module);
  }
  ShownUnit unit;
  int code = program_start(module);
  if (code == EXIT_DONE) code = connect_unit(line.port, {}, unit);
  if (code == EXIT_DONE && unit.state == UnitState::Running) {
    note("the unit on \"" + connected_port() + "\" runs its firmware " +
         (unit.firmware.empty() ? "(invalid)" : unit.firmware) +
         ": to update it, hold down both of its keys while plugging it in, then run vexa update again");
    code = EXIT_WRONG_MODE;
  }
  if (code == EXIT_DONE) code = upload(version);
  return program_end(code);
}
