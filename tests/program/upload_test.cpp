// The firmware upload end to end: the update button, the worker, the simulated unit in update mode, what
// the dialog shows, and the person's actions meanwhile. How each upload ends: upload_end_test.cpp.
#include <dirent.h>

#include <cstring>
#include <mutex>

#include "program_support.h"
#include "sim/unit/options.h"

namespace {

const Bytes ERASE = {0xF0, 0x2C, 0x4D, 0x12, 0xF7};

// The status line's texts in turn; the progress bar at each of the worker's 200 ms pauses (the erase's), and
// the status line and the bar during the dialog's pause after a success.
std::mutex seen_lock;
std::vector<std::string> statuses;
std::vector<int> erase_progress;
std::string status_at_done;
int progress_at_done = -1;

void note_status(HWND window, const char* text) {
  std::lock_guard<std::mutex> hold(seen_lock);
  if (GetDlgCtrlID(window) == IDC_STATUS_TEXT) statuses.push_back(text);
}

void note_pause(DWORD ms) {
  if (ms == 200) headless_wait_idle();  // the progress posted before the pause is shown
  std::lock_guard<std::mutex> hold(seen_lock);
  if (ms == 200) erase_progress.push_back(headless_position(IDC_PROGRESS));
  if (ms != 2000) return;
  status_at_done = headless_text(IDC_STATUS_TEXT);
  progress_at_done = headless_position(IDC_PROGRESS);
}

class UploadTest : public ProgramTest {
 protected:
  // Starts the program, connects to a unit in update mode and presses "Update firmware".
  void start_upload(const SimSetup& setup = update_mode_unit(), HINSTANCE module = nullptr,
                    unsigned divisor = 10) {
    start_connected(setup, module, divisor);
    ASSERT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa in update mode");
    ASSERT_TRUE(headless_enabled(IDC_UPDATE_BUTTON));
    user32_set_text_hook(note_status);
    platform_set_sleep_hook(note_pause);
    ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  }

  void TearDown() override {
    user32_set_text_hook(nullptr);
    platform_set_sleep_hook(nullptr);
    winmm_set_call_hook(nullptr);
    ProgramTest::TearDown();
  }

  // Until the status line shows the text, or a box or the program's end says that it never will.
  bool wait_status(const char* text) {
    return headless_wait_until(
               [&] {
                 return !headless_running() || !headless_boxes().empty() ||
                        headless_text(IDC_STATUS_TEXT) == text;
               },
               60000) &&
           headless_text(IDC_STATUS_TEXT) == text;
  }
};

TEST_F(UploadTest, ASuccessfulUploadWritesTheWholeImageAndReturnsToTheUnconnectedState) {
  SimSetup setup = update_mode_unit();
  setup.unit.erase_time_us = 800000;  // 40 pauses of 200 ms at a tenth of their length
  start_upload(setup);
  EXPECT_FALSE(headless_enabled(IDC_PORT_COMBO));
  EXPECT_FALSE(headless_enabled(IDC_UPDATE_BUTTON));
  ASSERT_TRUE(wait_status(" "));
  {
    std::lock_guard<std::mutex> hold(seen_lock);
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"Preparing", "Erasing", "Writing", "Programming successful", " "}));
    EXPECT_EQ(status_at_done, "Programming successful");
    EXPECT_EQ(progress_at_done, 99);  // the last ACK leaves the position on the CR before the terminator
    // A slow erase raises the bar by 5 every 200 ms, past a full bar.
    ASSERT_GE(erase_progress.size(), 20u);
    for (size_t i = 0; i < erase_progress.size(); ++i)
      EXPECT_EQ(erase_progress[i], std::min<int>(100, 10 + 5 * static_cast<int>(i))) << i;
    EXPECT_EQ(count_sleeps(200), static_cast<int>(erase_progress.size()));
  }
  SimUnit unit = sim_unit_snapshot();
  const std::vector<Bytes> packets = image_packets(embedded_image());
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

