// What `vexa --version`, `vexa --list`, `vexa list` and `vexa diagnose` tell about the program and the MIDI
// system: the versions that the program's resources carry, and the devices of the chosen MIDI service with
// the pairing that the program itself makes (find_matching_input).
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// The caption of the program's dialog without its leading blank: "Quorvanex vexa 3.1".
std::string program_caption();
// The version that a module's firmware image carries ("3.1"); "none" without an image. NULL: the program's.
std::string firmware_image_version(HMODULE module = nullptr);
void print_version(std::FILE* to);

struct MidiPort {
  unsigned index;
  std::string name;
  int paired_input;  // outputs: the input that the program pairs it with, -1 for none
};
struct MidiListing {
  std::string service;  // the back-end's name: sim, alsa, jack
  std::string problem;  // why the service cannot be reached; empty when it can
  std::vector<MidiPort> outputs;
  std::vector<MidiPort> inputs;
};
MidiListing midi_listing();
void print_listing(std::FILE* to, const MidiListing& listing);
