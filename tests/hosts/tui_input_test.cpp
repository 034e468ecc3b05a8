// The terminal front end's keys and clicks, through the real program on the headless driver with the
// simulated unit: each reaches its control as a person's input, and the unit sees what it should.
#include "tui_support.h"

using TuiInput = TuiTest;

TEST_F(TuiInput, KeysReachEveryKindOfControl) {
  start();
  // Right after start only the two "?" buttons take Tab, in both directions; Escape changes nothing.
  EXPECT_EQ(headless_focus_id(), IDC_HELP_UPDATE);
  EXPECT_EQ(key(TUI_KEY_TAB), USER32_OK);
  EXPECT_EQ(headless_focus_id(), IDC_HELP_SETTINGS);
  key(TUI_KEY_TAB);
  EXPECT_EQ(headless_focus_id(), IDC_HELP_UPDATE);
  key(TUI_KEY_TAB, true);
  EXPECT_EQ(headless_focus_id(), IDC_HELP_SETTINGS);
  key(TUI_KEY_ESCAPE);
  EXPECT_TRUE(headless_boxes().empty());
  EXPECT_TRUE(headless_running());

  // The port list: F4 opens it, the arrows move in it, Enter takes the entry; the unit answers.
  EXPECT_EQ(key(tui_key_f(4)), USER32_OK);
  ASSERT_TRUE(headless_combo_dropped(IDC_PORT_COMBO));
  EXPECT_EQ(headless_combo_items(IDC_PORT_COMBO), std::vector<std::string>{"vexa"});
  key(TUI_KEY_DOWN);
  key(TUI_KEY_ENTER);
  EXPECT_FALSE(headless_combo_dropped(IDC_PORT_COMBO));
  settle();
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");
  ASSERT_TRUE(headless_enabled(IDC_ENABLE_TRVX));

  // A check box: its hot key clicks it, Space clicks it again.
  EXPECT_EQ(key(hot_key_of(IDC_ENABLE_TRVX)), USER32_OK);
  EXPECT_EQ(headless_checked(IDC_ENABLE_TRVX), BST_CHECKED);
  EXPECT_EQ(last_received(), set_message(0x5D, 1));
  key(' ');
  EXPECT_EQ(headless_checked(IDC_ENABLE_TRVX), BST_UNCHECKED);
  EXPECT_EQ(last_received(), set_message(0x5D, 0));

  // The slider: Tab reaches it after the last check box; arrows, Page Down and End move it.
  key(TUI_KEY_TAB);
  ASSERT_EQ(headless_focus_id(), IDC_BRIGHTNESS);
  const int start_position = headless_position(IDC_BRIGHTNESS);
  key(TUI_KEY_RIGHT);
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), start_position + 1);
  key(TUI_KEY_END);
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), 15);
  EXPECT_EQ(last_received(), set_message(0x56, 15));
  key(TUI_KEY_HOME);
  key(TUI_KEY_PAGE_DOWN);
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), 3);

  // The spin: Up presses its upper arrow.
  key(TUI_KEY_TAB);
  ASSERT_EQ(headless_focus_id(), IDC_MMC_ID_SPIN);
  const int id = headless_position(IDC_MMC_ID_SPIN);
  key(TUI_KEY_UP);
  EXPECT_EQ(headless_position(IDC_MMC_ID_SPIN), id + 1);
  EXPECT_EQ(count_received(set_message(0x53, id + 1)), 2);

  // The ID box: its group's hot key goes into it, Backspace and digits edit it, leaving it commits.
  key(hot_key_of(IDC_MMC_ID_EDIT));
  ASSERT_EQ(headless_focus_id(), IDC_MMC_ID_EDIT);
  for (int i = 0; i < 3; ++i) key(TUI_KEY_BACKSPACE);
  key('4');
  key('2');
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "42");
  key('x');  // a letter is a hot key or nothing, never text
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "42");
  key(TUI_KEY_TAB);
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "042");
  EXPECT_EQ(last_received(), set_message(0x53, 42));

  // A message box takes the keys until Enter dismisses it.
  for (int i = 0; i < 10 && headless_focus_id() != IDC_HELP_SETTINGS; ++i) key(TUI_KEY_TAB);
  key(' ');
  ASSERT_EQ(headless_boxes().size(), 1u);
  EXPECT_EQ(headless_boxes()[0].title, "Help");
  EXPECT_EQ(key(TUI_KEY_TAB), TUI_IGNORED);
  EXPECT_EQ(headless_focus_id(), IDC_HELP_SETTINGS);
  key(TUI_KEY_ENTER);
  EXPECT_TRUE(headless_boxes().empty());

  // Ctrl+Q is the close button.
  EXPECT_EQ(key(TUI_KEY_QUIT), USER32_OK);
  EXPECT_EQ(headless_exit_code(), 0);
}

