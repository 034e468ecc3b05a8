// RtMidi device names: how the back-end names the ports that ALSA and JACK list.
#include <gtest/gtest.h>

#include "platform/midi/rtmidi/midi_rtmidi.h"

namespace {

TEST(RtmidiNames, AlsaClientsAndPorts) {
  const std::vector<RtmidiDevice> outputs = rtmidi_device_names(
      false, {"Midi Through:Midi Through Port-0 14:0", "vexa:vexa 128:0", "vexa utility:out 131:0",
              "MIDISPORT 2x2:MIDISPORT 2x2 MIDI 1 24:0", "MIDISPORT 2x2:MIDISPORT 2x2 MIDI 2 24:1",
              "A synthesizer with a very long client name:port 1 20:0", "vexa:vexa 140:0"});
  ASSERT_EQ(outputs.size(), 6u);
  EXPECT_EQ(outputs[0].name, "Midi Through");
  EXPECT_EQ(outputs[1].name, "vexa");
  EXPECT_EQ(outputs[1].index, 1);
  EXPECT_EQ(outputs[2].name, "MIDISPORT 2x2 MIDI 1");
  EXPECT_EQ(outputs[2].index, 3);
  EXPECT_EQ(outputs[3].name, "MIDISPORT 2x2 MIDI 2");
  EXPECT_EQ(outputs[4].name, "A synthesizer with a very long");
  EXPECT_LE(outputs[4].name.size(), 31u);
  EXPECT_EQ(outputs[5].name, "vexa #2");
}

// Names are UTF-8: cut to 31 bytes, or to make room for the number of a repeated name, after a whole
// character.
TEST(RtmidiNames, LongNamesAreCutAfterAWholeCharacter) {
  const std::vector<RtmidiDevice> outputs =
      rtmidi_device_names(false, {"Ger\xC3\xA4t f\xC3\xBCr \xC3\x9C"
                                  "berl\xC3\xA4nge und Kl\xC3\xA4nge:port 1 20:0",
                                  "Ger\xC3\xA4t f\xC3\xBCr \xC3\x9C"
                                  "berl\xC3\xA4nge, Kl\xC3\xA4nge:port 1 21:0",
                                  "Ger\xC3\xA4t f\xC3\xBCr \xC3\x9C"
                                  "berl\xC3\xA4nge, Kl\xC3\xA4nge:port 1 22:0"});
  ASSERT_EQ(outputs.size(), 3u);
  EXPECT_EQ(outputs[0].name,
            "Ger\xC3\xA4t f\xC3\xBCr \xC3\x9C"
            "berl\xC3\xA4nge und Kl");
  EXPECT_EQ(outputs[1].name,
            "Ger\xC3\xA4t f\xC3\xBCr \xC3\x9C"
            "berl\xC3\xA4nge, Kl\xC3\xA4ng");
  EXPECT_EQ(outputs[2].name,
            "Ger\xC3\xA4t f\xC3\xBCr \xC3\x9C"
            "berl\xC3\xA4nge, Kl #2");
}

TEST(RtmidiNames, JackClientsAndBridges) {
  const std::vector<RtmidiDevice> inputs =
      rtmidi_device_names(true, {"vexa-01:vexa", "vexa utility-01:in", "system:midi_capture_1",
                                 "a2j:UM-ONE [20] (capture): UM-ONE MIDI 1", "synth:left", "synth:right"});
  ASSERT_EQ(inputs.size(), 5u);
  EXPECT_EQ(inputs[0].name, "vexa");
  EXPECT_EQ(inputs[1].name, "system midi 1");
  EXPECT_EQ(inputs[2].name, "UM-ONE");
  EXPECT_EQ(inputs[3].name, "synth left");
  EXPECT_EQ(inputs[4].name, "synth right");
  const std::vector<RtmidiDevice> outputs = rtmidi_device_names(
      true, {"system:midi_playback_1", "vexa:vexa", "a2j:UM-ONE [20] (playback): UM-ONE MIDI 1"});
  ASSERT_EQ(outputs.size(), 3u);
  EXPECT_EQ(outputs[0].name, "system midi 1");
  EXPECT_EQ(outputs[1].name, "vexa");
  EXPECT_EQ(outputs[2].name, "UM-ONE");
}

}  // namespace
