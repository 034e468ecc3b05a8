// vexa update: the program's upload through the dialog's button, its outcome as exit code, the image given
// with --image checked by the program's own header check before anything is sent.
#include "midi/midi.h"
#include "shell_support.h"

namespace {

SimSetup update_mode_unit() {
  SimSetup setup;
  setup.unit.mode = SimMode::Boot;
  setup.unit.reply_latency_us = 100;
  setup.unit.erase_time_us = 20000;
  return setup;
}

Bytes embedded_image() {
  for (const PlatformResource& resource : platform_module_resources(nullptr))
    if (resource.name == "FIRMWAREFILE") return Bytes(resource.data, resource.data + resource.size);
  return {};
}

// The packets of an image, each from its F0 through the first F7 after it.
std::vector<Bytes> packets_of(const Bytes& image) {
  std::vector<Bytes> packets;
  for (size_t i = 55; i < image.size(); ++i) {
    if (image[i] != 0xF0) continue;
    size_t end = i;
    while (end < image.size() && image[end] != 0xF7) ++end;
    packets.emplace_back(image.begin() + static_cast<long>(i), image.begin() + static_cast<long>(end) + 1);
    i = end;
  }
  return packets;
}

// The header line and the first `count` packets of the built-in image, with its terminator.
Bytes first_packets(size_t count) {
  const Bytes image = embedded_image();
  size_t at = 56;
  for (size_t n = 0; n < count; ++n)
    at = static_cast<size_t>(std::find(image.begin() + static_cast<long>(at), image.end(), 0xF7) -
                             image.begin()) +
         2;
  Bytes cut(image.begin(), image.begin() + static_cast<long>(at));
  cut.push_back(0xFF);
  return cut;
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

TEST(ShellUpdate, WritesTheBuiltInImageByteForByte) {
  const ShellResult result = run_shell({"update"}, update_mode_unit());
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "Programming successful: firmware 3.1 written to vexa\n");
  const SimUnit unit = sim_unit_snapshot();
  const std::vector<Bytes> expected = packets_of(embedded_image());
  ASSERT_EQ(expected.size(), 2488u);
  EXPECT_EQ(unit.packets, expected);
  EXPECT_EQ(unit.mode, SimMode::Running);
  // Not on a terminal: a line per 10 % written, after whichever statuses the shell saw.
  std::vector<std::string> lines = lines_of(result.err);
  const std::vector<std::string> percents = {"Writing 10 %", "Writing 20 %", "Writing 30 %",
                                             "Writing 40 %", "Writing 50 %", "Writing 60 %",
                                             "Writing 70 %", "Writing 80 %", "Writing 90 %"};
  ASSERT_GE(lines.size(), percents.size()) << result.err;
  EXPECT_EQ(std::vector<std::string>(lines.end() - 9, lines.end()), percents);
  for (size_t i = 0; i + 9 < lines.size(); ++i) {
    EXPECT_TRUE(lines[i] == "Preparing" || lines[i] == "Erasing" || lines[i] == "Writing") << lines[i];
  }
  EXPECT_EQ(midi_in_port.load(), nullptr);
  EXPECT_EQ(midi_out_port.load(), nullptr);
}

TEST(ShellUpdate, ThreeNaksFailTheUpdate) {
  SimSetup setup = update_mode_unit();
  setup.unit.packet_scripts[3] = "NNN";
  const ShellResult result = run_shell({"update"}, setup);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("vexa: Warning: Programming failed"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("vexa: the update failed: Checksum error"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("the unit stays in update mode; vexa update again finishes the update"),
            std::string::npos);
  const SimUnit unit = sim_unit_snapshot();
  EXPECT_EQ(unit.packets.size(), 3u);
  EXPECT_EQ(unit.mode, SimMode::Boot);
  EXPECT_EQ(sim_unit_count(unit, 0x50), 0);
}

TEST(ShellUpdate, ARunningUnitOrNoneIsNotUpdated) {
  ShellResult result = run_shell({"update"});
  EXPECT_EQ(result.code, 4);
  EXPECT_NE(result.err.find("runs its firmware 3.1: to update it, hold down both of its keys"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(received_with_code(0x12).size(), 0u);

  SimSetup none;
  none.outputs.clear();
  none.inputs.clear();
  result = run_shell({"update"}, none);
  EXPECT_EQ(result.code, 3);
}

TEST(ShellUpdate, AnotherImageWritesItsOwnPackets) {
  TempFolder folder;
  Bytes image = first_packets(100);
  image[6] = '2';  // the version in the text field, which the header check does not examine: 3.2
  write_bytes(folder.file("image.bin"), image);
  const ShellResult result = run_shell({"update", "--image", folder.file("image.bin")}, update_mode_unit());
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "Programming successful: firmware 3.2 written to vexa\n");
  const std::vector<Bytes> packets = packets_of(image);
  ASSERT_EQ(packets.size(), 100u);
  EXPECT_EQ(sim_unit_snapshot().packets, packets);
}

TEST(ShellUpdate, ARefusedImageIsAUsageErrorAndSendsNothing) {
  TempFolder folder;
  Bytes wrong_signature = first_packets(10);
  wrong_signature[54] = 'x';
  Bytes capitals = first_packets(10);
  capitals[0] = 'V';
  Bytes no_terminator = first_packets(10);
  no_terminator.pop_back();
  struct Case {
    Bytes image;
    const char* error;
  };
  const Case cases[] = {
      {wrong_signature, "its header is not that of a vexa firmware image"},
      {capitals, "its header is not that of a vexa firmware image"},
      {no_terminator, "no terminator"},
      {Bytes{0xFF}, "its header is not that of a vexa firmware image"},
  };
  for (const Case& c : cases) {
    write_bytes(folder.file("image.bin"), c.image);
    const ShellResult result = run_shell({"update", "--image", folder.file("image.bin")}, update_mode_unit());
    EXPECT_EQ(result.code, 2) << c.error;
    EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
    EXPECT_TRUE(sim_unit_snapshot().received.empty()) << c.error;
  }
  const ShellResult missing = run_shell({"update", "--image", folder.file("none.bin")}, update_mode_unit());
  EXPECT_EQ(missing.code, 2);
  EXPECT_TRUE(sim_unit_snapshot().received.empty());
}

}  // namespace
