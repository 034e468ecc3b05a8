// The firmware upload end to end: the update button, the worker, the simulated unit in update mode, and
// what the dialog shows.
#include <cstring>
#include <mutex>

#include "program_support.h"

namespace {

const Bytes STATUS_QUERY = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
const Bytes ERASE = {0xF0, 0x2C, 0x4D, 0x12, 0xF7};
const Bytes FINISH = {0xF0, 0x2C, 0x4D, 0x50, 0xF7};
const Bytes ACK = {0xF0, 0x2C, 0x4D, 0x40, 0xF7};

// What the dialog showed, sampled at the pauses of the worker and of the dialog thread.
std::mutex seen_lock;
std::vector<std::string> seen_status;
std::vector<int> erase_progress;
std::string status_at_done;
int progress_at_done = -1;
std::atomic<int> packet_pauses{0};
std::atomic<int> inject_ack_at{-1};
std::atomic<uint32_t> latency_after_mode_check{0};  // non-zero: the unit's latency from the first 50 ms pause
std::atomic<DWORD> worker_thread_id{0};             // the thread that pauses besides the dialog's

void note_status(const std::string& status) {
  std::lock_guard<std::mutex> hold(seen_lock);
  if (seen_status.empty() || seen_status.back() != status) seen_status.push_back(status);
}

void watch_pauses(DWORD ms) {
  if (GetCurrentThreadId() != ui_thread_id) worker_thread_id = GetCurrentThreadId();
  if (GetCurrentThreadId() == ui_thread_id) {
    if (ms == 2000) {
      std::lock_guard<std::mutex> hold(seen_lock);
      status_at_done = headless_text(IDC_STATUS_TEXT);
      progress_at_done = headless_position(IDC_PROGRESS);
    }
    return;
  }
  if (ms == 50 && latency_after_mode_check != 0) {
    const uint32_t latency = latency_after_mode_check.exchange(0);
    sim_with_unit([latency](SimUnit& unit) { unit.config.reply_latency_us = latency; });
  }
  if (ms == 1) {
    int pause = ++packet_pauses;
    if (pause == inject_ack_at) {
      sim_inject(0, ACK);
      sim_flush();
    }
    if (pause > 1) return;
  }
  headless_wait_idle();
  note_status(headless_text(IDC_STATUS_TEXT));
  if (ms == 200) {
    std::lock_guard<std::mutex> hold(seen_lock);
    erase_progress.push_back(headless_position(IDC_PROGRESS));
  }
}

std::vector<Bytes> stand_in_packets() {
  Bytes image = embedded_image();
  return image_packets(image.data() + HEADER_LENGTH, image.size() - HEADER_LENGTH);
}

class UploadTest : public ProgramTest {
 protected:
  // Starts the program, connects to a unit in update mode and presses "Update firmware".
  void start_upload(const SimSetup& setup = update_mode_unit(), HINSTANCE module = nullptr,
                    unsigned divisor = 10) {
    start(setup, module, divisor);
    connect_and_tick();
    ASSERT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa in update mode");
    ASSERT_TRUE(headless_enabled(IDC_UPDATE_BUTTON));
    platform_set_sleep_hook(watch_pauses);
    received_before_upload = unit_received().size();
    ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  }

  void TearDown() override {
    platform_set_sleep_hook(nullptr);
    winmm_set_call_hook(nullptr);
    ProgramTest::TearDown();
  }

  size_t received_before_upload = 0;

  bool wait_status(const char* text, int timeout_ms = 60000) {
    return headless_wait_until([&] { return headless_text(IDC_STATUS_TEXT) == text; }, timeout_ms);
  }

  // A failed upload: "Programming failed", then the dialog closes by itself with exit code 0.
  void expect_failure_closes() {
    expect_box("Warning", "Programming failed");
    EXPECT_EQ(headless_exit_code(20000), 0);
  }

