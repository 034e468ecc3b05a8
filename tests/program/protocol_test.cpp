// The reply decoder and the receiver's two buffers, through the WINMM layer and the simulated unit. The
// bytes of every outgoing message are checked where the program sends them.
#include <algorithm>
#include <thread>

#include "program_support.h"

namespace {

class DecoderTest : public ProgramTest {
 protected:
  void SetUp() override { start_connected(); }
  void reply(std::initializer_list<int> bytes) {
    sim_inject(0, bytes_of(bytes));
    settle();
  }
  void disable(int id) { EnableWindow(GetDlgItem(headless_dialog(), id), FALSE); }
};

TEST_F(DecoderTest, IdAndBrightnessReplies) {
  reply({0xF0, 0x2C, 0x4D, 0x63, 0x07, 0xF7});
  EXPECT_EQ(mmc_id.load(), 7);
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "007");
  EXPECT_EQ(headless_position(IDC_MMC_ID_SPIN), 7);
  disable(IDC_MMC_ID_EDIT);
  disable(IDC_MMC_ID_SPIN);
  reply({0xF0, 0x2C, 0x4D, 0x63, 0x7F, 0xF7});  // above 126: only the enabling
  EXPECT_EQ(mmc_id.load(), 7);
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "007");
  EXPECT_TRUE(headless_enabled(IDC_MMC_ID_EDIT));
  EXPECT_TRUE(headless_enabled(IDC_MMC_ID_SPIN));
  EXPECT_EQ(last_reply.load(), 0x63);
  reply({0xF0, 0x2C, 0x4D, 0x63, 0x7E, 0xF7});
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "126");

  uint8_t sent = brightness_sent;
  disable(IDC_BRIGHTNESS);
  SendDlgItemMessageA(headless_dialog(), IDC_BRIGHTNESS, TBM_SETRANGE, FALSE, MAKELPARAM(0, 100));
  reply({0xF0, 0x2C, 0x4D, 0x66, 0x09, 0xF7});
  EXPECT_EQ(headless_range_min(IDC_BRIGHTNESS), 0);
  EXPECT_EQ(headless_range_max(IDC_BRIGHTNESS), 15);
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), 9);
  EXPECT_TRUE(headless_enabled(IDC_BRIGHTNESS));
  EXPECT_NE(sent, 9);
}

TEST_F(DecoderTest, StatusRepliesAndCodesWithoutARow) {
  reply({0xF0, 0x2C, 0x4D, 0x20, 0x7F, 0x7F, 0xF7});
  DeviceStatus status = read_device_status();
  EXPECT_EQ(status.mode, UpdateMode);
  EXPECT_EQ(status.major, 0x7F);
  EXPECT_EQ(status.minor, 0x7F);
  reply({0xF0, 0x2C, 0x4D, 0x21, 0x33, 0x32, 0xF7});
  status = read_device_status();
  EXPECT_EQ(status.mode, Running);
  EXPECT_EQ(status.minor, 0x32);

  std::string device_text = headless_text(IDC_DEVICE_TEXT);
  for (std::initializer_list<int> message : {std::initializer_list<int>{0xF0, 0x2C, 0x4D, 0x40, 0xF7},
                                             {0xF0, 0x2C, 0x4D, 0x64, 0x05, 0xF7},
                                             {0xF0, 0x2C, 0x4D, 0x67, 0x01, 0xF7},
                                             {0xF0, 0x2C, 0x4D, 0xF7}}) {
    reply(message);
    EXPECT_EQ(last_reply.load(), *(message.begin() + 3));
  }
  EXPECT_EQ(read_device_status().mode, Running);
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), device_text);

  // Messages of another maker or model change nothing at all, not even the last reply.
  reply({0xF0, 0x2D, 0x4D, 0x62, 0x01, 0xF7});
  reply({0xF0, 0x2C, 0x4E, 0x21, 0x7F, 0x7F, 0xF7});
  EXPECT_EQ(last_reply.load(), 0xF7);
  EXPECT_EQ(read_device_status().minor, 0x32);
  // A status reply shorter than its layout takes its version from what the buffer holds; it is still
  // a status reply.
  reply({0xF0, 0x2C, 0x4D, 0x1F, 0xF7});
  EXPECT_EQ(read_device_status().mode, UpdateMode);
}

class ReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winmm_use_backend(sim_start());
    init_port_lock();
    ASSERT_EQ(open_midi_out(0), OPEN_OUT_OK);
    ASSERT_EQ(open_midi_in(0), OPEN_IN_OK);
  }
  void TearDown() override {
    close_midi_in();
    close_midi_out();
  }
  void arrive(const Bytes& bytes) {
    sim_inject(0, bytes);
    sim_flush();
  }
  static Bytes buffer_start(const uint8_t* buffer, size_t length) { return Bytes(buffer, buffer + length); }
};

