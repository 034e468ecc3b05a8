// End to end over a real MIDI service: the program under the headless driver with VEXA_MIDI=jack, and
// vexa-sim as the unit on the same private JACK server. tests/system/jack_e2e.sh starts the server and
// vexa-sim and runs one TEST at a time; it passes vexa-sim's pid, its log (every message, "rx" or "tx" and
// the bytes in hex) and the settings that vexa-sim started with ("0x52=1 0x53=42 ...").
#include <mmsystem.h>

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "hosts/headless/headless.h"
#include "platform/midi/rtmidi/midi_rtmidi.h"
#include "platform/win32/winmm_ext.h"
#include "resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Lines of vexa-sim's log that start with `prefix`.
int log_lines(const std::string& prefix) {
  std::ifstream log(env("VEXA_SIM_LOG"));
  int count = 0;
  for (std::string line; std::getline(log, line);)
    if (line.rfind(prefix, 0) == 0) ++count;
  return count;
}

std::map<int, int> sim_settings() {
  std::map<int, int> settings;
  std::istringstream words(env("VEXA_SIM_SETTINGS"));
  for (std::string word; words >> word;) {
    const size_t equals = word.find('=');
    settings[std::stoi(word.substr(0, equals), nullptr, 0)] = std::stoi(word.substr(equals + 1));
  }
  return settings;
}

// Opens the port list and picks the entry "vexa".
void choose_vexa() {
  ASSERT_EQ(headless_combo_open(IDC_PORT_COMBO), USER32_OK);
  const std::vector<std::string> items = headless_combo_items(IDC_PORT_COMBO);
  int index = -1;
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == "vexa") index = static_cast<int>(i);
  ASSERT_GE(index, 0) << "no vexa among " << items.size() << " outputs";
  ASSERT_EQ(headless_combo_choose(IDC_PORT_COMBO, index), USER32_OK);
}

bool text_becomes(int id, const std::string& text, int timeout_ms) {
  return headless_wait_until([&] { return headless_text(id) == text; }, timeout_ms);
}

class JackE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("VEXA_SIM_PID").empty() || env("VEXA_SIM_LOG").empty())
      GTEST_SKIP() << "run by tests/system/jack_e2e.sh";
    ASSERT_EQ(env("VEXA_MIDI"), "jack");
    winmm_use_backend(midi_backend_rtmidi("jack"));
    user32_set_drawn(true);
    ASSERT_EQ(headless_start(WinMain), 0);
    ASSERT_TRUE(headless_wait_dialog());
  }
  void TearDown() override {
    if (!headless_running()) return;
    headless_close();
    EXPECT_EQ(headless_exit_code(10000), 0);
  }
};

// The eight check boxes by their parameter byte; for 0x58 a ticked box is the value 0.
const std::pair<int, int> CHECK_BOXES[] = {{IDC_BLANK_LEADING_ZERO, 0x52}, {IDC_BLANK_FRAMES, 0x55},
                                           {IDC_STATIONARY_LTC, 0x58},     {IDC_INFINITE_FLYWHEEL, 0x59},
                                           {IDC_MTC_MMC_LOCATE, 0x5A},     {IDC_LTC_HOLD_OFF, 0x5B},
                                           {IDC_MTC_FULL_MESSAGE, 0x5C},   {IDC_ENABLE_TRVX, 0x5D}};

}  // namespace