  int packet_sends(int number) { return count_received(stand_in_packets()[number]); }
};

TEST_F(UploadTest, ASuccessfulUploadWritesTheWholeImageAndReturnsToTheUnconnectedState) {
  // "Preparing" is seen at the worker's first pause: the unit answers the mode check only after it, and
  // quickly again from then on.
  SimSetup setup = update_mode_unit();
  setup.unit.reply_latency_us = 20000;
  latency_after_mode_check = update_mode_unit().unit.reply_latency_us;
  start_upload(setup);
  EXPECT_FALSE(headless_enabled(IDC_PORT_COMBO));
  EXPECT_FALSE(headless_enabled(IDC_UPDATE_BUTTON));
  ASSERT_TRUE(wait_status(" "));
  {
    std::lock_guard<std::mutex> hold(seen_lock);
    EXPECT_EQ(seen_status, (std::vector<std::string>{"Preparing", "Erasing", "Writing"}));
    EXPECT_EQ(status_at_done, "Programming successful");
    EXPECT_EQ(progress_at_done, 99);  // the last ACK leaves the position on the CR before the terminator
  }
  SimUnit unit = sim_unit_snapshot();
  std::vector<Bytes> packets = stand_in_packets();
  ASSERT_EQ(packets.size(), 2488u);
  EXPECT_EQ(unit.packets, packets);
  EXPECT_EQ(unit.mode, SimMode::Running);
  EXPECT_EQ(sim_unit_count(unit, 0x50), 1);
  EXPECT_EQ(winmm_time_begin_calls(), 1);
  EXPECT_EQ(winmm_time_end_calls(), 1);

  ASSERT_TRUE(headless_wait_idle());
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(mode_of(device_mode), Absent);
  EXPECT_EQ(mode_of(shown_mode), NothingShown);
  EXPECT_EQ(headless_position(IDC_PROGRESS), 0);
  EXPECT_TRUE(headless_enabled(IDC_PORT_COMBO));
  EXPECT_FALSE(headless_enabled(IDC_UPDATE_BUTTON));
  tick();  // the monitor runs again
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");

  connect_and_tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");
}

TEST_F(UploadTest, ASlowEraseRaisesTheBarBy5Every200MsPastAFullBar) {
  SimSetup setup = update_mode_unit();
  setup.unit.erase_time_us = 800000;  // 40 pauses of 200 ms at a tenth of their length
  start_upload(setup);
  ASSERT_TRUE(wait_status(" "));
  std::lock_guard<std::mutex> hold(seen_lock);
  ASSERT_GE(erase_progress.size(), 20u);
  for (size_t i = 0; i < erase_progress.size(); ++i) {
    EXPECT_EQ(erase_progress[i], std::min<int>(100, 10 + 5 * static_cast<int>(i))) << i;
  }
  EXPECT_EQ(count_sleeps(200), static_cast<int>(erase_progress.size()));
}

TEST_F(UploadTest, AnEraseThatIsNeverAnsweredEndsAfterSixtySeconds) {
  // The mode check is answered at once: at a 200th of their length its pauses would not wait for a reply.
  SimSetup setup = answering_at_once();
  setup.unit.erase_never_answers = true;
  start_upload(setup, nullptr, 200);
  ASSERT_TRUE(wait_status("Timeout error"));
  expect_failure_closes();
  EXPECT_EQ(count_sleeps(200), 300);
  EXPECT_TRUE(sim_unit_snapshot().packets.empty());
}

TEST_F(UploadTest, TwoNaksThenAnAckResendThePacketAndGoOn) {
  SimSetup setup = update_mode_unit();
  setup.unit.packet_scripts[5] = "NN";
  setup.unit.packet_scripts[6] = "NN";  // counters start again after the ACK of packet 5
  start_upload(setup);
  ASSERT_TRUE(wait_status(" "));
  EXPECT_EQ(packet_sends(5), 3);
  EXPECT_EQ(packet_sends(6), 3);
  EXPECT_EQ(packet_sends(7), 1);
  EXPECT_EQ(sim_unit_snapshot().packets.size(), 2488u);
}

TEST_F(UploadTest, TheThirdNakEndsWithAChecksumErrorAndTimeOutsDoNotCount) {
  SimSetup setup = update_mode_unit();
  setup.unit.packet_scripts[3] = "NTNTN";
  start_upload(setup);
  ASSERT_TRUE(wait_status("Checksum error"));
  expect_failure_closes();
  EXPECT_EQ(packet_sends(3), 5);
  EXPECT_EQ(packet_sends(4), 0);
  EXPECT_EQ(count_received(FINISH), 0);
}

TEST_F(UploadTest, ThreeSilencesEndWithATimeoutAfter501LooksEach) {
  SimSetup setup = update_mode_unit();
  setup.unit.packet_scripts[0] = "TTT";
  start_upload(setup);
  ASSERT_TRUE(wait_status("Timeout error"));
  expect_failure_closes();
  EXPECT_EQ(packet_sends(0), 3);
  EXPECT_EQ(count_sleeps(1), 3 * 501);
  EXPECT_EQ(packet_sends(1), 0);
}

TEST_F(UploadTest, AnotherAnswerResendsThePacketWithoutCounting) {
  SimSetup setup = update_mode_unit();
  setup.unit.packet_scripts[2] = "RRRNN";  // three answers that count as nothing, then two NAKs
  start_upload(setup);
  ASSERT_TRUE(wait_status(" "));
  EXPECT_EQ(packet_sends(2), 6);
  EXPECT_EQ(sim_unit_snapshot().packets.size(), 2488u);
}

TEST_F(UploadTest, AnAckInTheLastPauseOfATimeOutCountsAndResetsTheCounter) {
  SimSetup setup = update_mode_unit();
  setup.unit.packet_scripts[0] = "T";
  setup.unit.packet_scripts[1] = "TT";  // two more time-outs: fatal unless the late ACK reset the count
  std::vector<Bytes> packets = stand_in_packets();
  inject_ack_at = 501;
  start(setup);
  connect_and_tick();
  // The unit takes packet 0 while it stays silent; the ACK comes during the 501st pause.
  platform_set_sleep_hook([](DWORD ms) {
    watch_pauses(ms);
    if (ms == 1 && packet_pauses == 500) {
      Bytes first = stand_in_packets()[0];
      sim_with_unit([&](SimUnit& unit) {
        unit.packets.push_back(first);
        unit.next_packet = 1;
      });
    }
  });
  ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  ASSERT_TRUE(wait_status(" "));
  EXPECT_EQ(packet_sends(0), 1);
  EXPECT_EQ(packet_sends(1), 3);
  EXPECT_EQ(sim_unit_snapshot().packets, packets);
}

TEST_F(UploadTest, AnAckInTheLastPauseOfTheThirdTimeOutIsTooLate) {
  SimSetup setup = update_mode_unit();
  setup.unit.packet_scripts[0] = "TTT";
  inject_ack_at = 3 * 501;
  start_upload(setup);
  ASSERT_TRUE(wait_status("Timeout error"));
  expect_failure_closes();
  EXPECT_EQ(packet_sends(1), 0);
}

TEST_F(UploadTest, AUnitRunningItsFirmwareIsNotUpdated) {
  start(update_mode_unit());
  connect_and_tick();
  // The unit left update mode between the tick and the press.
  sim_with_unit([](SimUnit& unit) { unit.mode = SimMode::Running; });
  ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  expect_box("Error", "vexa not in update mode");
  expect_failure_closes();
  EXPECT_EQ(count_received(ERASE), 0);
}

TEST_F(UploadTest, ASilentModeCheckEndsWithATimeout) {
  SimSetup setup = update_mode_unit();
  setup.unit.status_silence = 0;
  start(setup);
  connect_and_tick();
  sim_with_unit([](SimUnit& unit) { unit.config.status_silence = unit.status_silenced + 1; });
  platform_clear_sleeps();
  headless_click(IDC_UPDATE_BUTTON);
  ASSERT_TRUE(wait_status("Timeout error"));
  expect_failure_closes();
  EXPECT_EQ(count_sleeps(50), 9);
  EXPECT_EQ(count_received(ERASE), 0);
}

TEST_F(UploadTest, VerifyPassesOverRunningAndTimesOutAfterNineLooks) {
  SimSetup setup = answering_at_once();
  setup.unit.verify_answer = SimVerifyAnswer::Running;
  start_upload(setup);
  ASSERT_TRUE(wait_status("Timeout error"));
  expect_failure_closes();
  EXPECT_EQ(count_received(FINISH), 0);
  EXPECT_EQ(sleeps_of(worker_thread_id), std::vector<DWORD>(9, 50));
}

TEST_F(UploadTest, VerifyAcceptsOneVersionByteOf127) {
  SimSetup setup = update_mode_unit();
  setup.unit.verify_answer = SimVerifyAnswer::BootPartial;
  start_upload(setup);
  ASSERT_TRUE(wait_status(" "));
  EXPECT_EQ(count_received(FINISH), 1);
}

TEST_F(UploadTest, VerifyWithNoValidFirmwareSendsNoFinish) {
  SimSetup setup = update_mode_unit();
  setup.unit.verify_answer = SimVerifyAnswer::BootNoFirmware;
  start_upload(setup);
  ASSERT_TRUE(wait_status("Invalid firmware"));
  expect_failure_closes();
  EXPECT_EQ(count_received(FINISH), 0);
  EXPECT_EQ(count_received(STATUS_QUERY), 3);  // burst, mode check, verify
}

TEST_F(UploadTest, AnUnansweredFinishEndsWithATimeoutAfterNineLooks) {
  SimSetup setup = answering_at_once();
  setup.unit.finish_silence = true;
  start_upload(setup);
  ASSERT_TRUE(wait_status("Timeout error"));
  expect_failure_closes();
  EXPECT_EQ(count_received(FINISH), 1);
  EXPECT_EQ(sleeps_of(worker_thread_id), std::vector<DWORD>(9, 50));
}

TEST_F(UploadTest, UnpluggingDuringTheWriteEndsWithATimeout) {
  SimSetup setup = update_mode_unit();
  setup.unit.unplug_after_packets = 100;
  start_upload(setup);
  ASSERT_TRUE(wait_status("Timeout error"));
  expect_failure_closes();
  EXPECT_EQ(sim_unit_snapshot().packets.size(), 100u);
  EXPECT_EQ(midi_out_port.load(), nullptr);
}

TEST_F(UploadTest, WithOnlyTheOutputOpenThereIsNothingToUpdate) {
  start(update_mode_unit());
  connect_and_tick();
  close_midi_in();
  SendDlgItemMessageA(headless_dialog(), IDC_PROGRESS, PBM_SETPOS, 40, 0);
  headless_click(IDC_UPDATE_BUTTON);
  expect_box("Warning", "vexa not connected");
  EXPECT_EQ(headless_position(IDC_PROGRESS), 0);
  EXPECT_TRUE(headless_enabled(IDC_PORT_COMBO));
  EXPECT_EQ(count_received(ERASE), 0);
  tick();  // the monitor kept running
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
}

TEST_F(UploadTest, WithoutAnImageNothingIsReadAndTheUploadEndsAsCorrupted) {
  start(update_mode_unit(), nofirmware_module());
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(headless_wait_box());
    headless_dismiss_box();
  }
  connect_and_tick();
  headless_click(IDC_UPDATE_BUTTON);
  expect_box("Error", "Data file corrupted");
  expect_failure_closes();
  EXPECT_EQ(count_received(ERASE), 0);
}

