#include "hosts/shell/program_info.h"

#include <mmsystem.h>

#include "hosts/shell/printable.h"
#include "midi/midi.h"
#include "platform/midi/choice/midi_choice.h"
#include "platform/win32/user32_ext.h"
#include "platform/win32/winmm_ext.h"
#include "resource.h"

std::string program_caption() {
  const std::string caption = user32_template_caption(GetModuleHandleA(nullptr), IDD_MAIN);
  const size_t start = caption.find_first_not_of(' ');
  return start == std::string::npos ? "" : caption.substr(start);
}

// Two digits after the product tag ("vexa 31-").
std::string firmware_image_version(HMODULE module) {
  if (!module) module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, "FirmwareFile", "BINTYPE");
  if (!found || SizeofResource(module, found) < 7) return "none";
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  return printable(std::string{bytes[5], '.', bytes[6]});
}

void print_version(std::FILE* to) {
  std::fprintf(to, "%s (Linux terminal), firmware image %s\n", program_caption().c_str(),
               firmware_image_version().c_str());
}

MidiListing midi_listing() {
  MidiListing listing;
  listing.service = winmm_backend() ? winmm_backend()->name : "none";
  listing.problem = printable(midi_service_problem(winmm_backend()));
  const UINT outputs = midiOutGetNumDevs();
  for (UINT i = 0; i < outputs; ++i) {
    MIDIOUTCAPSA caps{};
    midiOutGetDevCapsA(i, &caps, sizeof caps);
    listing.outputs.push_back({i, printable(caps.szPname), find_matching_input(i)});
  }
  const UINT inputs = midiInGetNumDevs();
  for (UINT i = 0; i < inputs; ++i) {
    MIDIINCAPSA caps{};
    midiInGetDevCapsA(i, &caps, sizeof caps);
    listing.inputs.push_back({i, printable(caps.szPname), NO_MATCHING_INPUT});
  }
  return listing;
}

void print_listing(std::FILE* to, const MidiListing& listing) {
  std::fprintf(to, "MIDI service: %s\n", listing.service.c_str());
  if (!listing.problem.empty()) std::fprintf(to, "%s\n", listing.problem.c_str());
  std::fprintf(to, "Outputs: %zu\n", listing.outputs.size());
  for (const MidiPort& port : listing.outputs) {
    if (port.paired_input != NO_MATCHING_INPUT)
      std::fprintf(to, "  %u: %s  (paired with input %d)\n", port.index, port.name.c_str(),
                   port.paired_input);
    else
      std::fprintf(to, "  %u: %s  (no input of that name: not a unit)\n", port.index, port.name.c_str());
  }
  std::fprintf(to, "Inputs: %zu\n", listing.inputs.size());
  for (const MidiPort& port : listing.inputs) std::fprintf(to, "  %u: %s\n", port.index, port.name.c_str());
}
