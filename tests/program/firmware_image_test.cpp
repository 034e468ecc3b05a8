// The embedded firmware stand-in is an image that the upload can take apart and the unit's boot loader
// takes whole: the header that check_image_header compares, then one packet a line, each framed, 7-bit,
// numbered in order and summed right, and the terminator right after the last line as the image's last and
// only 0xFF byte. How many packets the generator writes, and how long, is its own business.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/kernel32_ext.h"
#include "sim/unit/firmware_format.h"

namespace {

const BYTE* firmware(DWORD& size) {
  HRSRC found = FindResourceA(GetModuleHandleA(nullptr), "FirmwareFile", "BINTYPE");
  size = SizeofResource(GetModuleHandleA(nullptr), found);
  return static_cast<const BYTE*>(LockResource(LoadResource(GetModuleHandleA(nullptr), found)));
}

TEST(FirmwareStandIn, EveryLineUpToTheTerminatorIsAPacketTheBootLoaderTakes) {
  DWORD size = 0;
  const BYTE* image = firmware(size);
  ASSERT_NE(image, nullptr);
  ASSERT_GT(size, FIRMWARE_HEADER_SIZE + 1);
  EXPECT_EQ(std::memcmp(image, "vexa ", 5), 0);
  EXPECT_EQ(std::memcmp(image + 24, "(c)Quorvanex Klangtechnik Werke", 31), 0);
  EXPECT_EQ(image[FIRMWARE_HEADER_SIZE], FIRMWARE_LINE_END);
  EXPECT_EQ(image[size - 1], FIRMWARE_TERMINATOR);
  EXPECT_EQ(std::memchr(image, FIRMWARE_TERMINATOR, size - 1), nullptr);

  size_t pos = FIRMWARE_HEADER_SIZE + 1;
  uint32_t packets = 0;
  while (pos < size - 1) {
    SCOPED_TRACE(pos);
    ASSERT_EQ(std::memcmp(image + pos, FIRMWARE_PACKET_HEAD, sizeof FIRMWARE_PACKET_HEAD), 0);
    const BYTE* end = static_cast<const BYTE*>(std::memchr(image + pos, FIRMWARE_PACKET_END, size - pos));
    ASSERT_NE(end, nullptr);
    const size_t length = static_cast<size_t>(end - (image + pos)) + 1;
    const uint8_t* data = image + pos + sizeof FIRMWARE_PACKET_HEAD;
    ASSERT_TRUE(firmware_data_valid(data, length - FIRMWARE_PACKET_OVERHEAD));
    EXPECT_EQ(firmware_packet_number(data), packets);
    ASSERT_EQ(image[pos + length], FIRMWARE_LINE_END);
    ++packets;
    pos += length + 1;
  }
  EXPECT_EQ(pos, size - 1);  // the terminator follows the last line's CR
  EXPECT_GT(packets, 0u);
}

}  // namespace
