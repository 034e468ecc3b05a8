// How an upload ends: what run_upload returns for each ending, and closing the dialog at each stage.
#include <dirent.h>

#include <thread>

#include "program_support.h"

namespace {

// The header line and the first four packets of the embedded image, and its terminator: an upload of a
// few exchanges.
Bytes small_image() {
  const Bytes full = embedded_image();
  const std::vector<Bytes> packets = image_packets(full.data() + HEADER_LENGTH, full.size() - HEADER_LENGTH);
  Bytes image(full.begin(), full.begin() + HEADER_LENGTH + 1);
  for (size_t i = 0; i < 4; ++i) {
    image.insert(image.end(), packets[i].begin(), packets[i].end());
    image.push_back(0x0D);
  }
  image.push_back(0xFF);
  return image;
}

// One way for an upload to end: the unit and the image it starts with, what changes once the unit is
// connected, the worker's own message box ("Error"), and the result. upload_thread tells only success,
// failure and a close apart, so the result is read from run_upload itself, called as the worker calls it.
struct Ending {
  const char* name;
  void (*arrange)(SimSetup& setup, Bytes& image);
  void (*after_connecting)();
  const char* box;
  UploadResult result;
};

void as_it_is(SimSetup&, Bytes&) {}
void nothing() {}

const Ending ENDINGS[] = {
    {"Written", as_it_is, nothing, nullptr, UPLOAD_OK},
    {"ModeCheckUnanswered", as_it_is,
     [] { sim_with_unit([](SimUnit& unit) { unit.config.status_silence = unit.status_silenced + 1; }); },
     nullptr, UPLOAD_TIMEOUT},
    {"EraseUnanswered", [](SimSetup& setup, Bytes&) { setup.unit.erase_never_answers = true; }, nothing,
     nullptr, UPLOAD_TIMEOUT},
    {"PacketUnansweredThreeTimes", [](SimSetup& setup, Bytes&) { setup.unit.packet_scripts[1] = "TTT"; },
     nothing, nullptr, UPLOAD_TIMEOUT},
    {"VerifyUnanswered", [](SimSetup& setup, Bytes&) { setup.unit.verify_answer = SimVerifyAnswer::Silence; },
     nothing, nullptr, UPLOAD_TIMEOUT},
    {"FinishUnanswered", [](SimSetup& setup, Bytes&) { setup.unit.finish_silence = true; }, nothing, nullptr,
     UPLOAD_FINISH_TIMEOUT},
    {"ImageWithoutTerminator", [](SimSetup&, Bytes& image) { image.pop_back(); }, nothing,
     "Data file corrupted", UPLOAD_CORRUPT_IMAGE},
    {"ThreeNaks", [](SimSetup& setup, Bytes&) { setup.unit.packet_scripts[1] = "NNN"; }, nothing, nullptr,
     UPLOAD_CHECKSUM},
    {"NoValidFirmwareAfterWriting",
     [](SimSetup& setup, Bytes&) { setup.unit.verify_answer = SimVerifyAnswer::BootNoFirmware; }, nothing,
     nullptr, UPLOAD_INVALID_FIRMWARE},
    {"UnitRunsItsFirmware", as_it_is,
     [] { sim_with_unit([](SimUnit& unit) { unit.mode = SimMode::Running; }); }, "vexa not in update mode",
     UPLOAD_NOT_IN_UPDATE_MODE},
    {"DialogClosing", as_it_is, [] { upload_stop = 1; }, nullptr, UPLOAD_CANCELLED},
};

void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }

class UploadResultTest : public ProgramTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(UploadResultTest, EachEndingHasItsResult) {
  SimSetup setup = answering_at_once();
  Bytes image = small_image();
  GetParam().arrange(setup, image);
  start(setup, module_with_image(image), 200);
  connect_and_tick();
  ASSERT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa in update mode");
  GetParam().after_connecting();
  std::atomic<UploadResult> result{UPLOAD_OK};
  std::thread worker([&] { result = run_upload(); });
  if (GetParam().box != nullptr) expect_box("Error", GetParam().box);
  worker.join();
  EXPECT_EQ(result.load(), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Endings, UploadResultTest, ::testing::ValuesIn(ENDINGS),
                         [](const ::testing::TestParamInfo<Ending>& info) { return info.param.name; });

// Closing the dialog at each stage of an upload. The close comes at the worker's first pause of that
// stage (or, for the worker's message box, while it is open); from the dialog's reaction to it on,
// nothing more reaches the unit, and the program ends with every thread it started.
enum class Stage { ModeCheck, Erase, Write, Verify, WorkerBox };

std::atomic<Stage> close_stage{Stage::ModeCheck};
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

void close_now() {
  user32_close();
  headless_wait_until([] { return upload_stop.load() != 0; });
  received_at_close = unit_received().size();
  closed = true;
}

void close_at_stage(DWORD ms) {
  if (closed || GetCurrentThreadId() == ui_thread_id) return;
  const Stage stage = close_stage;
  if ((stage == Stage::ModeCheck || stage == Stage::Verify) && ms == 50) close_now();
  if (stage == Stage::Erase && ms == 200) close_now();
  if (stage == Stage::Write && ms == 1) close_now();
}

std::string stage_name(const ::testing::TestParamInfo<Stage>& info) {
  static const char* const names[] = {"ModeCheck", "Erase", "Write", "Verify", "WorkerBox"};
  return names[static_cast<int>(info.param)];
}

void PrintTo(Stage stage, std::ostream* out) { *out << stage_name({stage, 0}); }

class CloseTest : public ProgramTest, public ::testing::WithParamInterface<Stage> {
 protected:
  void TearDown() override {
    platform_set_sleep_hook(nullptr);
    ProgramTest::TearDown();
  }
};

TEST_P(CloseTest, EndsWithZeroNoWindowNoThreadAndNoSendAfterTheClose) {
  SimSetup setup = answering_at_once();  // the only pauses are the stage's own
  close_stage = GetParam();
  switch (GetParam()) {
    case Stage::ModeCheck:
      break;
    case Stage::Erase:
      setup.unit.erase_never_answers = true;
      break;
    case Stage::Write:
      setup.unit.packet_scripts[20] = "T";
      break;
    case Stage::Verify:
      setup.unit.verify_answer = SimVerifyAnswer::Running;
      break;
    case Stage::WorkerBox:
      setup.unit.packet_scripts[0] = "TTT";
      break;
  }
  start(setup);
  connect_and_tick();
  if (GetParam() == Stage::ModeCheck) {
    sim_with_unit([](SimUnit& unit) { unit.config.status_silence = unit.status_silenced + 1; });
  }
  const int threads = thread_count();  // the test's, the back-end's, the dialog's and the MIDI input's
  platform_set_sleep_hook(close_at_stage);
  ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  if (GetParam() == Stage::WorkerBox) {
    ASSERT_TRUE(headless_wait_box());
    // The box disables the dialog: the close comes from outside, as at the end of a session.
    PostMessageA(headless_dialog(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(headless_wait_until([] { return upload_stop.load() != 0; }));
    received_at_close = unit_received().size();
    closed = true;
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

INSTANTIATE_TEST_SUITE_P(Stages, CloseTest,
                         ::testing::Values(Stage::ModeCheck, Stage::Erase, Stage::Write, Stage::Verify,
                                           Stage::WorkerBox),
                         stage_name);

}  // namespace