TEST_F(TuiInput, ClicksReachEveryKindOfControl) {
  start();
  // The list opens with a click on the field; a click elsewhere closes it without a choice.
  EXPECT_EQ(click(TuiZoneKind::control, IDC_PORT_COMBO), USER32_OK);
  ASSERT_TRUE(headless_combo_dropped(IDC_PORT_COMBO));
  EXPECT_EQ(tui_click(frame(), 0, 0), USER32_OK);
  ASSERT_TRUE(headless_wait_idle());
  EXPECT_FALSE(headless_combo_dropped(IDC_PORT_COMBO));
  EXPECT_EQ(headless_combo_selection(IDC_PORT_COMBO), -1);

  click(TuiZoneKind::control, IDC_PORT_COMBO);
  EXPECT_EQ(click(TuiZoneKind::list_item, IDC_PORT_COMBO, 0), USER32_OK);
  settle();
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");

  click(TuiZoneKind::control, IDC_BLANK_LEADING_ZERO);
  EXPECT_EQ(headless_checked(IDC_BLANK_LEADING_ZERO), BST_CHECKED);
  EXPECT_EQ(last_received(), set_message(0x52, 1));

  click(TuiZoneKind::slider, IDC_BRIGHTNESS, 7);
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), 7);
  EXPECT_EQ(count_received(set_message(0x56, 7)), 1);

  const int id = headless_position(IDC_MMC_ID_SPIN);
  click(TuiZoneKind::spin_up, IDC_MMC_ID_SPIN);
  EXPECT_EQ(headless_position(IDC_MMC_ID_SPIN), id + 1);
  click(TuiZoneKind::spin_down, IDC_MMC_ID_SPIN);
  EXPECT_EQ(headless_position(IDC_MMC_ID_SPIN), id);

  // A box ignores clicks beside its OK button.
  click(TuiZoneKind::control, IDC_HELP_UPDATE);
  ASSERT_EQ(headless_boxes().size(), 1u);
  EXPECT_EQ(tui_click(frame(), 0, 0), TUI_IGNORED);
  EXPECT_EQ(click(TuiZoneKind::box_ok, 0), USER32_OK);
  EXPECT_TRUE(headless_boxes().empty());

  EXPECT_EQ(click(TuiZoneKind::close_button, 0), USER32_OK);
  EXPECT_EQ(headless_exit_code(), 0);
}

// A hang-up closes the program even while a message box waits for OK.
TEST_F(TuiInput, ClosingAnswersOpenBoxes) {
  start();
  headless_click(IDC_HELP_SETTINGS);
  ASSERT_EQ(headless_boxes().size(), 1u);
  EXPECT_EQ(user32_close(), USER32_REFUSED);
  EXPECT_EQ(tui_close(5000), USER32_OK);
  EXPECT_EQ(headless_exit_code(), 0);
}

// F9 starts the simulated unit in update mode, as if both keys had been held while it was plugged in.
TEST_F(TuiInput, SimulatedUnitInUpdateMode) {
  start();
  view.sim_keys = true;
  EXPECT_FALSE(tui_sim_update_mode());
  EXPECT_NE(tui_grid_text(frame().grid).find("F9: simulated unit to update mode"), std::string::npos);
  key(tui_key_f(9));
  EXPECT_TRUE(tui_sim_update_mode());
  connect();
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa in update mode");
  EXPECT_TRUE(headless_enabled(IDC_UPDATE_BUTTON));
  EXPECT_NE(tui_grid_text(frame().grid).find("F9: simulated unit back to its firmware"), std::string::npos);
  view.sim_keys = false;
  EXPECT_EQ(key(tui_key_f(9)), TUI_IGNORED);
  EXPECT_TRUE(tui_sim_update_mode());
}
