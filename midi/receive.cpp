// The SysEx receiver: two 512-byte buffers take turns, and every complete message is decoded.
#include <windows.h>

#include "midi/midi.h"
#include "protocol/protocol.h"

void CALLBACK on_midi_input(HMIDIIN, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
  if (message != MIM_LONGDATA && message != MIM_LONGERROR) return;
  const MIDIHDR* returned = reinterpret_cast<const MIDIHDR*>(param1);
  const uint8_t* buffer = reinterpret_cast<const uint8_t*>(returned->lpData);
  int32_t recorded = static_cast<int32_t>(returned->dwBytesRecorded);

  // Hand the other buffer back to the platform; the one just filled stays out of its hands while
  // it is decoded, until the next message comes back. While the port closes, the headers' flag
  // words are cleared and this request is refused, which is harmless.
  RxBuffer filled = RX_BUFFER_2;
  MIDIHDR* other = &rx_header_1;
  if (buffer == rx_buffer_1) {
    filled = RX_BUFFER_1;
    other = &rx_header_2;
  }
  midiInAddBuffer(midi_in_port.load(), other, sizeof *other);

  if (message == MIM_LONGDATA && recorded > 0 && recorded <= RX_BUFFER_SIZE && buffer[recorded - 1] == 0xF7) {
    decode_reply(filled);
  }
}
