#include "program_support.h"

#include <cstddef>
#include <deque>

extern const unsigned char nofirmware_res[];
extern const size_t nofirmware_res_size;

namespace {

void put16(Bytes& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(Bytes& out, uint32_t value) {
  put16(out, static_cast<uint16_t>(value));
  put16(out, static_cast<uint16_t>(value >> 16));
}

void put_id(Bytes& out, WORD ordinal, const std::string& name) {
  if (name.empty()) {
    put16(out, 0xFFFF);
    put16(out, ordinal);
    return;
  }
  for (char c : name) put16(out, static_cast<uint8_t>(c));
  put16(out, 0);
}

void pad4(Bytes& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

// One entry of a .res file: header (sizes, type, name, version fields) then the data.
void put_resource(Bytes& out, const PlatformResource& resource, const uint8_t* data, uint32_t size) {
  Bytes header;
  put_id(header, resource.type_ordinal, resource.type_name);
  put_id(header, resource.name_ordinal, resource.name);
  pad4(header);
  put32(header, 0);
  put16(header, resource.memory_flags);
  put16(header, resource.language);
  put32(header, 0);
  put32(header, 0);
  put32(out, size);
  put32(out, static_cast<uint32_t>(header.size() + 8));
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), data, data + size);
  pad4(out);
}

}  // namespace

HINSTANCE module_with_image(const Bytes& image) {
  // Modules keep pointers into their bytes for the life of the process.
  static std::deque<Bytes> files;
  Bytes& file = files.emplace_back();
  PlatformResource empty{0, "", 0, "", 0, 0, nullptr, 0};
  put_resource(file, empty, nullptr, 0);
  for (const PlatformResource& resource : platform_module_resources(nullptr)) {
    if (resource.name == "FIRMWAREFILE") {
      put_resource(file, resource, image.data(), static_cast<uint32_t>(image.size()));
    } else {
      put_resource(file, resource, resource.data, resource.size);
    }
  }
  return platform_register_module(file.data(), file.size());
}

HINSTANCE nofirmware_module() {
  static const HINSTANCE module = platform_register_module(nofirmware_res, nofirmware_res_size);
  return module;
}

void ProgramTest::start(const SimSetup& setup, HINSTANCE module, unsigned sleep_divisor) {
  winmm_use_backend(sim_start(setup));
  platform_set_sleep_divisor(sleep_divisor);
  user32_set_manual_timers(true);
  ASSERT_EQ(headless_start(test_entry, module), 0);
  ASSERT_TRUE(headless_wait_dialog());
}

void ProgramTest::TearDown() {
  if (!headless_running()) return;
  for (int i = 0; i < 10 && !headless_boxes().empty(); ++i) headless_dismiss_box();
  headless_close();
  for (int i = 0; i < 10 && !headless_boxes().empty(); ++i) {
    headless_wait_box(500);
    headless_dismiss_box();
  }
  EXPECT_EQ(headless_exit_code(20000), 0);
}

void ProgramTest::connect(int index) {
  ASSERT_EQ(headless_combo_open(IDC_PORT_COMBO), USER32_OK);
  ASSERT_EQ(headless_combo_choose(IDC_PORT_COMBO, index), USER32_OK);
  settle();
}

void ProgramTest::settle() {
  sim_flush();
  ASSERT_TRUE(headless_wait_idle());
}

void ProgramTest::tick() {
  user32_advance_timers(PRESENCE_PERIOD_MS);
  ASSERT_TRUE(headless_wait_idle());
}

void ProgramTest::connect_and_tick() {
  connect();
  tick();
}

void ProgramTest::expect_box(const char* title, const std::string& text) {
  ASSERT_TRUE(headless_wait_box());
  std::vector<User32MessageBox> boxes = headless_boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().title, title);
  EXPECT_EQ(boxes.back().text, text);
  headless_dismiss_box();
}

Bytes ProgramTest::last_received() {
  std::vector<Bytes> received = unit_received();
  return received.empty() ? Bytes() : received.back();
}