TEST_F(UploadTest, AnImageWithoutTerminatorIsCorrupted) {
  Bytes image = embedded_image();
  image.pop_back();
  start_upload(update_mode_unit(), module_with_image(image));
  expect_box("Error", "Data file corrupted");
  expect_failure_closes();
  EXPECT_EQ(count_received(STATUS_QUERY), 1);
}

TEST_F(UploadTest, StatusCodesAndProgressReachTheDisplay) {
  start();
  HWND dialog = headless_dialog();
  auto post = [&](WORD command, LPARAM value) {
    PostMessageA(dialog, WM_COMMAND, command, value);
    ASSERT_TRUE(headless_wait_idle());
  };
  post(CMD_UPLOAD_STATUS, STATUS_WRITING);
  EXPECT_EQ(headless_text(IDC_STATUS_TEXT), "Writing");
  for (LPARAM ignored : {0, 8, 11}) {
    post(CMD_UPLOAD_STATUS, ignored);
    EXPECT_EQ(headless_text(IDC_STATUS_TEXT), "Writing") << ignored;
  }
  post(CMD_UPLOAD_STATUS, STATUS_BLANK);
  EXPECT_EQ(headless_text(IDC_STATUS_TEXT), "");
  post(CMD_UPLOAD_PROGRESS, 150);
  EXPECT_EQ(headless_position(IDC_PROGRESS), 100);
  post(CMD_UPLOAD_PROGRESS, 0);
  EXPECT_EQ(headless_position(IDC_PROGRESS), 0);
  PostMessageA(dialog, WM_COMMAND, CMD_UPLOAD_STATUS, STATUS_DATA_CORRUPT);
  expect_box("Warning", "Data corrupt");
  EXPECT_EQ(headless_exit_code(), 0);
}

