#include "program_support.h"

#include <cstddef>
#include <deque>

extern const unsigned char nofirmware_res[];
extern const size_t nofirmware_res_size;

HINSTANCE module_with_image(const Bytes& image) {
  // Modules keep pointers into their bytes for the life of the process.
  static std::deque<Bytes> images;
  const Bytes& kept = images.emplace_back(image);
  return platform_module_replacing("FIRMWAREFILE", kept.data(), kept.size());
}

HINSTANCE nofirmware_module() {
  static const HINSTANCE module = platform_register_module(nofirmware_res, nofirmware_res_size);
  return module;
}

void ProgramTest::start(const SimSetup& setup, HINSTANCE module, unsigned sleep_divisor) {
  winmm_use_backend(sim_start(setup));
  platform_set_sleep_divisor(sleep_divisor);
  user32_set_manual_timers(true);
  // The dialog as a person sees it: drawn, so that its slider is painted.
  user32_set_drawn(true);
  ASSERT_EQ(headless_start(test_entry, module), 0);
  ASSERT_TRUE(headless_wait_dialog());
}

void ProgramTest::TearDown() {
  if (!headless_running()) return;
  for (int i = 0; i < 10 && !headless_boxes().empty(); ++i) headless_dismiss_box();
  headless_close();
  for (int i = 0; i < 10 && !headless_boxes().empty(); ++i) {
    headless_wait_box(500);
    headless_dismiss_box();
  }
  EXPECT_EQ(headless_exit_code(20000), 0);
}

void ProgramTest::connect(int index) {
  ASSERT_EQ(headless_combo_open(IDC_PORT_COMBO), USER32_OK);
  ASSERT_EQ(headless_combo_choose(IDC_PORT_COMBO, index), USER32_OK);
  settle();
}

void ProgramTest::settle() {
  sim_flush();
  ASSERT_TRUE(headless_wait_idle());
}

void ProgramTest::tick() {
  user32_advance_timers(PRESENCE_PERIOD_MS);
  ASSERT_TRUE(headless_wait_idle());
}

void ProgramTest::connect_and_tick() {
  connect();
  tick();
}

void ProgramTest::expect_box(const char* title, const std::string& text) {
  ASSERT_TRUE(headless_wait_box());
  std::vector<User32MessageBox> boxes = headless_boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().title, title);
  EXPECT_EQ(boxes.back().text, text);
  headless_dismiss_box();
}

Bytes ProgramTest::last_received() {
  std::vector<Bytes> received = unit_received();
  return received.empty() ? Bytes() : received.back();
}
