// Connecting to the unit, the half-second presence monitor, and losing the unit.
#include "program_support.h"

namespace {

const char OUTPUT_FAILED[] =
    "Selected MIDI output not available.\nPort is probably used by an other application.";
const char INPUT_FAILED[] =
    "Selected MIDI input not available.\nPort is probably used by an other application.";

// Settings in the unit's order of parameter bytes: 52 53 55 56 58 59 5A 5B 5C 5D.
SimSetup unit_with_settings() {
  SimSetup setup;
  const uint8_t settings[SIM_PARAM_COUNT] = {1, 41, 0, 9, 1, 1, 0, 1, 0, 1};
  std::copy(std::begin(settings), std::end(settings), setup.unit.settings);
  return setup;
}

class MonitorTest : public ProgramTest {};

TEST_F(MonitorTest, ConnectingReadsBackEverySettingAndShowsTheFirmware) {
  start(unit_with_settings());
  platform_clear_sleeps();
  connect();

  // The ten read-back messages and the status query; the unit is told its brightness back once, at the
  // slider's first redraw after the reply.
  std::vector<Bytes> burst;
  for (int param : {0x52, 0x55, 0x53, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x56})
    burst.push_back(bytes_of({0xF0, 0x2C, 0x4D, param, 0x7F, 0xF7}));
  burst.push_back(bytes_of({0xF0, 0x2C, 0x4D, 0x10, 0xF7}));
  burst.push_back(bytes_of({0xF0, 0x2C, 0x4D, 0x56, 0x09, 0xF7}));
  EXPECT_EQ(unit_received(), burst);
  EXPECT_EQ(brightness_sent.load(), 9);
  EXPECT_EQ(sleeps_of(ui_thread_id), std::vector<DWORD>(12, 50));

  std::vector<int> ticked;  // 0x58 at 1 means the stationary LTC output is off
  for (auto [id, param] : CHECK_BOXES) ticked.push_back(headless_checked(id));
  EXPECT_EQ(ticked, (std::vector<int>{BST_CHECKED, 0, 0, BST_CHECKED, 0, BST_CHECKED, 0, BST_CHECKED}));
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "041");
  EXPECT_EQ(headless_position(IDC_MMC_ID_SPIN), 41);
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), 9);
  EXPECT_EQ(headless_range_max(IDC_BRIGHTNESS), 15);
  for (int id : SETTINGS_CONTROLS) EXPECT_TRUE(headless_enabled(id)) << id;

  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "");
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");
  EXPECT_FALSE(headless_enabled(IDC_UPDATE_BUTTON));
  EXPECT_EQ(mode_of(shown_mode), Running);
}

TEST_F(MonitorTest, AVersionByteOf127ShowsInvalidFirmware) {
  SimSetup setup;
  setup.unit.version[0] = 0x33;
  setup.unit.version[1] = 0x7F;
  start_connected(setup);
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Invalid firmware");
  EXPECT_FALSE(headless_enabled(IDC_UPDATE_BUTTON));
}

TEST_F(MonitorTest, UpdateModeEnablesTheButtonAtEveryTickAndWritesTheTextOnce) {
  SimSetup setup;
  setup.unit.mode = SimMode::Boot;
  setup.unit.boot_code = 0x20;
  start_connected(setup);
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa in update mode");
  EXPECT_TRUE(headless_enabled(IDC_UPDATE_BUTTON));

  // While the shown state stays, a tick rewrites no text but sets the button again.
  SetDlgItemTextA(headless_dialog(), IDC_DEVICE_TEXT, "marker");
  EnableWindow(GetDlgItem(headless_dialog(), IDC_UPDATE_BUTTON), FALSE);
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "marker");
  EXPECT_TRUE(headless_enabled(IDC_UPDATE_BUTTON));
}

TEST_F(MonitorTest, LosingTheUnitGreysTheSettingsAndNothingReconnectsByItself) {
  start_connected(unit_with_settings());
  ASSERT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");

  sim_unplug();
  tick();
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
  for (int id : SETTINGS_CONTROLS) EXPECT_FALSE(headless_enabled(id)) << id;
  EXPECT_FALSE(headless_enabled(IDC_UPDATE_BUTTON));
  EXPECT_TRUE(headless_combo_items(IDC_PORT_COMBO).empty());
  EXPECT_EQ(headless_text(IDC_PORT_COMBO), "");
  // The values stay; only the controls are greyed.
  EXPECT_EQ(headless_checked(IDC_ENABLE_TRVX), BST_CHECKED);
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "041");
  EXPECT_EQ(headless_position(IDC_BRIGHTNESS), 9);

  winmm_use_backend(sim_start(unit_with_settings()));  // the unit is plugged in again
  tick();
  tick();
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
  EXPECT_TRUE(unit_received().empty());

  connect_and_tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");
  EXPECT_TRUE(headless_enabled(IDC_ENABLE_TRVX));
  EXPECT_TRUE(headless_enabled(IDC_MMC_ID_SPIN));
}

