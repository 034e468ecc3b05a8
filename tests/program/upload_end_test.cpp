// How an upload ends: for each way, what reaches the unit, the worker's pauses, the status line, what
// run_upload returns and the worker's own message box. run_upload is called as the worker calls it, so that
// its result shows (upload_thread tells only success, failure and a close apart); the dialog shows the
// statuses it posts. The unit answers before each send returns, so the only pauses are those of waits that
// go unanswered.
#include <cstring>
#include <map>
#include <sstream>
#include <thread>

#include "program_support.h"
#include "sim/unit/options.h"

namespace {

// The unit as vexa-sim's options set it ("packet-script 1 NN; verify running"), changes to the small image
// before the start, and a change once the unit is connected.
struct Given {
  const char* name;
  const char* unit = "";
  void (*image)(Bytes& image) = nullptr;
  void (*then)() = nullptr;
};

// What reached the unit (Q status query, E erase, 0..3 the small image's packets, F finish), the worker's
// pauses, the status line at the end, run_upload's result and the worker's own box ("Error").
struct Expected {
  const char* sent;
  std::pair<DWORD, size_t> pauses;  // length and count
  const char* status;
  UploadResult result;
  const char* box = nullptr;
};

struct Ending {
  Given given;
  Expected expected;
};

const char SUCCESS[] = "Programming successful";
const char TIMEOUT[] = "Timeout error";
const Expected CORRUPT = {"", {}, "Preparing", UPLOAD_CORRUPT_IMAGE, "Data file corrupted"};

// An ACK that the unit sends during the worker's `ack_at`-th pause of 1 ms, having taken packet 0 at the
// pause before.
std::atomic<int> packet_pauses{0};
std::atomic<int> ack_at{0};
void ack_late(DWORD ms) {
  if (ms != 1) return;
  const int pause = ++packet_pauses;
  if (pause == ack_at - 1) sim_with_unit([](SimUnit& unit) { unit.next_packet = 1; });
  if (pause != ack_at) return;
  sim_inject(0, {0xF0, 0x2C, 0x4D, 0x40, 0xF7});
  sim_flush();
}
template <int pause>
void ack_in_pause() {
  ack_at = pause;
  platform_set_sleep_hook(ack_late);
}

void silence_status() {
  sim_with_unit([](SimUnit& unit) { unit.config.status_silence = unit.status_silenced + 1; });
}
void run_firmware() {
  sim_with_unit([](SimUnit& unit) { unit.mode = SimMode::Running; });
}
void close_dialog() { upload_stop = 1; }

void no_image(Bytes& image) { image.clear(); }
void no_terminator(Bytes& image) { image.pop_back(); }
void tag_in_capitals(Bytes& image) { std::memcpy(image.data(), "VEXA", 4); }
void signature_changed(Bytes& image) { image[54] = 'E'; }
template <size_t at>
void terminator_at(Bytes& image) {
  image[at] = 0xFF;
}
// Offsets 5 to 23 are not compared; with no packet after the header the verify follows the erase.
void other_header_bytes_and_no_packet(Bytes& image) {
  std::fill(image.begin() + 5, image.begin() + 24, 0x00);
  image.resize(HEADER_LENGTH + 1);
  image.push_back(0xFF);
}

const Ending ENDINGS[] = {
    {{"Written"}, {"QE0123QF", {}, SUCCESS, UPLOAD_OK}},
    {{"ModeCheckUnanswered", "", nullptr, silence_status}, {"Q", {50, 9}, TIMEOUT, UPLOAD_TIMEOUT}},
    {{"UnitRunsItsFirmware", "", nullptr, run_firmware},
     {"Q", {}, "Preparing", UPLOAD_NOT_IN_UPDATE_MODE, "vexa not in update mode"}},
    {{"EraseUnanswered", "erase-never-answers"}, {"QE", {200, 300}, TIMEOUT, UPLOAD_TIMEOUT}},
    // The counters start again after each ACK; other answers count as nothing.
    {{"TwoNaksThenAnAckTwice", "packet-script 1 NN; packet-script 2 NN"},
     {"QE01112223QF", {}, SUCCESS, UPLOAD_OK}},
    {{"OtherAnswersDoNotCount", "packet-script 2 RRRNN"}, {"QE012222223QF", {}, SUCCESS, UPLOAD_OK}},
    {{"ThirdNakWithTimeOutsBetween", "packet-script 1 NTNTN"},
     {"QE011111", {1, 1002}, "Checksum error", UPLOAD_CHECKSUM}},
    {{"ThreeSilences", "packet-script 1 TTT"}, {"QE0111", {1, 1503}, TIMEOUT, UPLOAD_TIMEOUT}},
    // An ACK in the last pause of a time-out counts and resets the counter, the time-out included.
    {{"AckInTheLastPauseOfATimeOut", "packet-script 0 T; packet-script 1 TT", nullptr, ack_in_pause<501>},
     {"QE011123QF", {1, 1503}, SUCCESS, UPLOAD_OK}},
    {{"AckInTheLastPauseOfTheThirdTimeOut", "packet-script 0 TTT", nullptr, ack_in_pause<1503>},
     {"QE000", {1, 1503}, TIMEOUT, UPLOAD_TIMEOUT}},
    // The send that finds the unit gone closes the ports: the packet's further sends go nowhere.
    {{"UnpluggedDuringTheWrite", "unplug-after 2"}, {"QE01", {1, 1503}, TIMEOUT, UPLOAD_TIMEOUT}},
    {{"VerifyUnanswered", "verify silence"}, {"QE0123Q", {50, 9}, TIMEOUT, UPLOAD_TIMEOUT}},
    {{"VerifyPassesOverRunning", "verify running"}, {"QE0123Q", {50, 9}, TIMEOUT, UPLOAD_TIMEOUT}},
    {{"VerifyTakesOneVersionByteOf127", "verify partial"}, {"QE0123QF", {}, SUCCESS, UPLOAD_OK}},
    {{"NoValidFirmwareAfterWriting", "verify no-firmware"},
     {"QE0123Q", {}, "Invalid firmware", UPLOAD_INVALID_FIRMWARE}},
    {{"FinishUnanswered", "finish-silence"}, {"QE0123QF", {50, 9}, TIMEOUT, UPLOAD_FINISH_TIMEOUT}},
    {{"DialogClosing", "", nullptr, close_dialog}, {"Q", {}, "Preparing", UPLOAD_CANCELLED}},
    {{"NoImage", "", no_image}, CORRUPT},
    {{"ImageWithoutTerminator", "", no_terminator}, CORRUPT},
    {{"TagInCapitals", "", tag_in_capitals}, CORRUPT},
    {{"SignatureChanged", "", signature_changed}, CORRUPT},
    {{"TerminatorAt5", "", terminator_at<5>}, CORRUPT},
    {{"TerminatorAt23", "", terminator_at<23>}, CORRUPT},
    {{"TerminatorAt54", "", terminator_at<54>}, CORRUPT},
    {{"OtherHeaderBytesAndNoPacket", "", other_header_bytes_and_no_packet},
     {"QEQ", {}, "Invalid firmware", UPLOAD_INVALID_FIRMWARE}},
};

// The messages that reached the unit from `from` on, one letter each as in Expected::sent.
std::string sent_since(size_t from, const std::vector<Bytes>& packets) {
  const std::map<Bytes, char> letters = {{{0xF0, 0x2C, 0x4D, 0x10, 0xF7}, 'Q'},
                                         {{0xF0, 0x2C, 0x4D, 0x12, 0xF7}, 'E'},
                                         {{0xF0, 0x2C, 0x4D, 0x50, 0xF7}, 'F'}};
  std::string sent;
  const std::vector<Bytes> received = unit_received();
  for (size_t i = from; i < received.size(); ++i) {
    const auto letter = letters.find(received[i]);
    const auto packet = std::find(packets.begin(), packets.end(), received[i]);
    sent += letter != letters.end()   ? letter->second
            : packet != packets.end() ? static_cast<char>('0' + (packet - packets.begin()))
                                      : '?';
  }
  return sent;
}

class EndingTest : public ProgramTest, public ::testing::WithParamInterface<Ending> {
 protected:
  void TearDown() override {
    platform_set_sleep_hook(nullptr);
    ProgramTest::TearDown();
  }
};

TEST_P(EndingTest, SendsPausesShowsAndReturns) {
  const Given& given = GetParam().given;
  const Expected& expected = GetParam().expected;
  SimSetup setup = answering_at_once();
  std::istringstream options(given.unit);
  for (std::string line, bad; std::getline(options, line, ';');)
    ASSERT_EQ(sim_read_config_line(setup.unit, line.c_str(), {}, bad), SIM_OPTION_OK) << line;
  Bytes image = small_image();
  const std::vector<Bytes> packets = image_packets(image);
  if (given.image) given.image(image);
  start(setup, image.empty() ? nofirmware_module() : module_with_image(image), 200);
  if (image.empty()) {  // the dialog warns of the missing image twice and stays usable
    expect_box("Warning", "hResLoad");
    expect_box("Warning", "lpResLock");
  }
  connect_and_tick();
  ASSERT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa in update mode");
  upload_stop = 0;
  if (given.then) given.then();
  const size_t before = unit_received().size();
  platform_clear_sleeps();

  std::atomic<UploadResult> result{UPLOAD_OK};
  std::atomic<DWORD> worker{0};
  std::jthread upload([&] {
    worker = GetCurrentThreadId();
    result = run_upload();
  });
  if (expected.box) {
    EXPECT_TRUE(headless_wait_box());
  } else {
    upload.join();
  }
  EXPECT_TRUE(headless_wait_idle());
  EXPECT_EQ(headless_text(IDC_STATUS_TEXT), expected.status);
  if (expected.box) {
    expect_box("Error", expected.box);
    upload.join();
  }
  EXPECT_EQ(result.load(), expected.result);
  EXPECT_EQ(sent_since(before, packets), expected.sent);
  EXPECT_EQ(sleeps_of(worker), std::vector<DWORD>(expected.pauses.second, expected.pauses.first));
}

void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.given.name; }

INSTANTIATE_TEST_SUITE_P(Endings, EndingTest, ::testing::ValuesIn(ENDINGS),
                         [](const ::testing::TestParamInfo<Ending>& info) { return info.param.given.name; });

}  // namespace
