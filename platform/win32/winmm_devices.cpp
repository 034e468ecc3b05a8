// WINMM for Linux: the devices, as many outputs and inputs as the chosen back-end lists, and their
// capabilities. The names are the back-end's, cut to fit szPname.
#include <cstring>

#include "platform/midi/midi_name.h"
#include "platform/win32/winmm_internal.h"

namespace {

// A device's name as szPname holds it: at most MAXPNAMELEN - 1 bytes and a NUL, cut after a whole character.
// The back-end copies one byte more than fits, so that a cut inside a character can be seen.
bool device_name(bool (*name_of)(int, char*, int), UINT_PTR device, char (&field)[MAXPNAMELEN]) {
  char name[MAXPNAMELEN + 1];
  if (!name_of(static_cast<int>(device), name, sizeof name)) return false;
  const size_t length = midi_name_fit(name, std::strlen(name), MAXPNAMELEN - 1);
  std::memcpy(field, name, length);
  field[length] = '\0';
  return true;
}

}  // namespace

UINT WINAPI midiOutGetNumDevs(void) {
  log_call("midiOutGetNumDevs");
  return static_cast<UINT>(current_backend()->output_count());
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
  log_call("midiOutGetDevCapsA");
  const MidiBackend* used = current_backend();
  if (uDeviceID >= static_cast<UINT_PTR>(used->output_count())) return MMSYSERR_BADDEVICEID;
  if (!pmoc) return MMSYSERR_INVALPARAM;
  MIDIOUTCAPSA caps{};
  caps.wMid = 0xFFFF;
  caps.wPid = 0xFFFF;
  caps.vDriverVersion = 0x0100;
  if (!device_name(used->output_name, uDeviceID, caps.szPname)) return MMSYSERR_BADDEVICEID;
  caps.wTechnology = MOD_MIDI;
  caps.wChannelMask = 0xFFFF;
  std::memcpy(pmoc, &caps, cbmoc < sizeof(caps) ? cbmoc : sizeof(caps));
  return MMSYSERR_NOERROR;
}

UINT WINAPI midiInGetNumDevs(void) {
  log_call("midiInGetNumDevs");
  return static_cast<UINT>(current_backend()->input_count());
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) {
  log_call("midiInGetDevCapsA");
  const MidiBackend* used = current_backend();
  if (uDeviceID >= static_cast<UINT_PTR>(used->input_count())) return MMSYSERR_BADDEVICEID;
  if (!pmic) return MMSYSERR_INVALPARAM;
  MIDIINCAPSA caps{};
  caps.wMid = 0xFFFF;
  caps.wPid = 0xFFFF;
  caps.vDriverVersion = 0x0100;
  if (!device_name(used->input_name, uDeviceID, caps.szPname)) return MMSYSERR_BADDEVICEID;
  std::memcpy(pmic, &caps, cbmic < sizeof(caps) ? cbmic : sizeof(caps));
  return MMSYSERR_NOERROR;
}
