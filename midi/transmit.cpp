// The SysEx transmitter: one complete message at a time on the open output.
#include <windows.h>

#include <atomic>

#include "midi/midi.h"

MIDIHDR tx_header;

namespace {

constexpr int DONE_LOOKS = 5;
constexpr int RELEASE_ATTEMPTS = 5;
constexpr DWORD SEND_PAUSE_MS = 50;

// The output was opened without a callback: the end of a send shows only in MHDR_DONE, which the
// driver sets from its own thread.
bool send_done() { return (std::atomic_ref<DWORD>(tx_header.dwFlags).load() & MHDR_DONE) != 0; }

int32_t close_both_ports() {
  close_midi_in();
  return close_midi_out();
}

}  // namespace

int32_t send_sysex(const uint8_t* bytes, int32_t length) {
  EnterCriticalSection(&port_lock);
  int32_t result = 0;
  if (midi_out_port.load() != nullptr) {
    tx_header.lpData = reinterpret_cast<LPSTR>(const_cast<uint8_t*>(bytes));
    tx_header.dwBufferLength = static_cast<DWORD>(length);
    tx_header.dwFlags = 0;
    result = static_cast<int32_t>(midiOutPrepareHeader(midi_out_port.load(), &tx_header, sizeof tx_header));
    if (result == MMSYSERR_NOERROR) {
      MMRESULT sent = midiOutLongMsg(midi_out_port.load(), &tx_header, sizeof tx_header);
      if (sent == MMSYSERR_INVALHANDLE || sent == MMSYSERR_NODRIVER) {
        midiOutUnprepareHeader(midi_out_port.load(), &tx_header, sizeof tx_header);
        result = close_both_ports();
      } else {
        for (int look = 0; look < DONE_LOOKS && !send_done(); ++look) Sleep(SEND_PAUSE_MS);
        result = MIDIERR_STILLPLAYING;
        for (int attempt = 0; attempt < RELEASE_ATTEMPTS && result == MIDIERR_STILLPLAYING; ++attempt) {
          result = static_cast<int32_t>(
              midiOutUnprepareHeader(midi_out_port.load(), &tx_header, sizeof tx_header));
          if (result == MIDIERR_STILLPLAYING) Sleep(SEND_PAUSE_MS);
        }
        if (result == MIDIERR_STILLPLAYING) result = close_both_ports();
      }
    }
  }
  LeaveCriticalSection(&port_lock);
  return result;
}
