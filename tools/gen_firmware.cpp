// Writes the stand-in firmware image res/firmware.bin: the header line of version 3.1, then 2488 data
// packets of 12 to 29 bytes, each on a line of its own, then the terminator. The packet lengths follow the
// shape of the shipped image: the first packet 15 bytes, the last 16, 2311 full packets of 29 bytes and
// 175 shorter ones at segment ends. The payload is a fixed pseudo-random sequence of 7-bit bytes.
#include <cstdio>
#include <cstring>
#include <vector>

#include "sim/unit/firmware_format.h"

namespace {

constexpr size_t FULL_PACKET = 29;
constexpr size_t FULL_PACKETS = 2311;
constexpr size_t FIRST_PACKET = 15;
constexpr size_t LAST_PACKET = 16;
constexpr size_t SHORT_MIN = 12;
constexpr size_t SHORT_MAX = 28;

uint32_t random_state = 0x2C4D3031;

uint32_t next_random() {
  random_state = random_state * 1664525u + 1013904223u;
  return random_state >> 8;
}

// Lengths of all packets in image order.
std::vector<size_t> packet_lengths() {
  const size_t line_bytes = FIRMWARE_IMAGE_SIZE - 1 - (FIRMWARE_HEADER_SIZE + 1);
  const size_t packet_bytes = line_bytes - FIRMWARE_PACKET_COUNT;
  const size_t short_count = FIRMWARE_PACKET_COUNT - FULL_PACKETS - 2;
  const size_t short_bytes = packet_bytes - FULL_PACKETS * FULL_PACKET - FIRST_PACKET - LAST_PACKET;

  std::vector<size_t> shorts(short_count);
  size_t sum = 0;
  for (size_t i = 0; i < short_count; ++i) {
    shorts[i] = i == 0 ? SHORT_MIN : SHORT_MIN + next_random() % (SHORT_MAX - SHORT_MIN + 1);
    sum += shorts[i];
  }
  // Bring the sum to the exact total, one byte at a time, spread over the packets (the first stays 12).
  for (size_t i = 1; sum != short_bytes; i = i % (short_count - 1) + 1) {
    if (sum < short_bytes && shorts[i] < SHORT_MAX) {
      ++shorts[i];
      ++sum;
    } else if (sum > short_bytes && shorts[i] > SHORT_MIN + 1) {
      --shorts[i];
      --sum;
    }
  }

  std::vector<size_t> lengths(FIRMWARE_PACKET_COUNT, FULL_PACKET);
  lengths.front() = FIRST_PACKET;
  lengths.back() = LAST_PACKET;
  const size_t inner = FIRMWARE_PACKET_COUNT - 2;
  for (size_t i = 0; i < short_count; ++i) lengths[1 + (i * inner + inner / 2) / short_count] = shorts[i];
  return lengths;
}

void append_text(std::vector<uint8_t>& image, const char* text) {
  image.insert(image.end(), text, text + std::strlen(text));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s firmware.bin\n", argv[0]);
    return 2;
  }
  std::vector<uint8_t> image;
  append_text(image, "vexa 31-");
  image.insert(image.end(), {0x05, 0x00, 0x0B, 0x06});
  append_text(image, "-31.10.2021-");
  append_text(image, "(c)Quorvanex Klangtechnik Werke");
  image.push_back(FIRMWARE_LINE_END);

  const std::vector<size_t> lengths = packet_lengths();
  for (size_t number = 0; number < lengths.size(); ++number) {
    const size_t n = lengths[number] - FIRMWARE_PACKET_OVERHEAD;
    uint8_t data[FIRMWARE_MAX_DATA_BYTES];
    firmware_put_packet_number(data, static_cast<uint32_t>(number));
    for (size_t i = 3; i + 1 < n; ++i) data[i] = static_cast<uint8_t>(next_random() & 0x7F);
    data[n - 1] = firmware_checksum(data, n - 1);
    image.insert(image.end(), FIRMWARE_PACKET_HEAD, FIRMWARE_PACKET_HEAD + 4);
    image.insert(image.end(), data, data + n);
    image.push_back(FIRMWARE_PACKET_END);
    image.push_back(FIRMWARE_LINE_END);
  }
  image.push_back(FIRMWARE_TERMINATOR);

  if (image.size() != FIRMWARE_IMAGE_SIZE) {
    std::fprintf(stderr, "image has %zu bytes instead of %zu\n", image.size(), FIRMWARE_IMAGE_SIZE);
    return 1;
  }
  FILE* file = std::fopen(argv[1], "wb");
  if (!file || std::fwrite(image.data(), 1, image.size(), file) != image.size() || std::fclose(file) != 0) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