TEST_F(MonitorTest, ClosingTheListWithoutAChoiceOpensNothing) {
  start();
  ASSERT_EQ(headless_combo_open(IDC_PORT_COMBO), USER32_OK);
  EXPECT_EQ(headless_combo_items(IDC_PORT_COMBO), std::vector<std::string>{"vexa"});
  ASSERT_EQ(headless_combo_cancel(IDC_PORT_COMBO), USER32_OK);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
  EXPECT_TRUE(headless_combo_items(IDC_PORT_COMBO).empty());
  // Without an input port every tick repeats the not-found display.
  SetDlgItemTextA(headless_dialog(), IDC_DEVICE_TEXT, "marker");
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
}

TEST_F(MonitorTest, WithoutOutputsTheListHoldsOnlyTheWarning) {
  SimSetup setup;
  setup.outputs.clear();
  setup.inputs.clear();
  start(setup);
  ASSERT_EQ(headless_combo_open(IDC_PORT_COMBO), USER32_OK);
  expect_box("Warning", "No MIDI outputs available");
  ASSERT_TRUE(headless_wait_idle());
  EXPECT_EQ(headless_combo_items(IDC_PORT_COMBO), std::vector<std::string>{"No MIDI outputs available"});
  ASSERT_EQ(headless_combo_choose(IDC_PORT_COMBO, 0), USER32_OK);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
}

TEST_F(MonitorTest, AnOutputThatCannotBeOpenedWarnsWhileTheTimerRuns) {
  SimSetup setup;
  setup.outputs[0].open_result = MMSYSERR_ALLOCATED;
  start(setup);
  ASSERT_EQ(headless_combo_open(IDC_PORT_COMBO), USER32_OK);
  headless_combo_choose(IDC_PORT_COMBO, 0);
  ASSERT_TRUE(headless_wait_box());
  // The timer was armed before the box: its tick comes while the box is still open.
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
  expect_box("Warning", OUTPUT_FAILED);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(midi_in_port.load(), nullptr);
}

// Opening the input fails at one step, first called directly and then through the person's choice.
struct InputFault {
  const char* name;
  WinmmInputFaults faults;
  bool refused;  // midiInOpen itself fails
  OpenInResult result;
};

const InputFault INPUT_FAULTS[] = {
    {"Open", {}, true, OPEN_IN_FAILED},
    {"FirstPrepare", {1, 0, 0}, false, OPEN_IN_PREPARE_FAILED},
    {"SecondPrepare", {2, 0, 0}, false, OPEN_IN_PREPARE_FAILED},
    {"FirstAddBuffer", {0, 1, 0}, false, OPEN_IN_QUEUE_FAILED},
    {"SecondAddBuffer", {0, 2, 0}, false, OPEN_IN_QUEUE_FAILED},
    {"Start", {0, 0, 1}, false, OPEN_IN_START_FAILED},
};

void PrintTo(const InputFault& fault, std::ostream* out) { *out << fault.name; }

class InputFaultTest : public MonitorTest, public ::testing::WithParamInterface<InputFault> {
 protected:
  void expect_nothing_open() {
    EXPECT_EQ(midi_in_port.load(), nullptr);
    EXPECT_FALSE(rx_header_1.dwFlags & (MHDR_INQUEUE | MHDR_PREPARED));
    EXPECT_FALSE(rx_header_2.dwFlags & (MHDR_INQUEUE | MHDR_PREPARED));
  }
};

TEST_P(InputFaultTest, NothingStaysOpenOrQueuedAndALaterChoiceOpensCleanly) {
  SimSetup setup;
  if (GetParam().refused) setup.inputs[0].open_result = MMSYSERR_ALLOCATED;
  start(setup);
  winmm_set_input_faults(GetParam().faults);
  EXPECT_EQ(open_midi_in(0), GetParam().result);
  expect_nothing_open();

  winmm_set_input_faults(GetParam().faults);
  ASSERT_EQ(headless_combo_open(IDC_PORT_COMBO), USER32_OK);
  headless_combo_choose(IDC_PORT_COMBO, 0);
  expect_box("Warning", INPUT_FAILED);
  expect_nothing_open();
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_TRUE(unit_received().empty());

  winmm_use_backend(sim_start(SimSetup()));
  connect_and_tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");
  EXPECT_EQ(unit_received().size(), 12u);  // the read-back burst and the brightness echo
}

