// winevexa.drv's two ports, both named "vexa": what the output does with each modMessage and the input
// with each midMessage. The output hands each message to the unit at once; the input queues the
// program's buffers for the delivery thread (driver_winevexa.cpp) to fill.
#include <windows.h>

#include <mmsystem.h>

#include <mmddk.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "sim/wine_driver/driver_internal.h"

namespace {

const wchar_t PORT_NAME[] = L"vexa";

bool header_too_small(DWORD_PTR header, DWORD_PTR size) {
  return header == 0 || size < offsetof(MIDIHDR, dwOffset);
}

DWORD prepare(MIDIHDR* header, DWORD_PTR size) {
  if (header_too_small(reinterpret_cast<DWORD_PTR>(header), size)) return MMSYSERR_INVALPARAM;
  if (header->dwFlags & MHDR_PREPARED) return MMSYSERR_NOERROR;
  header->dwFlags = (header->dwFlags & ~(MHDR_DONE | MHDR_INQUEUE)) | MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

DWORD unprepare(MIDIHDR* header, DWORD_PTR size) {
  if (header_too_small(reinterpret_cast<DWORD_PTR>(header), size)) return MMSYSERR_INVALPARAM;
  if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  header->dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

DWORD open_port(Port& port, UINT device, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2,
                DWORD open_message) {
  if (device != 0) return MMSYSERR_BADDEVICEID;
  if (port.open) return MMSYSERR_ALLOCATED;
  if (!unit_present()) return MMSYSERR_NODRIVER;
  const MIDIOPENDESC* description = reinterpret_cast<const MIDIOPENDESC*>(param1);
  if (description == nullptr) return MMSYSERR_INVALPARAM;
  port = Port{};
  port.open = true;
  port.callback = description->dwCallback;
  port.instance = description->dwInstance;
  port.handle = reinterpret_cast<HDRVR>(description->hMidi);
  port.callback_flags = HIWORD(static_cast<DWORD>(param2));
  if (user != 0) *reinterpret_cast<DWORD_PTR*>(user) = 0;
  callback_unlocked(port, open_message, 0, 0);
  return MMSYSERR_NOERROR;
}

// ---- Output ----

DWORD output_caps(UINT device, DWORD_PTR param1, DWORD_PTR param2) {
  if (device != 0) return MMSYSERR_BADDEVICEID;
  MIDIOUTCAPSW caps{};
  caps.wMid = 0xFFFF;  // MM_UNMAPPED: no registered manufacturer id
  caps.wPid = 0xFFFF;
  caps.vDriverVersion = 0x0100;
  wcscpy(caps.szPname, PORT_NAME);
  caps.wTechnology = MOD_MIDIPORT;
  caps.wChannelMask = 0xFFFF;
  memcpy(reinterpret_cast<void*>(param1), &caps, std::min<size_t>(param2, sizeof caps));
  return MMSYSERR_NOERROR;
}

DWORD output_close() {
  if (!out_port.open) return MMSYSERR_INVALHANDLE;
  out_port.open = false;
  out_port.dead = false;
  callback_unlocked(out_port, MOM_CLOSE, 0, 0);
  return MMSYSERR_NOERROR;
}

DWORD output_short(DWORD_PTR message) {
  if (!out_port.open) return MMSYSERR_INVALHANDLE;
  if (!unit_present() || out_port.dead) return MMSYSERR_NODRIVER;
  uint8_t bytes[3] = {static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                      static_cast<uint8_t>(message >> 16)};
  const size_t length = bytes[0] >= 0xF8                                                    ? 1
                        : (bytes[0] & 0xE0) == 0xC0 || bytes[0] == 0xF1 || bytes[0] == 0xF3 ? 2
                                                                                            : 3;
  unit_receive(bytes, length);
  return MMSYSERR_NOERROR;
}

DWORD output_long(DWORD_PTR param1, DWORD_PTR param2) {
  MIDIHDR* header = reinterpret_cast<MIDIHDR*>(param1);
  if (!out_port.open) return MMSYSERR_INVALHANDLE;
  if (header_too_small(param1, param2)) return MMSYSERR_INVALPARAM;
  if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
  if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  if (!unit_present() || out_port.dead) return MMSYSERR_NODRIVER;
  unit_receive(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength);
  // Sent at once, as typical drivers do: the header is done before the call returns.
  header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
  callback_unlocked(out_port, MOM_DONE, param1, 0);
  return MMSYSERR_NOERROR;
}

// ---- Input ----

DWORD input_caps(UINT device, DWORD_PTR param1, DWORD_PTR param2) {
  if (device != 0) return MMSYSERR_BADDEVICEID;
  MIDIINCAPSW caps{};
  caps.wMid = 0xFFFF;
  caps.wPid = 0xFFFF;
  caps.vDriverVersion = 0x0100;
  wcscpy(caps.szPname, PORT_NAME);
  memcpy(reinterpret_cast<void*>(param1), &caps, std::min<size_t>(param2, sizeof caps));
  return MMSYSERR_NOERROR;
}

DWORD input_open(UINT device, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
  ensure_delivery_thread();
  in_queue.clear();
  in_started = false;
  return open_port(in_port, device, user, param1, param2, MIM_OPEN);
}

DWORD input_close() {
  if (!in_port.open) return MMSYSERR_INVALHANDLE;
  wait_for_delivery();
  if (!in_queue.empty()) return MIDIERR_STILLPLAYING;
  in_port.open = false;
  in_port.dead = false;
  in_started = false;
  callback_unlocked(in_port, MIM_CLOSE, 0, 0);
  return MMSYSERR_NOERROR;
}

DWORD input_add_buffer(DWORD_PTR param1, DWORD_PTR param2) {
  MIDIHDR* header = reinterpret_cast<MIDIHDR*>(param1);
  if (!in_port.open) return MMSYSERR_INVALHANDLE;
  if (header_too_small(param1, param2) || header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  if (!unit_present() || in_port.dead) return MMSYSERR_NODRIVER;
  if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
  header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  header->dwBytesRecorded = 0;
  in_queue.push_back(header);
  return MMSYSERR_NOERROR;
}

DWORD input_start() {
  if (!in_port.open) return MMSYSERR_INVALHANDLE;
  if (!unit_present() || in_port.dead) return MMSYSERR_NODRIVER;
  if (!in_started) start_input();
  return MMSYSERR_NOERROR;
}

DWORD input_stop() {
  if (!in_port.open) return MMSYSERR_INVALHANDLE;
  wait_for_delivery();
  in_started = false;
  return MMSYSERR_NOERROR;
}

DWORD input_reset() {
  if (!in_port.open) return MMSYSERR_INVALHANDLE;
  wait_for_delivery();
  in_started = false;
  std::deque<MIDIHDR*> returned;
  returned.swap(in_queue);
  for (MIDIHDR* header : returned) {
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    callback_unlocked(in_port, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0);
  }
  return MMSYSERR_NOERROR;
}

}  // namespace

DWORD output_message(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
  switch (message) {
    case DRVM_INIT:
    case DRVM_EXIT:
    case DRVM_ENABLE:
    case DRVM_DISABLE:
      return MMSYSERR_NOERROR;
    case MODM_GETNUMDEVS:
      return 1;
    case MODM_GETDEVCAPS:
      return output_caps(device, param1, param2);
    case MODM_OPEN:
      return open_port(out_port, device, user, param1, param2, MOM_OPEN);
    case MODM_CLOSE:
      return output_close();
    case MODM_PREPARE:
      return prepare(reinterpret_cast<MIDIHDR*>(param1), param2);
    case MODM_UNPREPARE:
      return unprepare(reinterpret_cast<MIDIHDR*>(param1), param2);
    case MODM_DATA:
      return output_short(param1);
    case MODM_LONGDATA:
      return output_long(param1, param2);
    case MODM_RESET:
      return out_port.open ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    default:
      return MMSYSERR_NOTSUPPORTED;
  }
}

DWORD input_message(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
  switch (message) {
    case DRVM_INIT:
    case DRVM_EXIT:
    case DRVM_ENABLE:
    case DRVM_DISABLE:
      return MMSYSERR_NOERROR;
    case MIDM_GETNUMDEVS:
      return 1;
    case MIDM_GETDEVCAPS:
      return input_caps(device, param1, param2);
    case MIDM_OPEN:
      return input_open(device, user, param1, param2);
    case MIDM_CLOSE:
      return input_close();
    case MIDM_PREPARE:
      return prepare(reinterpret_cast<MIDIHDR*>(param1), param2);
    case MIDM_UNPREPARE:
      return unprepare(reinterpret_cast<MIDIHDR*>(param1), param2);
    case MIDM_ADDBUFFER:
      return input_add_buffer(param1, param2);
    case MIDM_START:
      return input_start();
    case MIDM_STOP:
      return input_stop();
    case MIDM_RESET:
      return input_reset();
    default:
      return MMSYSERR_NOTSUPPORTED;
  }
}
