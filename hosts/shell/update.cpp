// `vexa update`: the dialog's "Update firmware" button pressed for a unit in update mode, the upload
// followed in the status line and the progress bar, its outcome taken from them and from the program's
// message boxes.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "firmware/firmware.h"
#include "hosts/headless/headless.h"
#include "hosts/shell/commands.h"
#include "hosts/shell/image.h"
#include "hosts/shell/printable.h"
#include "hosts/shell/session.h"
#include "platform/win32/user32_ext.h"
#include "protocol/protocol.h"
#include "resource.h"

namespace {

// The upload ends by itself (its waits are bounded); the shell looks again at least this often.
constexpr int LOOK_MS = 1000;
const char* const SUCCESS_TEXT = STATUS_TEXTS[STATUS_SUCCESS];
const char* const WRITING_TEXT = STATUS_TEXTS[STATUS_WRITING];
const char STAYS_TEXT[] = "the unit stays in update mode; vexa update again finishes the update";

struct Progress {
  std::string status;
  int position = -1;
  int step = 0;            // tens of percent already printed
  bool line_open = false;  // a terminal line being redrawn
};

// Every text of the status line, in order. The shell may look too late to see one (the last stays only
// for the dialog's two seconds before it returns to its unconnected state); the record keeps them all.
std::mutex statuses_lock;
std::vector<std::string> statuses;
std::atomic<int> statuses_set{0};

void record_status(HWND window, const char* text) {
  if (GetDlgCtrlID(window) != IDC_STATUS_TEXT) return;
  std::lock_guard<std::mutex> hold(statuses_lock);
  statuses.emplace_back(text);
  ++statuses_set;
}

std::vector<std::string> take_statuses() {
  std::lock_guard<std::mutex> hold(statuses_lock);
  std::vector<std::string> taken;
  taken.swap(statuses);
  return taken;
}

void end_line(Progress& progress) {
  if (progress.line_open) std::fputc('\n', streams().err);
  progress.line_open = false;
}

void report_status(Progress& progress, const std::string& status) {
  end_line(progress);
  progress.status = status;
  progress.step = 0;
  if (status != SUCCESS_TEXT && status.find_first_not_of(' ') != std::string::npos)
    std::fprintf(streams().err, "%s\n", status.c_str());
}

// While writing, the share done: one line per 10 % to a file or pipe, one redrawn line on a terminal.
void report_position(Progress& progress, int position) {
  std::FILE* err = streams().err;
  if (progress.status == WRITING_TEXT && position != progress.position) {
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

// The version that the unit reported when the upload asked it after the writing, as the device text shows
// a version.
std::string written_version() {
  const DeviceStatus status = read_device_status();
  return printable(std::string{static_cast<char>(status.major), '.', static_cast<char>(status.minor)});
}

// Follows the upload that the update button started: its statuses and progress as the dialog shows them,
// and its end: "Programming successful", or the program's boxes and the dialog closing after a failure.
int follow_upload() {
  Progress progress;
  int seen = 0;
  int failure = EXIT_DONE;
  std::string reason;
  for (;;) {
    headless_wait_until(
        [&] {
          return interrupted() || !headless_running() || !headless_boxes().empty() || statuses_set != seen ||
                 headless_position(IDC_PROGRESS) != progress.position;
        },
        LOOK_MS);
    if (interrupted()) {
      end_line(progress);
      note(std::string("interrupted during the update: ") + STAYS_TEXT);
      return interrupted_exit();
    }
    seen = statuses_set;
    for (const std::string& status : take_statuses()) {
      report_status(progress, status);
      if (status == SUCCESS_TEXT) {
        std::fprintf(streams().out, "%s: firmware %s written to %s\n", SUCCESS_TEXT,
                     written_version().c_str(), connected_port().c_str());
        return EXIT_DONE;
      }
      if (status.find_first_not_of(' ') != std::string::npos) reason = status;
    }
    if (!headless_running() && statuses_set == seen) break;
    report_position(progress, headless_position(IDC_PROGRESS));
    if (!headless_boxes().empty()) {
      end_line(progress);
      const int code = dismiss_boxes();
      if (failure == EXIT_DONE) failure = code;
    }
  }
  // A failed upload closes the dialog after its boxes.
  note("the update failed" + (reason.empty() ? "" : ": " + reason));
  if (failure == EXIT_UNIT_FAILED) note(STAYS_TEXT);
  return failure == EXIT_DONE ? EXIT_UNIT_FAILED : failure;
}

// Presses the update button and follows the upload to its end.
int upload() {
  ignore_broken_pipes();
  take_statuses();
  user32_set_text_hook(record_status);
  int code = perform({PersonInput::Click, IDC_UPDATE_BUTTON, 0, ""});
  if (code == EXIT_DONE) code = follow_upload();
  user32_set_text_hook(nullptr);
  return code;
}

}  // namespace

int command_update(const CommandLine& line) {
  HINSTANCE module = nullptr;
  if (!line.image.empty()) {
    std::string error;
    module = image_module(line.image, error);
    if (!module && interrupted()) return interrupted_early();
    if (!module) {
      note(line.image + ": " + error);
      return EXIT_USAGE;
    }
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
  if (code == EXIT_DONE) code = upload();
  return program_end(code);
}
