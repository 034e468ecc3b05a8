// Support for end-to-end tests of the program: its WinMain runs on the headless driver's UI thread over
// the Linux layer, with the simulated unit as its MIDI devices.
#pragma once
#include <windows.h>

#include <commctrl.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/app.h"
#include "firmware/firmware.h"
#include "hosts/headless/headless.h"
#include "midi/midi.h"
#include "platform/midi/sim/midi_sim.h"
#include "platform/win32/kernel32_ext.h"
#include "platform/win32/user32_ext.h"
#include "platform/win32/winmm_ext.h"
#include "protocol/protocol.h"
#include "resource.h"

using Bytes = std::vector<uint8_t>;

// The eight check boxes and their parameter bytes, in the order of the bytes.
constexpr std::pair<int, int> CHECK_BOXES[] = {{IDC_BLANK_LEADING_ZERO, 0x52}, {IDC_BLANK_FRAMES, 0x55},
                                               {IDC_STATIONARY_LTC, 0x58},     {IDC_INFINITE_FLYWHEEL, 0x59},
                                               {IDC_MTC_MMC_LOCATE, 0x5A},     {IDC_LTC_HOLD_OFF, 0x5B},
                                               {IDC_MTC_FULL_MESSAGE, 0x5C},   {IDC_ENABLE_TRVX, 0x5D}};
// Every control of a setting, enabled as the unit reports its value.
constexpr int SETTINGS_CONTROLS[] = {IDC_BLANK_LEADING_ZERO, IDC_BLANK_FRAMES,   IDC_STATIONARY_LTC,
                                     IDC_INFINITE_FLYWHEEL,  IDC_MTC_MMC_LOCATE, IDC_LTC_HOLD_OFF,
                                     IDC_MTC_FULL_MESSAGE,   IDC_ENABLE_TRVX,    IDC_MMC_ID_EDIT,
                                     IDC_BRIGHTNESS,         IDC_MMC_ID_SPIN};

// A mode byte of the program's shared state as the mode it holds.
inline DeviceMode mode_of(const std::atomic<uint8_t>& mode) { return static_cast<DeviceMode>(mode.load()); }

inline std::atomic<DWORD> ui_thread_id{0};

inline int WINAPI test_entry(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  ui_thread_id = GetCurrentThreadId();
  return WinMain(instance, previous, command_line, show);
}

