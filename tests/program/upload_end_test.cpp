// How an upload ends: closing the dialog at each stage.
#include <dirent.h>

#include "program_support.h"

namespace {

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
