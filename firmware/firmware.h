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

extern const char PRODUCT_TAG[6];
extern const char VENDOR_SIGNATURE[32];
constexpr uint8_t TERMINATOR = 0xFF;
constexpr int32_t HEADER_LENGTH = 55;

extern const uint8_t* image_start;
extern const uint8_t* image_end;
extern const uint8_t* image_pos;
extern uint8_t nak_count;
extern uint8_t timeout_count;

// Bytes before the first TERMINATOR within the first `limit` bytes, or -1 when there is none.
int32_t image_length(const uint8_t* image, uint32_t limit);
int32_t check_image_header();

// Results of run_upload besides those of its results table: the dialog was closed meanwhile.
constexpr int32_t UPLOAD_CANCELLED = -1;
// Set by the dialog when it closes during an upload: the worker stops at its next look.
extern std::atomic<uint8_t> upload_stop;
// Dialog thread only: an upload runs between the button and CMD_UPLOAD_DONE.
extern bool upload_running;
extern bool close_pending;

void on_update_button();
DWORD WINAPI upload_thread(LPVOID parameter);
int32_t run_upload();

void on_upload_status(LPARAM status);
void on_upload_progress(LPARAM position);
void on_upload_done();
void close_dialog();