inline Bytes bytes_of(std::initializer_list<int> values) {
  Bytes bytes;
  for (int value : values) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

// The message that sets a parameter to a value.
inline Bytes set_message(int param, int value) { return bytes_of({0xF0, 0x2C, 0x4D, param, value, 0xF7}); }

// The messages of the unit's protocol that reached the simulated unit, in order.
inline std::vector<Bytes> unit_received() { return sim_unit_snapshot().received; }

inline int count_received(const Bytes& message) {
  int count = 0;
  for (const Bytes& received : unit_received()) count += received == message;
  return count;
}

// The pauses (Sleep milliseconds) of one thread, oldest first.
inline std::vector<DWORD> sleeps_of(DWORD thread) {
  std::vector<DWORD> pauses;
  for (const PlatformSleep& sleep : platform_sleeps()) {
    if (sleep.thread_id == thread) pauses.push_back(sleep.ms);
  }
  return pauses;
}

inline int count_sleeps(DWORD ms) {
  int count = 0;
  for (const PlatformSleep& sleep : platform_sleeps()) count += sleep.ms == ms;
  return count;
}

// A unit in update mode that holds no valid firmware, answering quickly and erasing in 20 ms.
inline SimSetup update_mode_unit() {
  SimSetup setup;
  setup.unit.mode = SimMode::Boot;
  setup.unit.version[0] = 0x7F;
  setup.unit.version[1] = 0x7F;
  setup.unit.reply_latency_us = 100;
  setup.unit.erase_time_us = 20000;
  return setup;
}

// The same unit with every answer there before its send returns: an upload's only pauses are those of
// waits that are not answered.
inline SimSetup answering_at_once() {
  SimSetup setup = update_mode_unit();
  setup.answer_before_send_returns = true;
  setup.unit.erase_time_us = 0;
  return setup;
}

// The data packets of an image after its header, each from its 0xF0 through the first 0xF7 after it.
inline std::vector<Bytes> image_packets(const Bytes& image) {
  std::vector<Bytes> packets;
  for (size_t i = HEADER_LENGTH; i < image.size(); ++i) {
    if (image[i] != 0xF0) continue;
    size_t end = i + 1;
    while (end < image.size() && image[end] != 0xF7) ++end;
    if (end == image.size()) break;
    packets.emplace_back(image.begin() + static_cast<std::ptrdiff_t>(i),
                         image.begin() + static_cast<std::ptrdiff_t>(end + 1));
    i = end;
  }
  return packets;
}

// The embedded firmware image of the program's module, terminator included.
inline Bytes embedded_image() {
  for (const PlatformResource& resource : platform_module_resources(nullptr)) {
    if (resource.name == "FIRMWAREFILE") return Bytes(resource.data, resource.data + resource.size);
  }
  return {};
}

// The header line and the first four packets of the embedded image, each with its CR, and the terminator:
// an upload of a few exchanges.
inline Bytes small_image() {
  const Bytes full = embedded_image();
  Bytes image(full.begin(), full.begin() + HEADER_LENGTH + 1);
  const std::vector<Bytes> packets = image_packets(full);
  for (size_t i = 0; i < 4; ++i) {
    image.insert(image.end(), packets[i].begin(), packets[i].end());
    image.push_back(0x0D);
  }
  image.push_back(0xFF);
  return image;
}

extern const unsigned char nofirmware_res[];
extern const size_t nofirmware_res_size;

// A module with the program's resources whose firmware image is replaced by `image`.
inline HINSTANCE module_with_image(const Bytes& image) {
  static std::deque<Bytes> images;  // modules keep pointers into their bytes for the life of the process
  const Bytes& kept = images.emplace_back(image);
  return platform_module_replacing("FIRMWAREFILE", kept.data(), kept.size());
}

// The program's resources without the firmware image (nofirmware.rc), as a module of its own.
inline HINSTANCE nofirmware_module() {
  static const HINSTANCE module = platform_register_module(nofirmware_res, nofirmware_res_size);
  return module;
}

class ProgramTest : public ::testing::Test {
 protected:
  // Starts the program over the simulated devices. Pauses run ten times faster than they are logged,
  // and the presence timer moves only when a test calls tick().
  void start(const SimSetup& setup = SimSetup(), HINSTANCE module = nullptr, unsigned sleep_divisor = 10) {
    winmm_use_backend(sim_start(setup));
    platform_set_sleep_divisor(sleep_divisor);
    user32_set_manual_timers(true);
    // The dialog as a person sees it: drawn, so that its slider is painted.
    user32_set_drawn(true);
    ASSERT_EQ(headless_start(test_entry, module), 0);
    ASSERT_TRUE(headless_wait_dialog());
  }

  void TearDown() override {
    if (!headless_running()) return;
    for (int i = 0; i < 10 && !headless_boxes().empty(); ++i) headless_dismiss_box();
    headless_close();
    for (int i = 0; i < 10 && !headless_boxes().empty(); ++i) {
      headless_wait_box(500);
      headless_dismiss_box();
    }
    EXPECT_EQ(headless_exit_code(20000), 0);
  }

  // The person opens the port list and chooses entry `index` (the simulated unit is entry 0).
  void connect(int index = 0) {
    ASSERT_EQ(headless_combo_open(IDC_PORT_COMBO), USER32_OK);
    ASSERT_EQ(headless_combo_choose(IDC_PORT_COMBO, index), USER32_OK);
    settle();
  }

  // Every reply that is due has been decoded and the dialog has applied it.
  void settle() {
    sim_flush();
    ASSERT_TRUE(headless_wait_idle());
  }

  // One tick of the presence timer, and the dialog's reaction to it.
  void tick() {
    user32_advance_timers(PRESENCE_PERIOD_MS);
    ASSERT_TRUE(headless_wait_idle());
  }

  // Connects to the simulated unit and waits for the first tick.
  void connect_and_tick() {
    connect();
    tick();
  }

  void start_connected(const SimSetup& setup = SimSetup(), HINSTANCE module = nullptr,
                       unsigned divisor = 10) {
    start(setup, module, divisor);
    connect_and_tick();
  }

  // Dismisses the top message box after checking its title and text.
  void expect_box(const char* title, const std::string& text) {
    ASSERT_TRUE(headless_wait_box());
    EXPECT_EQ(headless_boxes().back().title, title);
    EXPECT_EQ(headless_boxes().back().text, text);
    headless_dismiss_box();
  }

  // The last message the unit received.
  Bytes last_received() {
    std::vector<Bytes> received = unit_received();
    return received.empty() ? Bytes() : received.back();
  }
};