// The worker's own box, then "Programming failed", and the program closes by itself with exit code 0.
TEST_F(UploadTest, AFailedUploadSaysSoAndTheProgramCloses) {
  Bytes image = small_image();
  image.pop_back();
  start_upload(answering_at_once(), module_with_image(image));
  expect_box("Error", "Data file corrupted");
  expect_box("Warning", "Programming failed");
  EXPECT_EQ(headless_exit_code(20000), 0);
}

// A write that the unit stops answering has no box of its own before it: the close comes after the warning.
TEST_F(UploadTest, AnUnansweredWriteAlsoClosesTheProgram) {
  SimSetup setup = update_mode_unit();
  std::string bad;
  ASSERT_EQ(sim_read_config_line(setup.unit, "packet-script 0 TTT", {}, bad), SIM_OPTION_OK);
  start_upload(setup);
  expect_box("Warning", "Programming failed");
  EXPECT_EQ(headless_exit_code(20000), 0);
}

TEST_F(UploadTest, WithOnlyTheOutputOpenThereIsNothingToUpdate) {
  start_connected(update_mode_unit());
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

// Person actions during the write stage, at the worker's 100th, 200th and 300th send (long before its end,
// which closes the ports): it holds the port for the whole send, so the action's message can only follow
// that send. Each action waits a while for its message, which must not come before the worker's send is
// through.
struct Action {
  void (*act)();
  Bytes message;
};

const Action ACTIONS[] = {
    {[] { user32_click(IDC_BLANK_FRAMES); }, {0xF0, 0x2C, 0x4D, 0x55, 0x01, 0xF7}},
    {[] { user32_slider_drag(IDC_BRIGHTNESS, 5); }, {0xF0, 0x2C, 0x4D, 0x56, 0x05, 0xF7}},
    {[] {
       user32_click(IDC_MMC_ID_EDIT);
       user32_key(VK_TAB);  // leaving the box commits its ID
     },
     {0xF0, 0x2C, 0x4D, 0x53, 0x00, 0xF7}},
};

std::atomic<int> worker_sends{0};

void act_during_sends(const char* call) {
  if (std::strcmp(call, "midiOutLongMsg") != 0 || GetCurrentThreadId() == ui_thread_id) return;
  const int send = ++worker_sends;
  const int action = send / 100 - 1;
  if (send % 100 != 0 || action > 2) return;
  ACTIONS[action].act();
  headless_wait_until([action] { return count_received(ACTIONS[action].message) > 0; }, 200);
}

TEST_F(UploadTest, SettingsChangedDuringTheWriteNeverOverlapItsSends) {
  SimSetup setup = answering_at_once();
  setup.unit.params_in_boot = true;  // the settings are read back and their controls enabled
  start_connected(setup);
  ASSERT_TRUE(headless_enabled(IDC_MMC_ID_EDIT));
  const size_t before = unit_received().size();
  winmm_set_call_hook(act_during_sends);
  ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  ASSERT_TRUE(wait_status(" "));
  const std::vector<Bytes> packets = image_packets(embedded_image());
  EXPECT_EQ(sim_unit_snapshot().packets, packets);
  // Every send of the worker reached the unit at once: no packet waited for its answer or went twice.
  EXPECT_EQ(count_sleeps(1), 0);
  for (const Bytes& packet : packets) EXPECT_EQ(count_received(packet), 1);
  for (const Action& action : ACTIONS) EXPECT_EQ(count_received(action.message), 1);
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
  const Bytes image = small_image();
  std::vector<int> starts;  // the share of the image before each packet's F0, and before its CR
  std::vector<int> ends;
  for (size_t pos = HEADER_LENGTH + 1; image[pos] == 0xF0; pos += 2) {
    starts.push_back(static_cast<int>(pos * 100 / (image.size() - 1)));
    while (image[pos] != 0xF7) ++pos;
    ends.push_back(static_cast<int>((pos + 1) * 100 / (image.size() - 1)));
  }
  ASSERT_EQ(ends.size(), 4u);
  SimSetup setup = answering_at_once();
  setup.unit.packet_scripts[1] = "N";
  setup.unit.packet_scripts[2] = "T";
  start_connected(setup, module_with_image(image));
  winmm_set_call_hook(note_progress_at_send);
  ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  ASSERT_TRUE(wait_status(" "));
  // Sends: status query, erase, packet 0, packet 1 (NAK), again, packet 2 (silence), again, packet 3,
  // the verify's status query, the finish.
  std::lock_guard<std::mutex> hold(progress_lock);
  EXPECT_EQ(progress_at_sends,
            (std::vector<int>{0, 0, 0, ends[0], starts[1], ends[1], starts[2], ends[2], ends[3], ends[3]}));
}

// Closing the dialog at each stage of an upload: at the worker's first pause of that stage, or while its
// box is open. From the dialog's reaction to it on, nothing more reaches the unit, and the program ends with
// every thread it started.
struct Close {
  const char* name;
  void (*arrange)(SimUnit& unit);  // once the unit is connected
  DWORD pause;                     // 0: the worker's box
};

const Close CLOSES[] = {
    {"ModeCheck", [](SimUnit& unit) { unit.config.status_silence = unit.status_silenced + 1; }, 50},
    {"Erase", [](SimUnit& unit) { unit.config.erase_never_answers = true; }, 200},
    {"Write", [](SimUnit& unit) { unit.config.packet_scripts[20] = "T"; }, 1},
    {"Verify", [](SimUnit& unit) { unit.config.verify_answer = SimVerifyAnswer::Running; }, 50},
    {"WorkerBox", [](SimUnit& unit) { unit.config.packet_scripts[0] = "TTT"; }, 0},
};

void PrintTo(const Close& close, std::ostream* out) { *out << close.name; }

std::atomic<DWORD> close_at{0};
std::atomic<bool> closed{false};
std::atomic<size_t> received_at_close{0};

int thread_count() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return count;
}