// The image header check, through the upload. Each case changes the embedded image's header; a header
// that passes is followed by the terminator, so the upload ends at the verify.
struct HeaderCase {
  const char* name;
  void (*change)(Bytes& image);
  bool passes;
};

const HeaderCase HEADER_CASES[] = {
    {"TagInCapitals", [](Bytes& image) { std::memcpy(image.data(), "VEXA", 4); }, false},
    {"Byte54Changed", [](Bytes& image) { image[54] = 'E'; }, false},
    {"Offsets5To23Changed", [](Bytes& image) { std::fill(image.begin() + 5, image.begin() + 24, 0x00); },
     true},
    {"TerminatorAt5", [](Bytes& image) { image[5] = 0xFF; }, false},
    {"TerminatorAt23", [](Bytes& image) { image[23] = 0xFF; }, false},
    {"TerminatorAt54", [](Bytes& image) { image[54] = 0xFF; }, false},
};

void PrintTo(const HeaderCase& header_case, std::ostream* out) { *out << header_case.name; }

class HeaderTest : public UploadTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderTest, OnlyTheTagAndTheSignatureAreChecked) {
  Bytes image = embedded_image();
  image.resize(HEADER_LENGTH + 1);
  image.push_back(0xFF);
  GetParam().change(image);
  start_upload(update_mode_unit(), module_with_image(image));
  if (GetParam().passes) {
    ASSERT_TRUE(wait_status("Invalid firmware"));
    expect_failure_closes();
    EXPECT_EQ(count_received(ERASE), 1);
    return;
  }
  EXPECT_TRUE(wait_status("Preparing"));
  expect_box("Error", "Data file corrupted");
  expect_failure_closes();
  EXPECT_EQ(unit_received().size(), received_before_upload);
  EXPECT_EQ(last_received(), STATUS_QUERY);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderTest, ::testing::ValuesIn(HEADER_CASES),
                         [](const ::testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

// Person actions during the write stage, each at the moment the worker hands a packet to the output: it
// holds the port for the whole send, so the action's message can only follow that send. Each action
// waits a while for its message, which must not come before the worker's send is through.
std::atomic<int> worker_sends{0};
const Bytes TICKED_BLANK_FRAMES = {0xF0, 0x2C, 0x4D, 0x55, 0x01, 0xF7};
const Bytes BRIGHTNESS_5 = {0xF0, 0x2C, 0x4D, 0x56, 0x05, 0xF7};
const Bytes MMC_ID_0 = {0xF0, 0x2C, 0x4D, 0x53, 0x00, 0xF7};

void act_during_sends(const char* call) {
  if (std::strcmp(call, "midiOutLongMsg") != 0 || GetCurrentThreadId() == ui_thread_id) return;
  const int send = ++worker_sends;
  const Bytes* expected = nullptr;
  if (send == 100) {
    user32_click(IDC_BLANK_FRAMES);
    expected = &TICKED_BLANK_FRAMES;
  } else if (send == 200) {
    user32_slider_drag(IDC_BRIGHTNESS, 5);
    expected = &BRIGHTNESS_5;
  } else if (send == 300) {
    user32_click(IDC_MMC_ID_EDIT);
    user32_key(VK_TAB);  // leaving the box commits its ID
    expected = &MMC_ID_0;
  } else {
    return;
  }
  headless_wait_until([expected] { return count_received(*expected) > 0; }, 200);
}

TEST_F(UploadTest, SettingsChangedDuringTheWriteNeverOverlapItsSends) {
  SimSetup setup = answering_at_once();
  setup.unit.params_in_boot = true;  // the settings are read back and their controls enabled
  start(setup);
  connect_and_tick();
  ASSERT_TRUE(headless_enabled(IDC_MMC_ID_EDIT));
  const size_t before = unit_received().size();
  winmm_set_call_hook(act_during_sends);
  ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  ASSERT_TRUE(wait_status(" "));
  std::vector<Bytes> packets = stand_in_packets();
  EXPECT_EQ(sim_unit_snapshot().packets, packets);
  // Every send of the worker reached the unit at once: no packet waited for its answer or went twice.
  EXPECT_EQ(count_sleeps(1), 0);
  for (size_t i = 0; i < packets.size(); ++i) ASSERT_EQ(count_received(packets[i]), 1) << i;
  for (const Bytes* action : {&TICKED_BLANK_FRAMES, &BRIGHTNESS_5, &MMC_ID_0}) {
    EXPECT_EQ(count_received(*action), 1);
  }
  // The status query, the erase, the packets, the verify and the finish, and the three settings.
  EXPECT_EQ(unit_received().size(), before + packets.size() + 7);
}

// The write stage's progress after each answer: the share of the image before the position the worker
// stands on, which is past the CR of an acknowledged packet, or on the 0xF0 of a packet to be sent again.
// A small image (the header and four packets) makes every step visible.
std::mutex progress_lock;
std::vector<int> progress_at_sends;

void note_progress_at_send(const char* call) {
  if (std::strcmp(call, "midiOutLongMsg") != 0 || GetCurrentThreadId() == ui_thread_id) return;
  headless_wait_idle();
  std::lock_guard<std::mutex> hold(progress_lock);
  progress_at_sends.push_back(headless_position(IDC_PROGRESS));
}

TEST_F(UploadTest, WriteProgressFollowsEveryAckNakAndTimeOut) {
  Bytes full = embedded_image();
  std::vector<size_t> starts;  // offsets of each packet's F0
  std::vector<size_t> ends;    // offsets just past each packet's F7
  size_t pos = HEADER_LENGTH + 1;
  for (int i = 0; i < 4; ++i) {
    starts.push_back(pos);
    while (full[pos] != 0xF7) ++pos;
    ends.push_back(++pos);
    ++pos;  // the CR after the packet
  }
  Bytes image(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(pos));
  image.push_back(0xFF);
  auto share = [&](size_t end) { return static_cast<int>(end * 100 / pos); };

  SimSetup setup = answering_at_once();
  setup.unit.packet_scripts[1] = "N";
  setup.unit.packet_scripts[2] = "T";
  start(setup, module_with_image(image));
  connect_and_tick();
  winmm_set_call_hook(note_progress_at_send);
  ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  ASSERT_TRUE(wait_status(" "));
  // Sends: status query, erase, packet 0, packet 1 (NAK), again, packet 2 (silence), again, packet 3,
  // the verify's status query, the finish.
  std::lock_guard<std::mutex> hold(progress_lock);
  EXPECT_EQ(progress_at_sends,
            (std::vector<int>{0, 0, 0, share(ends[0]), share(starts[1]), share(ends[1]), share(starts[2]),
                              share(ends[2]), share(ends[3]), share(ends[3])}));
}

}  // namespace
