// Changing every setting of the unit from the dialog, with the exact messages on the wire.
#include "program_support.h"

namespace {

class SettingsTest : public ProgramTest {
 protected:
  void connect_with_id(int id) {
    SimSetup setup;
    setup.unit.settings[1] = static_cast<uint8_t>(id);
    start_connected(setup);
    ASSERT_TRUE(headless_enabled(IDC_MMC_ID_EDIT));
  }

  // Replaces the ID box's text as a person would (select all, type), then moves the focus away.
  void commit_id(const char* typed, bool paste = false) {
    SetDlgItemTextA(headless_dialog(), IDC_MMC_ID_EDIT, "");
    if (paste) {
      headless_paste(IDC_MMC_ID_EDIT, typed);
    } else {
      headless_type_to(IDC_MMC_ID_EDIT, typed);
    }
    platform_clear_sleeps();
    headless_click(IDC_HELP_SETTINGS);  // the focus leaves the box
    ASSERT_TRUE(headless_wait_box());
    headless_dismiss_box();
    settle();
  }
};

TEST_F(SettingsTest, EachCheckBoxSendsItsOwnMessageAndPauses) {
  start_connected();
  for (auto [id, param] : CHECK_BOXES) {
    const int ticked_value = param == 0x58 ? 0 : 1;  // 0x58 at 0: the stationary LTC output is on
    const bool was_ticked = headless_checked(id) == BST_CHECKED;
    platform_clear_sleeps();
    ASSERT_EQ(headless_click(id), USER32_OK);
    const int value = was_ticked ? 1 - ticked_value : ticked_value;
    EXPECT_EQ(last_received(), set_message(param, value)) << id;
    EXPECT_EQ(sleeps_of(ui_thread_id), std::vector<DWORD>{50});
    headless_click(id);
    EXPECT_EQ(last_received(), set_message(param, 1 - value)) << id;
  }
  // The unit took every value back to where it was: stationary LTC output on (0), the rest off.
  SimUnit unit = sim_unit_snapshot();
  EXPECT_EQ(sim_unit_setting(unit, 0x58), 0);
  EXPECT_EQ(sim_unit_setting(unit, 0x5D), 0);
}

TEST_F(SettingsTest, TheSliderSendsEachNewPositionOnce) {
  start_connected();
  ASSERT_EQ(brightness_sent.load(), 8);  // the unit's brightness, echoed once after the read-back
  int before = count_received(set_message(0x56, 7));
  ASSERT_EQ(headless_slider_drag(IDC_BRIGHTNESS, 7), USER32_OK);
  settle();
  EXPECT_EQ(count_received(set_message(0x56, 7)), before + 1);
  EXPECT_EQ(brightness_sent.load(), 7);
  EXPECT_EQ(sim_unit_setting(sim_unit_snapshot(), 0x56), 7);
  // Further redraws at the same position send nothing.
  EnableWindow(GetDlgItem(headless_dialog(), IDC_BRIGHTNESS), FALSE);
  EnableWindow(GetDlgItem(headless_dialog(), IDC_BRIGHTNESS), TRUE);
  settle();
  EXPECT_EQ(count_received(set_message(0x56, 7)), before + 1);

  // A brightness reply moves the slider, and its next redraw sends that value back once.
  sim_inject(0, bytes_of({0xF0, 0x2C, 0x4D, 0x66, 0x0C, 0xF7}));
  settle();
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), 12);
  EXPECT_EQ(count_received(set_message(0x56, 12)), 1);
  // A value above the range shows as 15 and is sent as 15.
  sim_inject(0, bytes_of({0xF0, 0x2C, 0x4D, 0x66, 0x1F, 0xF7}));
  settle();
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), 15);
  EXPECT_EQ(count_received(set_message(0x56, 15)), 1);
}

TEST_F(SettingsTest, OneSpinClickSendsTheNewIdTwice) {
  connect_with_id(41);
  platform_clear_sleeps();
  ASSERT_EQ(headless_spin(IDC_MMC_ID_SPIN, true), USER32_OK);
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "042");
  EXPECT_EQ(count_received(set_message(0x53, 0x2A)), 2);
  EXPECT_EQ(mmc_id.load(), 42);
  EXPECT_EQ(sleeps_of(ui_thread_id), (std::vector<DWORD>{50, 50}));
  // At the end of the range the position stays and the ID is sent again all the same.
  SendDlgItemMessageA(headless_dialog(), IDC_MMC_ID_SPIN, UDM_SETPOS, 0, 126);
  headless_spin(IDC_MMC_ID_SPIN, true);
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "126");
  EXPECT_EQ(count_received(set_message(0x53, 126)), 2);
}

// A valid ID is sent and shown with three digits; anything else sends the previous ID again.
TEST_F(SettingsTest, ATypedIdIsSentWhenTheFocusLeavesTheBox) {
  connect_with_id(17);
  struct Case {
    const char* typed;
    const char* shown;
    int sent;
  };
  const Case cases[] = {{"0", "000", 0},   {"5", "005", 5},    {"126", "126", 126}, {"042", "042", 42},
                        {"42", "042", 42}, {"127", "042", 42}, {"150", "042", 42},  {"200", "042", 42},
                        {"", "042", 42},   {"4x", "042", 42}};
  for (const Case& c : cases) {
    const int before = count_received(set_message(0x53, c.sent));
    commit_id(c.typed, std::string(c.typed) == "4x");  // a paste is not filtered to digits
    EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), c.shown) << c.typed;
    EXPECT_EQ(last_received(), set_message(0x53, c.sent)) << c.typed;
    EXPECT_EQ(count_received(set_message(0x53, c.sent)), before + 1) << c.typed;
    EXPECT_EQ(headless_position(IDC_MMC_ID_SPIN), c.sent) << c.typed;
    EXPECT_EQ(sleeps_of(ui_thread_id), std::vector<DWORD>{50}) << c.typed;
  }
  // Leaving the box unchanged sends the current ID again.
  const int before = count_received(set_message(0x53, 42));
  headless_click(IDC_MMC_ID_EDIT);
  headless_click(IDC_HELP_SETTINGS);
  ASSERT_TRUE(headless_wait_box());
  headless_dismiss_box();
  EXPECT_EQ(count_received(set_message(0x53, 42)), before + 1);
}

TEST_F(SettingsTest, TypingPastTheBoxCommitsTheFirstThreeDigits) {
  connect_with_id(17);
  SetDlgItemTextA(headless_dialog(), IDC_MMC_ID_EDIT, "");
  headless_type_to(IDC_MMC_ID_EDIT, "1234");
  settle();
  int before = count_received(set_message(0x53, 123));
  // The box shows four digits; the fifth overflows it (EN_MAXTEXT), which commits what is there.
  headless_type("5");
  settle();
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "123");
  EXPECT_EQ(count_received(set_message(0x53, 123)), before + 1);
  EXPECT_EQ(mmc_id.load(), 123);
  // Typed letters never reach the box.
  headless_type("a");
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT).find('a'), std::string::npos);
}

}  // namespace
