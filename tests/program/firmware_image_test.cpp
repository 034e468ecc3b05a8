// The embedded firmware stand-in has the shape of the shipped image. That the simulated unit's boot loader
// accepts every packet (numbered in order, valid checksums) shows in the program's full upload.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "platform/win32/kernel32_ext.h"
#include "sim/unit/firmware_format.h"

namespace {

const BYTE* firmware(DWORD& size) {
  HRSRC found = FindResourceA(GetModuleHandleA(nullptr), "FirmwareFile", "BINTYPE");
  size = SizeofResource(GetModuleHandleA(nullptr), found);
  return static_cast<const BYTE*>(LockResource(LoadResource(GetModuleHandleA(nullptr), found)));
}

TEST(FirmwareStandIn, StandInHasTheShapeOfTheShippedImage) {
  DWORD size = 0;
  const BYTE* image = firmware(size);
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(size, 72761u);
  EXPECT_EQ(std::memcmp(image, "vexa ", 5), 0);
  EXPECT_EQ(std::memcmp(image + 5, "31-", 3), 0);
  const BYTE version[4] = {0x05, 0x00, 0x0B, 0x06};
  EXPECT_EQ(std::memcmp(image + 8, version, 4), 0);
  EXPECT_EQ(std::memcmp(image + 12, "-31.10.2021-", 12), 0);
  EXPECT_EQ(std::memcmp(image + 24, "(c)Quorvanex Klangtechnik Werke", 31), 0);
  EXPECT_EQ(image[55], 0x0D);
  EXPECT_EQ(image[72759], 0x0D);
  EXPECT_EQ(image[72760], 0xFF);
  EXPECT_EQ(std::memchr(image, 0xFF, 72760), nullptr);

  // Walk the lines: every one a packet F0 2C 4D 30 ... F7 and a CR, up to the terminator.
  std::map<size_t, int> lengths;
  size_t pos = 56;
  size_t count = 0;
  size_t first = 0;
  size_t last = 0;
  while (image[pos] != 0xFF) {
    SCOPED_TRACE(pos);
    ASSERT_EQ(std::memcmp(image + pos, FIRMWARE_PACKET_HEAD, 4), 0);
    const BYTE* end = static_cast<const BYTE*>(std::memchr(image + pos, 0xF7, size - pos));
    ASSERT_NE(end, nullptr);
    const size_t length = static_cast<size_t>(end - (image + pos)) + 1;
    for (size_t i = 4; i + 1 < length; ++i) ASSERT_LE(image[pos + i], 0x7F);
    ASSERT_EQ(image[pos + length], 0x0D);
    ++lengths[length];
    first = first ? first : length;
    last = length;
    ++count;
    pos += length + 1;
  }
  EXPECT_EQ(pos, 72760u);
  EXPECT_EQ(count, 2488u);
  EXPECT_EQ(first, 15u);
  EXPECT_EQ(last, 16u);
  EXPECT_EQ(lengths.begin()->first, 12u);
  EXPECT_EQ(lengths.rbegin()->first, 29u);
  EXPECT_EQ(lengths[29], 2311);
}

}  // namespace