void close_during_upload(bool posted) {
  if (posted) {
    // The box disables the dialog: the close comes from outside.
    PostMessageA(headless_dialog(), WM_CLOSE, 0, 0);
  } else {
    user32_close();
  }
  headless_wait_until([] { return upload_stop.load() != 0; });
  received_at_close = unit_received().size();
  closed = true;
}

void close_at_pause(DWORD ms) {
  if (!closed && ms == close_at && GetCurrentThreadId() != ui_thread_id) close_during_upload(false);
}

class CloseTest : public UploadTest, public ::testing::WithParamInterface<Close> {};

TEST_P(CloseTest, EndsWithZeroNoWindowNoThreadAndNoSendAfterTheClose) {
  start_connected(answering_at_once());
  sim_with_unit(GetParam().arrange);
  const int threads = thread_count();  // the test's, the back-end's, the dialog's and the MIDI input's
  closed = false;
  close_at = GetParam().pause;
  platform_set_sleep_hook(close_at_pause);
  ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  if (GetParam().pause == 0) {
    ASSERT_TRUE(headless_wait_box());
    close_during_upload(true);
    expect_box("Warning", "Programming failed");
  }
  EXPECT_EQ(headless_exit_code(20000), 0);
  ASSERT_TRUE(closed);
  EXPECT_EQ(unit_received().size(), received_at_close.load());
  EXPECT_EQ(user32_current_dialog(), nullptr);
  EXPECT_TRUE(user32_open_boxes().empty());
  EXPECT_TRUE(headless_wait_until([&] { return thread_count() == threads - 2; }, 5000)) << thread_count();
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_EQ(midi_out_port.load(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Stages, CloseTest, ::testing::ValuesIn(CLOSES),
                         [](const ::testing::TestParamInfo<Close>& info) { return info.param.name; });

}  // namespace
