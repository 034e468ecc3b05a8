// Listing the MIDI outputs, pairing an output with its input by name, opening and closing both.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "midi/midi.h"
#include "resource.h"

std::atomic<HMIDIOUT> midi_out_port{nullptr};
std::atomic<HMIDIIN> midi_in_port{nullptr};
uint8_t rx_buffer_1[RX_BUFFER_SIZE];
uint8_t rx_buffer_2[RX_BUFFER_SIZE];
MIDIHDR rx_header_1;
MIDIHDR rx_header_2;
CRITICAL_SECTION port_lock;

namespace {

// The platform's flags for an input port that delivers callbacks and MIM_MOREDATA.
constexpr DWORD MIDI_IN_OPEN_FLAGS = CALLBACK_FUNCTION | MIDI_IO_STATUS;
static_assert(MIDI_IN_OPEN_FLAGS == 0x30020);

// Repetitions of a release or close that answers MIDIERR_STILLPLAYING. The platform hands the
// buffers back within a few attempts; the bound keeps a driver that never lets go from hanging
// the dialog.
constexpr int STILL_PLAYING_ATTEMPTS = 1000;

// Name of an output for the list and for pairing. Every device number gets an entry, so an output
// whose capability query fails is listed under a made-up name that pairs with no input.
void output_name(uint32_t device, char (&name)[MAXPNAMELEN]) {
  MIDIOUTCAPSA caps{};
  if (midiOutGetDevCapsA(device, &caps, sizeof caps) == MMSYSERR_NOERROR) {
    memcpy(name, caps.szPname, sizeof name);
    name[MAXPNAMELEN - 1] = '\0';
  } else {
    snprintf(name, sizeof name, "MIDI output %u (unavailable)", static_cast<unsigned>(device));
  }
}

void prepare_rx_header(MIDIHDR& header, uint8_t* buffer) {
  header.lpData = reinterpret_cast<LPSTR>(buffer);
  header.dwBufferLength = RX_BUFFER_SIZE;
  header.dwFlags = 0;
}

class PortLock {
 public:
  PortLock() { EnterCriticalSection(&port_lock); }
  ~PortLock() { LeaveCriticalSection(&port_lock); }
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;
};

}  // namespace

void init_port_lock() { InitializeCriticalSection(&port_lock); }

int32_t fill_output_list(HWND dialog) {
  SendDlgItemMessageA(dialog, IDC_PORT_COMBO, CB_RESETCONTENT, 0, 0);
  UINT count = midiOutGetNumDevs();
  if (count == 0) return NO_MIDI_OUTPUTS;
  for (UINT device = 0; device < count; ++device) {
    char name[MAXPNAMELEN];
    output_name(device, name);
    SendDlgItemMessageA(dialog, IDC_PORT_COMBO, CB_INSERTSTRING, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(name));
  }
  return 0;
}

int32_t find_matching_input(uint32_t output) {
  char wanted[MAXPNAMELEN];
  output_name(output, wanted);
  UINT count = midiInGetNumDevs();
  for (UINT input = 0; input < count; ++input) {
    MIDIINCAPSA caps{};
    midiInGetDevCapsA(input, &caps, sizeof caps);
    caps.szPname[MAXPNAMELEN - 1] = '\0';
    // The input's name must begin with the whole output name; comparison is byte for byte.
    int k = 0;
    while (wanted[k] != '\0' && caps.szPname[k] == wanted[k]) ++k;
    if (wanted[k] == '\0') return static_cast<int32_t>(input);
  }
  return NO_MATCHING_INPUT;
}

OpenOutResult open_midi_out(uint32_t device) {
  PortLock lock;
  if (midi_out_port.load() != nullptr) close_midi_out();
  if (device >= midiOutGetNumDevs()) return OPEN_OUT_NO_DEVICE;
  HMIDIOUT port = nullptr;
  MMRESULT result = midiOutOpen(&port, device, 0, 0, CALLBACK_NULL);
  midi_out_port = port;
  if (result == MMSYSERR_NOERROR) return OPEN_OUT_OK;
  close_midi_out();
  return OPEN_OUT_FAILED;
}

OpenInResult open_midi_in(uint32_t device) {
  PortLock lock;
  if (midi_in_port.load() != nullptr) close_midi_in();
  if (device >= midiInGetNumDevs()) return OPEN_IN_NO_DEVICE;
  HMIDIIN port = nullptr;
  MMRESULT result =
      midiInOpen(&port, device, reinterpret_cast<DWORD_PTR>(on_midi_input), 0, MIDI_IN_OPEN_FLAGS);
  midi_in_port = port;
  if (result != MMSYSERR_NOERROR) {
    close_midi_in();
    return OPEN_IN_FAILED;
  }
  prepare_rx_header(rx_header_1, rx_buffer_1);
  if (midiInPrepareHeader(port, &rx_header_1, sizeof rx_header_1) != MMSYSERR_NOERROR) {
    close_midi_in();
    return OPEN_IN_PREPARE_FAILED;
  }
  prepare_rx_header(rx_header_2, rx_buffer_2);
  if (midiInPrepareHeader(port, &rx_header_2, sizeof rx_header_2) != MMSYSERR_NOERROR) {
    close_midi_in();
    return OPEN_IN_PREPARE_FAILED;
  }
  if (midiInAddBuffer(port, &rx_header_1, sizeof rx_header_1) != MMSYSERR_NOERROR ||
      midiInAddBuffer(port, &rx_header_2, sizeof rx_header_2) != MMSYSERR_NOERROR) {
    close_midi_in();
    return OPEN_IN_QUEUE_FAILED;
  }
  if (midiInStart(port) != MMSYSERR_NOERROR) {
    close_midi_in();
    return OPEN_IN_START_FAILED;
  }
  return OPEN_IN_OK;
}

int32_t close_midi_out() {
  PortLock lock;
  HMIDIOUT port = midi_out_port.load();
  if (port == nullptr) return 0;
  midiOutReset(port);
  MMRESULT result = MIDIERR_STILLPLAYING;
  for (int attempt = 0; attempt < STILL_PLAYING_ATTEMPTS && result == MIDIERR_STILLPLAYING; ++attempt) {
    result = midiOutClose(port);
  }
  midi_out_port = nullptr;
  return static_cast<int32_t>(result);
}

void close_midi_in() {
  PortLock lock;
  HMIDIIN port = midi_in_port.load();
  if (port == nullptr) return;
  // Cleared flag words make both headers count as neither queued nor prepared: the release below
  // succeeds at once, and the callback's attempts to queue a buffer while the input stops are
  // refused. The input thread may be handing a header back meanwhile, so the words are written
  // atomically.
  std::atomic_ref<DWORD>(rx_header_1.dwFlags).store(0);
  std::atomic_ref<DWORD>(rx_header_2.dwFlags).store(0);
  midiInStop(port);
  MIDIHDR* const headers[] = {&rx_header_1, &rx_header_2};
  for (MIDIHDR* header : headers) {
    for (int attempt = 0; attempt < STILL_PLAYING_ATTEMPTS; ++attempt) {
      if (midiInUnprepareHeader(port, header, sizeof *header) != MIDIERR_STILLPLAYING) break;
    }
  }
  midiInReset(port);
  for (int attempt = 0; attempt < STILL_PLAYING_ATTEMPTS; ++attempt) {
    if (midiInClose(port) != MIDIERR_STILLPLAYING) break;
  }
  midi_in_port = nullptr;
}
