// How an upload ends: for each way, what reaches the unit, the worker's pauses, the status line, the
// worker's own message box and what run_upload returns. run_upload is called as the worker calls it, so that
// its result shows (upload_thread tells only success, failure and a close apart); the dialog shows the
// statuses it posts. The unit answers before each send returns, so the only pauses are those of waits that
// go unanswered.
#include <cstring>
#include <map>
#include <thread>

#include "program_support.h"

namespace {

struct Pauses {
  DWORD ms = 0;
  size_t count = 0;
};

struct Ending {
  const char* name;
  std::map<int, std::string> scripts = {};  // the unit's answers to packets (SimConfig::packet_scripts)
  void (*arrange)(SimSetup& setup, Bytes& image) = nullptr;  // the unit and the small image before the start
  void (*then)() = nullptr;                                  // once the unit is connected
  const char* sent;  // what reached the unit: Q status query, E erase, 0..3 the image's packets, F finish
  Pauses pauses = {};
  const char* status;
  const char* box = nullptr;  // the worker's own box ("Error")
  UploadResult result;
};

const Bytes ACK = {0xF0, 0x2C, 0x4D, 0x40, 0xF7};
const char SUCCESS[] = "Programming successful";
const char TIMEOUT[] = "Timeout error";
const char CORRUPT[] = "Data file corrupted";

// An ACK that the unit sends during the worker's `ack_at`-th pause of 1 ms, having taken packet 0 at the
// pause before.
std::atomic<int> packet_pauses{0};
std::atomic<int> ack_at{0};
void ack_late(DWORD ms) {
  if (ms != 1) return;
  const int pause = ++packet_pauses;
  if (pause == ack_at - 1) sim_with_unit([](SimUnit& unit) { unit.next_packet = 1; });
  if (pause == ack_at) {
    sim_inject(0, ACK);
    sim_flush();
  }
}

void change_header(Bytes& image, size_t at, const char* bytes) {
  std::memcpy(image.data() + at, bytes, std::strlen(bytes));
}

const Ending ENDINGS[] = {
    {.name = "Written", .sent = "QE0123QF", .status = SUCCESS, .result = UPLOAD_OK},
    {.name = "ModeCheckUnanswered",
     .then =
         [] { sim_with_unit([](SimUnit& unit) { unit.config.status_silence = unit.status_silenced + 1; }); },
     .sent = "Q",
     .pauses = {50, 9},
     .status = TIMEOUT,
     .result = UPLOAD_TIMEOUT},
    {.name = "UnitRunsItsFirmware",
     .then = [] { sim_with_unit([](SimUnit& unit) { unit.mode = SimMode::Running; }); },
     .sent = "Q",
     .status = "Preparing",
     .box = "vexa not in update mode",
     .result = UPLOAD_NOT_IN_UPDATE_MODE},
    {.name = "EraseUnanswered",
     .arrange = [](SimSetup& setup, Bytes&) { setup.unit.erase_never_answers = true; },
     .sent = "QE",
     .pauses = {200, 300},
     .status = TIMEOUT,
     .result = UPLOAD_TIMEOUT},
    // The counters start again after each ACK.
    {.name = "TwoNaksThenAnAckTwice",
     .scripts = {{1, "NN"}, {2, "NN"}},
     .sent = "QE01112223QF",
     .status = SUCCESS,
     .result = UPLOAD_OK},
    {.name = "OtherAnswersDoNotCount",
     .scripts = {{2, "RRRNN"}},
     .sent = "QE012222223QF",
     .status = SUCCESS,
     .result = UPLOAD_OK},
    {.name = "ThirdNakWithTimeOutsBetween",
     .scripts = {{1, "NTNTN"}},
     .sent = "QE011111",
     .pauses = {1, 1002},
     .status = "Checksum error",
     .result = UPLOAD_CHECKSUM},
    {.name = "ThreeSilences",
     .scripts = {{1, "TTT"}},
     .sent = "QE0111",
     .pauses = {1, 1503},
     .status = TIMEOUT,
     .result = UPLOAD_TIMEOUT},
    // An ACK in the last pause of a time-out counts and resets the counter, the time-out included.
    {.name = "AckInTheLastPauseOfATimeOut",
     .scripts = {{0, "T"}, {1, "TT"}},
     .then =
         [] {
           ack_at = 501;
           platform_set_sleep_hook(ack_late);
         },
     .sent = "QE011123QF",
     .pauses = {1, 1503},
     .status = SUCCESS,
     .result = UPLOAD_OK},
    {.name = "AckInTheLastPauseOfTheThirdTimeOut",
     .scripts = {{0, "TTT"}},
     .then =
         [] {
           ack_at = 1503;
           platform_set_sleep_hook(ack_late);
         },
     .sent = "QE000",
     .pauses = {1, 1503},
     .status = TIMEOUT,
     .result = UPLOAD_TIMEOUT},
    // The send that finds the unit gone closes the ports: the packet's further sends go nowhere.
    {.name = "UnpluggedDuringTheWrite",
     .arrange = [](SimSetup& setup, Bytes&) { setup.unit.unplug_after_packets = 2; },
     .sent = "QE01",
     .pauses = {1, 1503},
     .status = TIMEOUT,
     .result = UPLOAD_TIMEOUT},
    {.name = "VerifyUnanswered",
     .arrange = [](SimSetup& setup, Bytes&) { setup.unit.verify_answer = SimVerifyAnswer::Silence; },
     .sent = "QE0123Q",
     .pauses = {50, 9},
     .status = TIMEOUT,
     .result = UPLOAD_TIMEOUT},
    {.name = "VerifyPassesOverRunning",
     .arrange = [](SimSetup& setup, Bytes&) { setup.unit.verify_answer = SimVerifyAnswer::Running; },
     .sent = "QE0123Q",
     .pauses = {50, 9},
     .status = TIMEOUT,
     .result = UPLOAD_TIMEOUT},
    {.name = "VerifyTakesOneVersionByteOf127",
     .arrange = [](SimSetup& setup, Bytes&) { setup.unit.verify_answer = SimVerifyAnswer::BootPartial; },
     .sent = "QE0123QF",
     .status = SUCCESS,
     .result = UPLOAD_OK},
    {.name = "NoValidFirmwareAfterWriting",
     .arrange = [](SimSetup& setup, Bytes&) { setup.unit.verify_answer = SimVerifyAnswer::BootNoFirmware; },
     .sent = "QE0123Q",
     .status = "Invalid firmware",
     .result = UPLOAD_INVALID_FIRMWARE},
    {.name = "FinishUnanswered",
     .arrange = [](SimSetup& setup, Bytes&) { setup.unit.finish_silence = true; },
     .sent = "QE0123QF",
     .pauses = {50, 9},
     .status = TIMEOUT,
     .result = UPLOAD_FINISH_TIMEOUT},
    {.name = "DialogClosing",
     .then = [] { upload_stop = 1; },
     .sent = "Q",
     .status = "Preparing",
     .result = UPLOAD_CANCELLED},
    // The image: none, one without terminator, and headers of which only the tag and the signature count.
    {.name = "NoImage",
     .arrange = [](SimSetup&, Bytes& image) { image.clear(); },
     .sent = "",
     .status = "Preparing",
     .box = CORRUPT,
     .result = UPLOAD_CORRUPT_IMAGE},
    {.name = "ImageWithoutTerminator",
     .arrange = [](SimSetup&, Bytes& image) { image.pop_back(); },
     .sent = "",
     .status = "Preparing",
     .box = CORRUPT,
     .result = UPLOAD_CORRUPT_IMAGE},
    {.name = "TagInCapitals",
     .arrange = [](SimSetup&, Bytes& image) { change_header(image, 0, "VEXA"); },
     .sent = "",
     .status = "Preparing",
     .box = CORRUPT,
     .result = UPLOAD_CORRUPT_IMAGE},
    {.name = "SignatureChanged",
     .arrange = [](SimSetup&, Bytes& image) { change_header(image, 54, "E"); },
     .sent = "",
     .status = "Preparing",
     .box = CORRUPT,
     .result = UPLOAD_CORRUPT_IMAGE},
    {.name = "TerminatorAt5",
     .arrange = [](SimSetup&, Bytes& image) { image[5] = 0xFF; },
     .sent = "",
     .status = "Preparing",
     .box = CORRUPT,
     .result = UPLOAD_CORRUPT_IMAGE},
    {.name = "TerminatorAt23",
     .arrange = [](SimSetup&, Bytes& image) { image[23] = 0xFF; },
     .sent = "",
     .status = "Preparing",
     .box = CORRUPT,
     .result = UPLOAD_CORRUPT_IMAGE},
    {.name = "TerminatorAt54",
     .arrange = [](SimSetup&, Bytes& image) { image[54] = 0xFF; },
     .sent = "",
     .status = "Preparing",
     .box = CORRUPT,
     .result = UPLOAD_CORRUPT_IMAGE},
    // Offsets 5 to 23 are not compared; with no packet after the header the verify follows the erase.
    {.name = "OtherHeaderBytesAndNoPacket",
     .arrange =
         [](SimSetup&, Bytes& image) {
           std::fill(image.begin() + 5, image.begin() + 24, 0x00);
           image.resize(HEADER_LENGTH + 1);
           image.push_back(0xFF);
         },
     .sent = "QEQ",
     .status = "Invalid firmware",
     .result = UPLOAD_INVALID_FIRMWARE},
};

// The messages that reached the unit from `from` on, one letter each as in Ending::sent.
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
  const Ending& ending = GetParam();
  SimSetup setup = answering_at_once();
  setup.unit.packet_scripts = ending.scripts;
  Bytes image = small_image();
  const std::vector<Bytes> packets = image_packets(image);
  if (ending.arrange) ending.arrange(setup, image);
  start(setup, image.empty() ? nofirmware_module() : module_with_image(image), 200);
  for (int i = 0; image.empty() && i < 2; ++i) {  // "hResLoad" and "lpResLock"
    ASSERT_TRUE(headless_wait_box());
    headless_dismiss_box();
  }
  connect_and_tick();
  ASSERT_EQ(headless_text(IDC_DEVICE_TEXT), "vexa in update mode");
  upload_stop = 0;
  packet_pauses = 0;
  if (ending.then) ending.then();
  const size_t before = unit_received().size();
  platform_clear_sleeps();

  std::atomic<UploadResult> result{UPLOAD_OK};
  std::atomic<DWORD> worker{0};
  std::jthread upload([&] {
    worker = GetCurrentThreadId();
    result = run_upload();
  });
  if (ending.box) {
    EXPECT_TRUE(headless_wait_box());
  } else {
    upload.join();
  }
  EXPECT_TRUE(headless_wait_idle());
  EXPECT_EQ(headless_text(IDC_STATUS_TEXT), ending.status);
  if (ending.box) {
    expect_box("Error", ending.box);
    upload.join();
  }
  EXPECT_EQ(result.load(), ending.result);
  EXPECT_EQ(sent_since(before, packets), ending.sent);
  EXPECT_EQ(sleeps_of(worker), std::vector<DWORD>(ending.pauses.count, ending.pauses.ms));
}

void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }

INSTANTIATE_TEST_SUITE_P(Endings, EndingTest, ::testing::ValuesIn(ENDINGS),
                         [](const ::testing::TestParamInfo<Ending>& info) { return info.param.name; });

}  // namespace
