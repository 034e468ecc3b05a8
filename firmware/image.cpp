// The embedded firmware image: header line, one data packet per line, a 0xFF terminator.
#include <windows.h>

#include "firmware/firmware.h"

const char PRODUCT_TAG[6] = "vexa ";
const char VENDOR_SIGNATURE[32] = "(c)Quorvanex Klangtechnik Werke";

const uint8_t* image_start = nullptr;
const uint8_t* image_end = nullptr;
const uint8_t* image_pos = nullptr;

namespace {

constexpr int32_t PRODUCT_TAG_LENGTH = 5;
constexpr int32_t SIGNATURE_OFFSET = 24;
constexpr int32_t SIGNATURE_LENGTH = 31;

// Compares the bytes at image_pos with the constant, moving past each byte that matches.
bool matches_at_pos(const char* expected, int32_t length) {
  for (int32_t i = 0; i < length; ++i) {
    if (*image_pos != static_cast<uint8_t>(expected[i])) return false;
    ++image_pos;
  }
  return true;
}

}  // namespace

int32_t image_length(const uint8_t* image, uint32_t limit) {
  for (uint32_t count = 0; count < limit; ++count) {
    if (image[count] == TERMINATOR) return static_cast<int32_t>(count);
  }
  return NO_TERMINATOR;
}

int32_t check_image_header() {
  if (!matches_at_pos(PRODUCT_TAG, PRODUCT_TAG_LENGTH)) return HEADER_MISMATCH;
  // The text field, the four version bytes and the date are not examined. No byte of either
  // constant is 0xFF, so a terminator inside a compared field stops the comparison there; one in
  // the skipped bytes must not be jumped over into whatever lies behind the image.
  if (image_end - image_start < HEADER_LENGTH) return HEADER_MISMATCH;
  image_pos = image_start + SIGNATURE_OFFSET;
  if (!matches_at_pos(VENDOR_SIGNATURE, SIGNATURE_LENGTH)) return HEADER_MISMATCH;
  return 0;
}
