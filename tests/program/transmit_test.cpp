// The SysEx transmitter against the WINMM layer, and the decoder's control updates under load.
#include <algorithm>
#include <thread>

#include "program_support.h"

namespace {

const Bytes STATUS_QUERY = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};

class TransmitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winmm_use_backend(sim_start());
    init_port_lock();
  }
  void TearDown() override {
    winmm_set_output_faults(WinmmOutputFaults());
    close_midi_in();
    close_midi_out();
  }
  void open_both() {
    ASSERT_EQ(open_midi_out(0), OPEN_OUT_OK);
    ASSERT_EQ(open_midi_in(0), OPEN_IN_OK);
    platform_clear_sleeps();
    winmm_clear_calls();
  }
  int32_t send_status_query() {
    return send_sysex(STATUS_QUERY.data(), static_cast<int32_t>(STATUS_QUERY.size()));
  }
  static std::vector<DWORD> pauses() {
    std::vector<DWORD> ms;
    for (const PlatformSleep& sleep : platform_sleeps()) ms.push_back(sleep.ms);
    return ms;
  }
};

TEST_F(TransmitTest, WithNoOutputOpenNothingIsCalled) {
  winmm_clear_calls();
  EXPECT_EQ(send_status_query(), 0);
  EXPECT_TRUE(winmm_calls().empty());
  EXPECT_TRUE(platform_sleeps().empty());
}

TEST_F(TransmitTest, ASendDoneAtOnceNeedsNoPause) {
  open_both();
  EXPECT_EQ(send_status_query(), 0);
  EXPECT_TRUE(pauses().empty());
  EXPECT_EQ(winmm_calls(),
            (std::vector<std::string>{"midiOutPrepareHeader", "midiOutLongMsg", "midiOutUnprepareHeader"}));
  EXPECT_EQ(sim_unit_snapshot().received.back(), STATUS_QUERY);
  EXPECT_NE(midi_out_port.load(), nullptr);
  EXPECT_FALSE(tx_header.dwFlags & MHDR_PREPARED);
}

TEST_F(TransmitTest, AFailingPrepareIsReturnedAndThePortsStayOpen) {
  open_both();
  WinmmOutputFaults faults;
  faults.prepare_result = MMSYSERR_NOMEM;
  winmm_set_output_faults(faults);
  EXPECT_EQ(send_status_query(), MMSYSERR_NOMEM);
  EXPECT_EQ(winmm_calls(), std::vector<std::string>{"midiOutPrepareHeader"});
  EXPECT_TRUE(pauses().empty());
  EXPECT_TRUE(sim_unit_snapshot().received.empty());
  EXPECT_NE(midi_out_port.load(), nullptr);
  EXPECT_NE(midi_in_port.load(), nullptr);
}

// A send that never shows as done, another error from the send, and a header that stays busy: each waits
// in 50 ms pauses; a header still busy after five releases closes both ports.
TEST_F(TransmitTest, SendFaultsWaitInPausesAndReleaseOrClose) {
  struct Case {
    WinmmOutputFaults faults;
    size_t pauses;
    bool ports_open;
  };
  Case cases[4] = {{{}, 5, true}, {{}, 5, true}, {{}, 5, false}, {{}, 4, true}};
  cases[0].faults.never_done = true;
  cases[1].faults.long_msg_result = MIDIERR_NOTREADY;
  cases[2].faults.unprepare_busy = 5;
  cases[3].faults.unprepare_busy = 4;
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    open_both();
    winmm_set_output_faults(c.faults);
    EXPECT_EQ(send_status_query(), 0);
    EXPECT_EQ(pauses(), std::vector<DWORD>(c.pauses, 50));
    EXPECT_EQ(midi_out_port.load() != nullptr, c.ports_open);
    EXPECT_EQ(midi_in_port.load() != nullptr, c.ports_open);
    winmm_set_output_faults(WinmmOutputFaults());
  }
}

TEST_F(TransmitTest, AGonePortClosesInputThenOutputAtOnce) {
  open_both();
  sim_unplug();
  winmm_clear_calls();
  EXPECT_EQ(send_status_query(), 0);
  EXPECT_TRUE(pauses().empty());
  std::vector<std::string> calls = winmm_calls();
  auto at = [&](const char* name) { return std::find(calls.begin(), calls.end(), name) - calls.begin(); };
  EXPECT_LT(at("midiOutLongMsg"), at("midiInClose"));
  EXPECT_LT(at("midiInClose"), at("midiOutClose"));
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  winmm_clear_calls();
  EXPECT_EQ(send_status_query(), 0);
  EXPECT_TRUE(winmm_calls().empty());
}

TEST_F(TransmitTest, CloseRepeatsWhileTheOutputIsBusyAndOpenFailuresLeaveItClosed) {
  SimSetup setup;
  setup.outputs = {{"vexa", true, 0, 3}, {"busy", false, MMSYSERR_ALLOCATED}};
  winmm_use_backend(sim_start(setup));
  ASSERT_EQ(open_midi_out(0), OPEN_OUT_OK);
  winmm_clear_calls();
  EXPECT_EQ(close_midi_out(), 0);
  std::vector<std::string> calls = winmm_calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "midiOutClose"), 4);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(close_midi_out(), 0);  // nothing open: nothing to do

  ASSERT_EQ(open_midi_out(0), OPEN_OUT_OK);
  EXPECT_EQ(open_midi_out(2),
            OPEN_OUT_NO_DEVICE);  // the device count: the open output is closed all the same
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(open_midi_out(1), OPEN_OUT_FAILED);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(open_midi_in(1), OPEN_IN_NO_DEVICE);
  EXPECT_EQ(midi_in_port.load(), nullptr);
}

// The dialog thread opens and closes the ports over and over while the unit floods replies whose
// control updates the decoder hands to the dialog: neither thread may ever wait for the other.
class FloodTest : public ProgramTest {};

TEST_F(FloodTest, AThousandReconnectsWhileTheUnitFloodsReplies) {
  start(SimSetup(), nullptr, 1000);
  std::atomic<bool> flooding{true};
  const Bytes replies = {0xF0, 0x2C, 0x4D, 0x62, 0x01, 0xF7, 0xF0, 0x2C, 0x4D, 0x66, 0x05, 0xF7, 0xF0,
                         0x2C, 0x4D, 0x63, 0x11, 0xF7, 0xF0, 0x2C, 0x4D, 0x21, 0x33, 0x31, 0xF7};
  std::thread flood([&] {
    while (flooding) {
      sim_inject(0, replies);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  int cycles = 0;
  for (; cycles < 1000; ++cycles) {
    if (headless_combo_open(IDC_PORT_COMBO) != USER32_OK) break;
    if (headless_combo_choose(IDC_PORT_COMBO, 0) != USER32_OK) break;
  }
  flooding = false;
  flood.join();
  EXPECT_EQ(cycles, 1000);
  // The unit's answers to the last connection's read-back come after the flood or not, as timing has it;
  // once they are in, the flood's values must still reach the controls.
  settle();
  sim_inject(0, replies);
  settle();
  EXPECT_EQ(headless_checked(IDC_BLANK_LEADING_ZERO), BST_CHECKED);
  EXPECT_EQ(headless_text(IDC_MMC_ID_EDIT), "017");
}

}  // namespace
