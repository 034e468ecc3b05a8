// Start-up, help buttons and closing of the main dialog, driven as a person would.
#include "program_support.h"

namespace {

const char HELP_UPDATE[] =
    "To program new firmware 3.1 you must boot vexa in update mode:\n\nStep 1:\nHold down both keys while "
    "connecting the unit to the USB port of your computer.\nStep 2:\nSelect device vexa below the picture.\n"
    "Step 3:\nPress Update firmware button.";

class DialogTest : public ProgramTest {};

TEST_F(DialogTest, StartsWithEveryControlInItsInitialStateAndTouchesNoPort) {
  start();
  EXPECT_EQ(headless_title(), " Quorvanex vexa 3.1");
  for (int id : SETTINGS_CONTROLS) EXPECT_FALSE(headless_enabled(id)) << id;
  for (int id : {IDC_BLANK_LEADING_ZERO, IDC_ENABLE_TRVX, IDC_STATIONARY_LTC})
    EXPECT_EQ(headless_checked(id), 0);
  EXPECT_FALSE(headless_enabled(IDC_UPDATE_BUTTON));
  EXPECT_TRUE(headless_enabled(IDC_HELP_UPDATE));
  EXPECT_TRUE(headless_enabled(IDC_HELP_SETTINGS));
  EXPECT_TRUE(headless_enabled(IDC_PORT_COMBO));
  EXPECT_TRUE(headless_combo_items(IDC_PORT_COMBO).empty());
  EXPECT_EQ(headless_text(IDC_PORT_COMBO), "");
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "");
  EXPECT_EQ(headless_text(IDC_STATUS_TEXT), "");
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "");
  EXPECT_EQ(headless_position(IDC_PROGRESS), 0);
  EXPECT_EQ(headless_range_min(IDC_MMC_ID_SPIN), 0);
  EXPECT_EQ(headless_range_max(IDC_MMC_ID_SPIN), 126);
  EXPECT_TRUE(headless_box_log().empty());

  // No timer runs before the first choice of a port: time passes and nothing is shown.
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "");
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_TRUE(unit_received().empty());
  EXPECT_NE(firmware_image, nullptr);
}

TEST_F(DialogTest, HelpButtonsShowTheirTextsAndEscapeAndEnterDoNothing) {
  start();
  headless_click(IDC_HELP_UPDATE);
  expect_box("Help", HELP_UPDATE);
  headless_click(IDC_HELP_SETTINGS);
  ASSERT_TRUE(headless_wait_box());
  std::string settings = headless_boxes().back().text;
  EXPECT_EQ(headless_boxes().back().title, "Help");
  headless_dismiss_box();
  EXPECT_EQ(settings.find('\r'), std::string::npos);
  EXPECT_EQ(
      settings.rfind(
          "Blank leading zero of the time code display, i.e.  1:00:00:00 instead of 01:00:00:00.\n\n", 0),
      0u);
  EXPECT_NE(settings.find("is output as  full message when enabled.\n\n"), std::string::npos);
  EXPECT_NE(settings.find("See Quorvanex Midi Control Change Protocol for more informations."),
            std::string::npos);
  EXPECT_EQ(settings.size() - settings.rfind("\n\nAll settings are stored non volatile."), 39u);

  headless_key(VK_ESCAPE);
  // Enter on a focused push button presses it; anywhere else it is IDOK, which does nothing.
  headless_key_to(IDC_PORT_COMBO, VK_RETURN);
  headless_key(VK_ESCAPE);
  EXPECT_TRUE(headless_running());
  EXPECT_EQ(headless_box_log().size(), 2u);
}

}  // namespace
