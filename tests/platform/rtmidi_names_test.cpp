// RtMidi device names: how the back-end names the ports that ALSA and JACK list.
#include <gtest/gtest.h>

#include "platform/midi/rtmidi/midi_rtmidi.h"

namespace {

// Names are UTF-8: cut to 31 bytes, or to make room for the number of a repeated name, after a whole
// character. The program's own ports ("vexa utility") are left out; each device keeps its port's index.
TEST(RtmidiNames, AlsaAndJackPortsAsTheProgramListsThem) {
  const std::string german =
      "Ger\xC3\xA4t f\xC3\xBCr \xC3\x9C"
      "berl\xC3\xA4nge";
  struct Case {
    bool jack;
    std::vector<std::string> ports;
    std::vector<std::string> devices;  // index and name
  };
  const Case cases[] = {
      {false,
       {"Midi Through:Midi Through Port-0 14:0", "vexa:vexa 128:0", "vexa utility:out 131:0",
        "MIDISPORT 2x2:MIDISPORT 2x2 MIDI 1 24:0", "MIDISPORT 2x2:MIDISPORT 2x2 MIDI 2 24:1",
        "A synthesizer with a very long client name:port 1 20:0", "vexa:vexa 140:0"},
       {"0 Midi Through", "1 vexa", "3 MIDISPORT 2x2 MIDI 1", "4 MIDISPORT 2x2 MIDI 2",
        "5 A synthesizer with a very long", "6 vexa #2"}},
      {false,
       {german + " und Kl\xC3\xA4nge:port 1 20:0", german + ", Kl\xC3\xA4nge:port 1 21:0",
        german + ", Kl\xC3\xA4nge:port 1 22:0"},
       {"0 " + german + " und Kl", "1 " + german + ", Kl\xC3\xA4ng", "2 " + german + ", Kl #2"}},
      {true,
       {"vexa-01:vexa", "vexa utility-01:in", "system:midi_capture_1",
        "a2j:UM-ONE [20] (capture): UM-ONE MIDI 1", "synth:left", "synth:right"},
       {"0 vexa", "2 system midi 1", "3 UM-ONE", "4 synth left", "5 synth right"}},
      {true,
       {"system:midi_playback_1", "vexa:vexa", "a2j:UM-ONE [20] (playback): UM-ONE MIDI 1"},
       {"0 system midi 1", "1 vexa", "2 UM-ONE"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> devices;
    for (const RtmidiDevice& device : rtmidi_device_names(c.jack, c.ports))
      devices.push_back(std::to_string(device.index) + " " + device.name);
    EXPECT_EQ(devices, c.devices);
  }
}

}  // namespace