// A running unit: its ten settings appear, a change reaches it and is read back from it, and when it is
// unplugged the next tick of the presence monitor finds it gone.
TEST_F(JackE2E, RunningUnit) {
  const std::map<int, int> settings = sim_settings();
  ASSERT_EQ(settings.size(), 10u);
  choose_vexa();
  ASSERT_TRUE(text_becomes(IDC_DEVICE_TEXT, "Firmware 3.1", 10000)) << headless_text(IDC_DEVICE_TEXT);
  // Each read-back reply enables its control.
  ASSERT_TRUE(headless_wait_until([] {
    bool all = headless_enabled(IDC_BRIGHTNESS) && headless_enabled(IDC_MMC_ID_EDIT);
    for (auto [id, param] : CHECK_BOXES) all = all && headless_enabled(id);
    return all;
  }));
  for (auto [id, param] : CHECK_BOXES)
    EXPECT_EQ(headless_checked(id) == BST_CHECKED, (settings.at(param) == 1) != (param == 0x58)) << id;
  EXPECT_EQ(std::stoi(headless_text(IDC_MMC_ID_EDIT)), settings.at(0x53));
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), settings.at(0x56));

  // Ticking "Enable TRVX" sends the set message; the unit keeps it and reports it at the next read-back.
  ASSERT_EQ(settings.at(0x5D), 0);
  ASSERT_EQ(headless_click(IDC_ENABLE_TRVX), USER32_OK);
  EXPECT_TRUE(headless_wait_until([] { return log_lines("rx F0 2C 4D 5D 01 F7") == 1; }, 5000));
  EXPECT_EQ(log_lines("tx F0 2C 4D 6D 01 F7"), 0);
  choose_vexa();
  EXPECT_TRUE(headless_wait_until([] { return log_lines("tx F0 2C 4D 6D 01 F7") == 1; }, 5000));
  ASSERT_TRUE(text_becomes(IDC_DEVICE_TEXT, "Firmware 3.1", 10000));
  EXPECT_EQ(headless_checked(IDC_ENABLE_TRVX), BST_CHECKED);

  // Unplugging: with the timers stopped, vexa-sim ends and its ports go; the next tick shows the loss.
  user32_set_manual_timers(true);
  ASSERT_TRUE(headless_wait_idle());
  ASSERT_EQ(kill(std::stoi(env("VEXA_SIM_PID")), SIGTERM), 0);
  ASSERT_TRUE(headless_wait_until([] { return midiInGetNumDevs() == 0 && midiOutGetNumDevs() == 0; }, 10000));
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");
  user32_advance_timers(500);
  ASSERT_TRUE(headless_wait_idle());
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
  EXPECT_FALSE(headless_enabled(IDC_ENABLE_TRVX));
}

// A unit in update mode takes the whole image over JACK and then runs the new firmware.
TEST_F(JackE2E, UpdateModeUnit) {
  choose_vexa();
  ASSERT_TRUE(text_becomes(IDC_DEVICE_TEXT, "vexa in update mode", 10000)) << headless_text(IDC_DEVICE_TEXT);
  ASSERT_TRUE(headless_wait_until([] { return headless_enabled(IDC_UPDATE_BUTTON); }, 2000));
  ASSERT_EQ(headless_click(IDC_UPDATE_BUTTON), USER32_OK);
  ASSERT_TRUE(text_becomes(IDC_STATUS_TEXT, "Programming successful", 300000))
      << headless_text(IDC_STATUS_TEXT) << ", progress " << headless_position(IDC_PROGRESS);
  EXPECT_TRUE(headless_boxes().empty());
  // Every packet acknowledged; a reply lost on the way would only add a repeat.
  EXPECT_EQ(log_lines("rx F0 2C 4D 12 F7"), 1);
  EXPECT_GE(log_lines("rx F0 2C 4D 30"), 2488);
  EXPECT_GE(log_lines("tx F0 2C 4D 40 F7"), 2488);
  EXPECT_EQ(log_lines("tx F0 2C 4D 4E F7"), 0);
  EXPECT_EQ(log_lines("tx F0 2C 4D 60 F7"), 1);
  // Back in the unconnected state, choosing the unit again shows its new firmware.
  ASSERT_TRUE(text_becomes(IDC_STATUS_TEXT, " ", 10000));
  choose_vexa();
  EXPECT_TRUE(text_becomes(IDC_DEVICE_TEXT, "Firmware 3.1", 10000)) << headless_text(IDC_DEVICE_TEXT);
}