INSTANTIATE_TEST_SUITE_P(Steps, InputFaultTest, ::testing::ValuesIn(INPUT_FAULTS),
                         [](const ::testing::TestParamInfo<InputFault>& info) { return info.param.name; });

// The output chosen is opened with the first input whose name begins with its whole name, or not at all.
TEST_F(MonitorTest, AnOutputIsOpenedWithItsInputOrNotAtAll) {
  SimSetup setup;
  setup.outputs = {{"Synth", false}, {"vexa", true}};
  setup.inputs = {{"vex", false}, {"vexa", true}};
  start(setup);
  connect(0);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_TRUE(headless_box_log().empty());
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
  connect(1);
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");
  EXPECT_EQ(headless_combo_items(IDC_PORT_COMBO), (std::vector<std::string>{"Synth", "vexa"}));
  EXPECT_EQ(headless_combo_selection(IDC_PORT_COMBO), 1);
}

TEST(Pairing, TheFirstInputThatBeginsWithTheWholeOutputNameCaseByCase) {
  // A name longer than szPname is cut after a whole character, the same for the output and its input.
  const std::string long_name =
      "Ger\xC3\xA4t f\xC3\xBCr \xC3\x9C"
      "berl\xC3\xA4nge und Kl\xC3\xA4nge";
  struct Case {
    std::vector<std::string> outputs, inputs;
    std::vector<int> paired;  // for each output, and one more that does not exist
  };
  const Case cases[] = {
      {{"Keys", "vexa"}, {"Keys", "vexa", "vexa 2"}, {0, 1, NO_MATCHING_INPUT}},
      {{"", "vexa 2", "VEXA"}, {"Keys", "vexa"}, {0, NO_MATCHING_INPUT, NO_MATCHING_INPUT}},
      {{"vexa"}, {}, {NO_MATCHING_INPUT}},
      {{long_name}, {"Keys", long_name + " In"}, {1, NO_MATCHING_INPUT}},
  };
  for (const Case& c : cases) {
    SimSetup setup;
    setup.outputs.clear();
    setup.inputs.clear();
    for (const std::string& name : c.outputs) setup.outputs.push_back({name});
    for (const std::string& name : c.inputs) setup.inputs.push_back({name});
    winmm_use_backend(sim_start(setup));
    for (size_t i = 0; i < c.paired.size(); ++i)
      EXPECT_EQ(find_matching_input(static_cast<int>(i)), c.paired[i]) << c.outputs[0] << ", output " << i;
  }
}

TEST_F(MonitorTest, ADeviceThatNeverAnswersIsNotFoundButStaysOpen) {
  SimSetup setup;
  setup.outputs = {{"vexa", false}};
  setup.inputs = {{"vexa", false}};
  start_connected(setup);
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
  EXPECT_TRUE(headless_combo_items(IDC_PORT_COMBO).empty());
  EXPECT_NE(midi_in_port.load(), nullptr);
  EXPECT_NE(midi_out_port.load(), nullptr);
  EXPECT_EQ(sim_sent_to(0).size(), 11u);
  // A status reply that still arrives switches the display at the following tick.
  sim_inject(0, bytes_of({0xF0, 0x2C, 0x4D, 0x21, 0x33, 0x31, 0xF7}));
  settle();
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "Firmware 3.1");
}

// Puts the unit's first status reply (update mode) through the input at the moment the tick writes
// "vexa not found", between the tick's reading of the status and its recording of what it showed.
void reply_while_not_found_is_drawn(HWND, const char* text) {
  static bool replied = false;
  if (replied || std::string(text) != "vexa not found") return;
  replied = true;
  sim_inject(0, bytes_of({0xF0, 0x2C, 0x4D, 0x1F, 0x03, 0x01, 0xF7}));
  sim_flush();
}

TEST_F(MonitorTest, AReplyDuringATickIsShownAtTheNextTick) {
  SimSetup setup;
  setup.outputs = {{"vexa", false}};
  setup.inputs = {{"vexa", false}};
  start(setup);
  connect();
  user32_set_text_hook(reply_while_not_found_is_drawn);
  tick();
  user32_set_text_hook(nullptr);
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa not found");
  ASSERT_EQ(mode_of(device_mode), UpdateMode);
  tick();
  EXPECT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa in update mode");
  EXPECT_TRUE(headless_enabled(IDC_UPDATE_BUTTON));
}

}  // namespace
