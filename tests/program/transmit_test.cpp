// The SysEx transmitter against the WINMM layer, and the decoder's control updates under load.
#include <algorithm>
#include <thread>

#include "program_support.h"

namespace {

// One send of the status query: whether the ports are open before it, a fault of the WinMM output and
// whether the unit has gone; the send's result, the WinMM calls it makes ("midi" left out, and of the
// input's only its close; null: not compared), its pauses of 50 ms, whether both ports are open after it and
// whether the unit has the message. A send that never shows as done, another error from the send, and a
// header that stays busy each wait in pauses; a header still busy after five releases closes both ports, and
// so does a port that has gone, at once, input first.
struct Send {
  const char* name;
  bool opened;
  WinmmOutputFaults faults;
  bool gone;
  int32_t result;
  const char* calls;
  size_t pauses;
  bool open;
  bool received;
};

const char SENT_AND_RELEASED[] = "OutPrepareHeader OutLongMsg OutUnprepareHeader";
const char SENT_THEN_CLOSED[] = "OutPrepareHeader OutLongMsg OutUnprepareHeader InClose OutReset OutClose";

const Send SENDS[] = {
    {"NothingOpen", false, {}, false, 0, "", 0, false, false},
    {"DoneAtOnce", true, {}, false, 0, SENT_AND_RELEASED, 0, true, true},
    {"PrepareFails", true, {MMSYSERR_NOMEM}, false, MMSYSERR_NOMEM, "OutPrepareHeader", 0, true, false},
    {"NeverDone", true, {0, true}, false, 0, SENT_AND_RELEASED, 5, true, true},
    {"SendRefused", true, {0, false, MIDIERR_NOTREADY}, false, 0, SENT_AND_RELEASED, 5, true, false},
    {"HeaderBusyFourTimes", true, {0, false, 0, 4}, false, 0, nullptr, 4, true, true},
    {"HeaderBusyFiveTimes", true, {0, false, 0, 5}, false, 0, nullptr, 5, false, true},
    {"PortGone", true, {}, true, 0, SENT_THEN_CLOSED, 0, false, false},
};

TEST(Transmit, OneSendWithEachFault) {
  const Bytes query = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
  init_port_lock();
  platform_set_sleep_divisor(10);
  for (const Send& send : SENDS) {
    SCOPED_TRACE(send.name);
    winmm_use_backend(sim_start());
    ASSERT_TRUE(!send.opened || (open_midi_out(0) == OPEN_OUT_OK && open_midi_in(0) == OPEN_IN_OK));
    if (send.gone) sim_unplug();
    winmm_set_output_faults(send.faults);
    platform_clear_sleeps();
    winmm_clear_calls();
    EXPECT_EQ(send_sysex(query.data(), static_cast<int32_t>(query.size())), send.result);
    winmm_set_output_faults(WinmmOutputFaults());
    std::string calls;
    for (const std::string& call : winmm_calls())
      if (call.rfind("midiIn", 0) != 0 || call == "midiInClose")
        calls += (calls.empty() ? "" : " ") + call.substr(4);
    EXPECT_EQ(calls, send.calls ? send.calls : calls);
    std::vector<DWORD> pauses;
    for (const PlatformSleep& sleep : platform_sleeps()) pauses.push_back(sleep.ms);
    EXPECT_EQ(pauses, std::vector<DWORD>(send.pauses, 50));
    EXPECT_EQ(midi_out_port.load() != nullptr, send.open);
    EXPECT_EQ(midi_in_port.load() != nullptr, send.open);
    EXPECT_EQ(sim_unit_snapshot().received.size(), send.received ? 1u : 0u);
    close_midi_in();
    close_midi_out();
  }
}

TEST(Transmit, CloseRepeatsWhileTheOutputIsBusyAndOpenFailuresLeaveItClosed) {
  init_port_lock();
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
  // The device count: the open output is closed all the same.
  EXPECT_EQ(open_midi_out(2), OPEN_OUT_NO_DEVICE);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(open_midi_out(1), OPEN_OUT_FAILED);
  EXPECT_EQ(midi_out_port.load(), nullptr);
  EXPECT_EQ(open_midi_in(1), OPEN_IN_NO_DEVICE);
  EXPECT_EQ(midi_in_port.load(), nullptr);
  close_midi_out();
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
