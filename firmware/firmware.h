// Firmware update: the embedded image, the upload worker and the display of its status.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

// Private commands posted by the upload worker as WM_COMMAND (wParam id, lParam value).
constexpr WORD CMD_UPLOAD_DONE = 1096;
constexpr WORD CMD_UPLOAD_STATUS = 1097;
constexpr WORD CMD_UPLOAD_PROGRESS = 1098;

// winnt.h defines STATUS_TIMEOUT as a system status code; this program's upload code of that name
// takes its place.
#undef STATUS_TIMEOUT

enum UploadStatus : uint32_t {
  STATUS_PREPARING = 1,
  STATUS_ERASING = 2,
  STATUS_WRITING = 3,
  STATUS_SUCCESS = 4,
  STATUS_BLANK = 5,
  STATUS_TIMEOUT = 6,
  STATUS_CHECKSUM = 7,
  STATUS_INVALID_FIRMWARE = 9,
  STATUS_DATA_CORRUPT = 10,
};

// The upload's message box texts, by which the shell commands tell its outcomes apart.
inline constexpr char DATA_FILE_CORRUPTED_TEXT[] = "Data file corrupted";
inline constexpr char DATA_CORRUPT_TEXT[] = "Data corrupt";
inline constexpr char NOT_CONNECTED_TEXT[] = "vexa not connected";
inline constexpr char NOT_IN_UPDATE_MODE_TEXT[] = "vexa not in update mode";
inline constexpr char PROGRAMMING_FAILED_TEXT[] = "Programming failed";
// The status line's text by UploadStatus code; null where the code changes nothing.
extern const char* const STATUS_TEXTS[10];

extern const char PRODUCT_TAG[6];
extern const char VENDOR_SIGNATURE[32];
constexpr uint8_t TERMINATOR = 0xFF;
constexpr int32_t HEADER_LENGTH = 55;

extern const uint8_t* image_start;
extern const uint8_t* image_end;
extern const uint8_t* image_pos;
extern uint8_t nak_count;
extern uint8_t timeout_count;

// image_length: no TERMINATOR within the limit.
constexpr int32_t NO_TERMINATOR = -1;
// check_image_header: the product tag or the maker's signature differs, or the image ends inside its
// header.
constexpr int32_t HEADER_MISMATCH = 1;

// Bytes before the first TERMINATOR within the first `limit` bytes, or NO_TERMINATOR.
int32_t image_length(const uint8_t* image, uint32_t limit);
// 0 when the header is valid, leaving image_pos at HEADER_LENGTH; otherwise HEADER_MISMATCH.
int32_t check_image_header();

// Results of run_upload. upload_thread tells success and UPLOAD_CANCELLED from the rest, which all end
// with "Programming failed". Two values stand for two endings each; the status posted before tells them
// apart on the dialog.
enum UploadResult : int32_t {
  // Written, verified and finished: "Programming successful".
  UPLOAD_OK = 0,
  // The unit stopped answering: the status query before the erase or after the writing, the erase (for
  // a minute), or one packet three times since the last ACK. Status STATUS_TIMEOUT.
  UPLOAD_TIMEOUT = 1,
  // The embedded image is missing, has no terminator or a wrong header ("Data file corrupted", nothing
  // sent and no status posted); or the finish message went unanswered (status STATUS_TIMEOUT).
  UPLOAD_CORRUPT_IMAGE = 2,
  UPLOAD_FINISH_TIMEOUT = 2,
  // The unit refused one packet three times since the last ACK (status STATUS_CHECKSUM), or reported no
  // valid firmware after the writing (status STATUS_INVALID_FIRMWARE; no finish sent).
  UPLOAD_CHECKSUM = 4,
  UPLOAD_INVALID_FIRMWARE = 4,
  // The unit runs its firmware, not its boot loader: "vexa not in update mode", no status posted.
  UPLOAD_NOT_IN_UPDATE_MODE = 5,
  // The dialog was closed during the upload: the worker stopped at its next look.
  UPLOAD_CANCELLED = -1,
};

// Set by the dialog when it closes during an upload: the worker stops at its next look.
extern std::atomic<uint8_t> upload_stop;
// Dialog thread only: an upload runs between the button and CMD_UPLOAD_DONE.
extern bool upload_running;
extern bool close_pending;

void on_update_button();
DWORD WINAPI upload_thread(LPVOID parameter);
UploadResult run_upload();

// The status line's text for an UploadStatus code; null where the code changes nothing.
const char* upload_status_text(uint32_t status);
void on_upload_status(LPARAM status);
void on_upload_progress(LPARAM position);
void on_upload_done();
