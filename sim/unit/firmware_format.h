// The vexa firmware image as the unit's boot loader sees it: framing of the data packets and the meaning
// of their data bytes. Shared by the generator of the stand-in image (tools/gen_firmware.cpp) and the
// simulated unit, which checks every packet it is sent.
//
// Image: a 55-byte header line ended by CR, then one data packet per line (packet + CR), then 0xFF.
// Packet: F0 2C 4D 30 d[0] .. d[n-1] F7, with n = packet length - 5 data bytes, each 0x00..0x7F.
//   d[0..2]   packet number, counted from 0 for the first packet of the image, as three 7-bit bytes,
//             most significant first
//   d[3..n-2] payload, written to the unit's program memory as it comes
//   d[n-1]    checksum: the sum of d[0..n-2], low 7 bits
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint8_t FIRMWARE_PACKET_START = 0xF0;
constexpr uint8_t FIRMWARE_PACKET_END = 0xF7;
constexpr uint8_t FIRMWARE_TERMINATOR = 0xFF;
constexpr uint8_t FIRMWARE_LINE_END = 0x0D;
// F0 2C 4D 30: start of System Exclusive, the unit's two id bytes, the data packet command.
constexpr uint8_t FIRMWARE_PACKET_HEAD[4] = {0xF0, 0x2C, 0x4D, 0x30};
constexpr size_t FIRMWARE_PACKET_OVERHEAD = 5;  // the four head bytes and the closing F7
constexpr size_t FIRMWARE_HEADER_SIZE = 55;     // header line without its CR

// Data byte counts the boot loader accepts: packet number, at least one payload byte, checksum.
constexpr size_t FIRMWARE_MIN_DATA_BYTES = 5;
constexpr size_t FIRMWARE_MAX_DATA_BYTES = 24;

// Shape of the stand-in image built into the program (the same as the shipped one).
constexpr size_t FIRMWARE_IMAGE_SIZE = 72761;  // with the terminator
constexpr size_t FIRMWARE_PACKET_COUNT = 2488;

// Checksum over the first count data bytes.
inline uint8_t firmware_checksum(const uint8_t* data, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += data[i];
  return static_cast<uint8_t>(sum & 0x7F);
}

// Packet number carried in the first three data bytes.
inline uint32_t firmware_packet_number(const uint8_t* data) {
  return (static_cast<uint32_t>(data[0] & 0x7F) << 14) | (static_cast<uint32_t>(data[1] & 0x7F) << 7) |
         static_cast<uint32_t>(data[2] & 0x7F);
}

// Writes a packet number into the first three data bytes.
inline void firmware_put_packet_number(uint8_t* data, uint32_t number) {
  data[0] = static_cast<uint8_t>((number >> 14) & 0x7F);
  data[1] = static_cast<uint8_t>((number >> 7) & 0x7F);
  data[2] = static_cast<uint8_t>(number & 0x7F);
}

// True when the n data bytes of a packet are 7-bit, long enough and end with the right checksum.
inline bool firmware_data_valid(const uint8_t* data, size_t n) {
  if (n < FIRMWARE_MIN_DATA_BYTES || n > FIRMWARE_MAX_DATA_BYTES) return false;
  for (size_t i = 0; i < n; ++i)
    if (data[i] > 0x7F) return false;
  return firmware_checksum(data, n - 1) == data[n - 1];
}
