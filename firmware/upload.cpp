// The firmware upload: the update button, the worker thread and the upload procedure.
#include <windows.h>

#include <commctrl.h>
#include <mmsystem.h>

#include "app/app.h"
#include "firmware/firmware.h"
#include "midi/midi.h"
#include "protocol/protocol.h"
#include "resource.h"

uint8_t nak_count = 0;
uint8_t timeout_count = 0;
std::atomic<uint8_t> upload_stop{0};
bool upload_running = false;
bool close_pending = false;

namespace {

// Status and finish answers: 9 looks 50 ms apart.
constexpr int ANSWER_LOOKS = 9;
constexpr DWORD ANSWER_PAUSE_MS = 50;
// Erase: progress rises by 5 from 10 every 200 ms. An erase unanswered for 60 s (a unit that was
// unplugged or hangs) ends the upload instead of leaving the dialog locked for ever.
constexpr DWORD ERASE_PAUSE_MS = 200;
constexpr uint16_t ERASE_PROGRESS_START = 10;
constexpr uint16_t ERASE_PROGRESS_STEP = 5;
constexpr int ERASE_MAX_PAUSES = 60000 / ERASE_PAUSE_MS;
// Data packets: 501 looks 1 ms apart; the third NAK or time-out since the last ACK ends the upload.
constexpr int PACKET_LOOKS = 501;
constexpr DWORD PACKET_PAUSE_MS = 1;
constexpr uint8_t RETRY_LIMIT = 2;
// Without a finer timer a 1 ms pause lasts a whole 15.6 ms scheduler tick on Windows.
constexpr UINT TIMER_RESOLUTION_MS = 1;

void post_command(WORD command, LPARAM value) { PostMessageA(main_dialog, WM_COMMAND, command, value); }

void post_status(UploadStatus status) { post_command(CMD_UPLOAD_STATUS, status); }

void post_progress(uint16_t position) { post_command(CMD_UPLOAD_PROGRESS, position); }

// The reply byte is cleared before the send, never after: an answer that comes while send_sysex
// is still busy must not be lost.
void send_and_clear(const uint8_t* bytes, int32_t length) {
  last_reply = 0;
  send_sysex(bytes, length);
}

void send_and_clear(MessageId id) { send_and_clear(MessageTable[id].bytes, MessageTable[id].length); }

bool stopped() { return upload_stop.load() != 0; }

// Looks at most ANSWER_LOOKS times for `wanted`; returns the code seen that ended the wait (the
// wanted one, or REPLY_RUNNING when `running_ends` is set), 0 when the looks ran out.
uint8_t wait_for_answer(bool (*wanted)(uint8_t), bool running_ends) {
  for (int look = 0; look < ANSWER_LOOKS; ++look) {
    uint8_t reply = last_reply;
    if (wanted(reply) || (running_ends && reply == REPLY_RUNNING)) return reply;
    if (stopped()) return 0;
    Sleep(ANSWER_PAUSE_MS);
  }
  return 0;
}

UploadResult corrupt_image() {
  show_message(DATA_FILE_CORRUPTED_TEXT, "Error");
  PostMessageA(main_dialog, WM_CLOSE, 0, 0);
  return UPLOAD_CORRUPT_IMAGE;
}

// Finds the image's length, bounded by the embedded data: an image without a terminator, or no
// image at all, is treated as damaged.
bool locate_image() {
  if (firmware_image == nullptr) return false;
  int32_t length = image_length(firmware_image, firmware_size);
  if (length == NO_TERMINATOR) return false;
  image_start = firmware_image;
  image_end = image_start + length;
  image_pos = image_start;
  return true;
}

// Sends the packets one by one; returns UPLOAD_OK when the image is written, otherwise the upload's
// result.
UploadResult write_packets() {
  const int32_t image_length = static_cast<int32_t>(image_end - image_start);
  for (;;) {
    while (image_pos < image_end && *image_pos != SYSEX_START) ++image_pos;
    if (image_pos >= image_end) return UPLOAD_OK;
    const uint8_t* last = image_pos + 1;
    while (last < image_end && *last != SYSEX_END) ++last;
    if (last >= image_end) return UPLOAD_OK;
    int32_t length = static_cast<int32_t>(last - image_pos) + 1;

    if (stopped()) return UPLOAD_CANCELLED;
    send_and_clear(image_pos, length);
    uint8_t answer = 0;
    bool timed_out = true;
    for (int look = 0; look < PACKET_LOOKS; ++look) {
      answer = last_reply;
      if (answer != 0) {
        timed_out = false;
        break;
      }
      Sleep(PACKET_PAUSE_MS);
    }
    if (timed_out) {
      if (++timeout_count > RETRY_LIMIT) {
        post_status(STATUS_TIMEOUT);
        return UPLOAD_TIMEOUT;
      }
      answer = last_reply;
    }
    if (answer == REPLY_ACK) {
      image_pos = last + 1;
      nak_count = 0;
      timeout_count = 0;
    } else if (answer == REPLY_NAK) {
      if (++nak_count > RETRY_LIMIT) {
        post_status(STATUS_CHECKSUM);
        return UPLOAD_CHECKSUM;
      }
    }
    int32_t done = static_cast<int32_t>(image_pos - image_start) * 100 / image_length;
    post_progress(static_cast<uint16_t>(done));
  }
}

}  // namespace