TEST_F(ReceiverTest, TheTwoBuffersTakeTurns) {
  const Bytes first = {0xF0, 0x2C, 0x4D, 0x21, 0x03, 0x01, 0xF7};
  const Bytes second = {0xF0, 0x2C, 0x4D, 0x40, 0xF7};
  const Bytes third = {0xF0, 0x2C, 0x4D, 0x4E, 0xF7};
  arrive(first);
  EXPECT_EQ(buffer_start(rx_buffer_1, first.size()), first);
  EXPECT_EQ(last_reply.load(), 0x21);
  EXPECT_EQ(read_device_status().major, 0x03);
  EXPECT_TRUE(rx_header_2.dwFlags & MHDR_INQUEUE);
  arrive(second);
  EXPECT_EQ(buffer_start(rx_buffer_2, second.size()), second);
  EXPECT_EQ(buffer_start(rx_buffer_1, first.size()), first);  // kept out of the platform's hands
  EXPECT_EQ(last_reply.load(), 0x40);
  arrive(third);
  EXPECT_EQ(buffer_start(rx_buffer_1, third.size()), third);
  EXPECT_EQ(last_reply.load(), 0x4E);

  // Two replies in quick succession are both decoded, in turn.
  Bytes both = {0xF0, 0x2C, 0x4D, 0x22, 0xF7, 0xF0, 0x2C, 0x4D, 0x60, 0xF7};
  arrive(both);
  EXPECT_EQ(buffer_start(rx_buffer_2, 5), Bytes(both.begin(), both.begin() + 5));
  EXPECT_EQ(buffer_start(rx_buffer_1, 5), Bytes(both.begin() + 5, both.end()));
  EXPECT_EQ(last_reply.load(), 0x60);
}

TEST_F(ReceiverTest, IncompleteBrokenAndShortMessagesAreNotDecoded) {
  arrive({0xF0, 0x2C, 0x4D, 0x40, 0xF7});
  ASSERT_EQ(last_reply.load(), 0x40);
  // Longer than a buffer: 512 bytes without the F7, then a remainder that does not begin with F0.
  Bytes long_reply = {0xF0, 0x2C, 0x4D, 0x21};
  long_reply.resize(599, 0x21);
  long_reply.push_back(0xF7);
  arrive(long_reply);
  EXPECT_EQ(last_reply.load(), 0x40);
  EXPECT_EQ(read_device_status().mode, Absent);
  // A SysEx broken by a note comes back as an error and is dropped; the buffers keep circulating.
  arrive({0xF0, 0x2C, 0x4D, 0x21, 0x33, 0x90, 0x40, 0x40});
  arrive({0xF1, 0x20, 0xF8, 0xF1, 0x31});
  EXPECT_EQ(last_reply.load(), 0x40);
  arrive({0xF0, 0x2C, 0x4D, 0x60, 0xF7});
  EXPECT_EQ(last_reply.load(), 0x60);
  arrive({0xF0, 0x2C, 0x4D, 0x22, 0xF7});
  EXPECT_EQ(last_reply.load(), 0x22);
}

TEST_F(ReceiverTest, AReaderNeverSeesTheModeOfOneStatusReplyWithTheVersionOfAnother) {
  const Bytes running = {0xF0, 0x2C, 0x4D, 0x21, 0x33, 0x31, 0xF7};
  const Bytes boot = {0xF0, 0x2C, 0x4D, 0x1F, 0x7F, 0x7E, 0xF7};
  Bytes alternating;
  for (int i = 0; i < 100; ++i) {
    alternating.insert(alternating.end(), running.begin(), running.end());
    alternating.insert(alternating.end(), boot.begin(), boot.end());
  }
  std::atomic<bool> done{false};
  std::atomic<int> mixed{0};
  std::atomic<int> reads{0};
  // More readers than cores: a reader that loses its core between two of its loads sees many replies
  // go by before it takes the next one.
  auto read = [&] {
    while (!done) {
      DeviceStatus status = read_device_status();
      bool whole = (status.mode == Absent && status.major == 0 && status.minor == 0) ||
                   (status.mode == Running && status.major == 0x33 && status.minor == 0x31) ||
                   (status.mode == UpdateMode && status.major == 0x7F && status.minor == 0x7E);
      mixed += !whole;
      ++reads;
    }
  };
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) readers.emplace_back(read);
  for (int i = 0; i < 1000; ++i) arrive(alternating);
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(mixed.load(), 0) << reads.load();
  EXPECT_EQ(read_device_status().mode, UpdateMode);
}

TEST_F(ReceiverTest, ClosingHandsBothBuffersBackAndLeavesNoneQueued) {
  arrive({0xF0, 0x2C, 0x4D, 0x40, 0xF7});
  close_midi_in();
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_FALSE(rx_header_1.dwFlags & (MHDR_INQUEUE | MHDR_PREPARED));
  EXPECT_FALSE(rx_header_2.dwFlags & (MHDR_INQUEUE | MHDR_PREPARED));
  // Opening the same input again prepares and queues both headers afresh.
  ASSERT_EQ(open_midi_in(0), OPEN_IN_OK);
  EXPECT_TRUE(rx_header_1.dwFlags & MHDR_INQUEUE);
  EXPECT_TRUE(rx_header_2.dwFlags & MHDR_INQUEUE);
  ASSERT_EQ(open_midi_in(0), OPEN_IN_OK);
  arrive({0xF0, 0x2C, 0x4D, 0x4E, 0xF7});
  EXPECT_EQ(last_reply.load(), 0x4E);
  EXPECT_EQ(rx_buffer_1[3], 0x4E);
}

}  // namespace