void on_update_button() {
  SendDlgItemMessageA(main_dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
  if (midi_in_port.load() == nullptr || midi_out_port.load() == nullptr) {
    show_message(NOT_CONNECTED_TEXT, "Warning");
    return;
  }
  stop_presence_timer();
  enable_control(IDC_PORT_COMBO, FALSE);
  enable_control(IDC_UPDATE_BUTTON, FALSE);
  upload_running = true;
  upload_stop = 0;
  HANDLE worker = CreateThread(nullptr, 0, upload_thread, nullptr, 0, nullptr);
  if (worker == nullptr) {
    post_command(CMD_UPLOAD_DONE, 0);
    return;
  }
  CloseHandle(worker);
}

DWORD WINAPI upload_thread(LPVOID) {
  timeBeginPeriod(TIMER_RESOLUTION_MS);
  UploadResult result = run_upload();
  timeEndPeriod(TIMER_RESOLUTION_MS);
  // A dialog that is being closed gets no further box: it closes when CMD_UPLOAD_DONE arrives.
  if (result != UPLOAD_OK && result != UPLOAD_CANCELLED) {
    show_message(PROGRAMMING_FAILED_TEXT, "Warning");
    PostMessageA(main_dialog, WM_CLOSE, 0, 0);
  }
  post_command(CMD_UPLOAD_DONE, 0);
  return 0;
}

UploadResult run_upload() {
  nak_count = 0;
  timeout_count = 0;
  post_status(STATUS_PREPARING);
  if (!locate_image() || check_image_header() != 0) return corrupt_image();

  send_and_clear(MSG_STATUS_QUERY);
  uint8_t mode = wait_for_answer(is_boot_reply, true);
  if (stopped()) return UPLOAD_CANCELLED;
  if (mode == REPLY_RUNNING) {
    show_message(NOT_IN_UPDATE_MODE_TEXT, "Error");
    return UPLOAD_NOT_IN_UPDATE_MODE;
  }
  if (mode == 0) {
    post_status(STATUS_TIMEOUT);
    return UPLOAD_TIMEOUT;
  }

  post_status(STATUS_ERASING);
  send_and_clear(MSG_ERASE);
  uint16_t progress = ERASE_PROGRESS_START;
  for (int pauses = 0; last_reply != REPLY_ERASED; ++pauses) {
    if (stopped()) return UPLOAD_CANCELLED;
    if (pauses == ERASE_MAX_PAUSES) {
      post_status(STATUS_TIMEOUT);
      return UPLOAD_TIMEOUT;
    }
    post_progress(progress);
    progress = static_cast<uint16_t>(progress + ERASE_PROGRESS_STEP);
    Sleep(ERASE_PAUSE_MS);
  }

  post_status(STATUS_WRITING);
  UploadResult written = write_packets();
  if (written != UPLOAD_OK) return written;

  send_and_clear(MSG_STATUS_QUERY);
  if (wait_for_answer(is_boot_reply, false) == 0) {
    if (stopped()) return UPLOAD_CANCELLED;
    post_status(STATUS_TIMEOUT);
    return UPLOAD_TIMEOUT;
  }
  DeviceStatus status = read_device_status();
  if (status.major == VERSION_INVALID && status.minor == VERSION_INVALID) {
    post_status(STATUS_INVALID_FIRMWARE);
    return UPLOAD_INVALID_FIRMWARE;
  }

  send_and_clear(MSG_FINISH);
  if (wait_for_answer([](uint8_t code) { return code == REPLY_FINISHED; }, false) == 0) {
    if (stopped()) return UPLOAD_CANCELLED;
    post_status(STATUS_TIMEOUT);
    return UPLOAD_FINISH_TIMEOUT;
  }
  post_status(STATUS_SUCCESS);
  return UPLOAD_OK;
}
