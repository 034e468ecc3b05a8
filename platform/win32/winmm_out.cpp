// WINMM for Linux: MIDI outputs.
//
// Output is synchronous, like the usual drivers: midiOutLongMsg hands the bytes to the back-end, sets DONE
// and returns. midiOutClose answers 65 while a long message is being sent (or while the back-end reports
// the port busy); midiOutReset has nothing pending to return and sends nothing.
#include <mutex>

#include "platform/win32/winmm_internal.h"

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                            DWORD fdwOpen) {
  log_call("midiOutOpen");
  if (!phmo) return MMSYSERR_INVALPARAM;
  *phmo = nullptr;
  const MidiBackend* used = current_backend();
  if (uDeviceID >= static_cast<UINT>(used->output_count())) return MMSYSERR_BADDEVICEID;
  if (bad_open_flags(fdwOpen)) return MMSYSERR_INVALFLAG;
  int backend_port = -1;
  const int opened = used->open_output(static_cast<int>(uDeviceID), &backend_port);
  if (opened != MMSYSERR_NOERROR) return static_cast<MMRESULT>(opened);
  auto* port = new OutputPort;
  port->backend_port = backend_port;
  if ((fdwOpen & CALLBACK_TYPEMASK) == CALLBACK_FUNCTION)
    port->callback = reinterpret_cast<LPDRVCALLBACK>(dwCallback);
  port->instance = dwInstance;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    port->id = new_handle();
    outputs[port->id] = port;
  }
  *phmo = reinterpret_cast<HMIDIOUT>(port->id);
  call_output(port, MOM_OPEN, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
  log_call("midiOutClose");
  const MidiBackend* used = current_backend();
  OutputPort* port = nullptr;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    port = find_output(hmo);
    if (!port || port->closing) return MMSYSERR_INVALHANDLE;
    if (port->sending) return MIDIERR_STILLPLAYING;
    port->closing = true;
  }
  const int closed = used->close_output(port->backend_port);
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    if (closed != MMSYSERR_NOERROR) {
      port->closing = false;
      return static_cast<MMRESULT>(closed);
    }
    outputs.erase(port->id);
  }
  call_output(port, MOM_CLOSE, 0);
  delete port;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo) {
  log_call("midiOutReset");
  std::lock_guard<std::mutex> hold(layer_lock);
  return find_output(hmo) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
  log_call("midiOutPrepareHeader");
  std::lock_guard<std::mutex> hold(layer_lock);
  if (!find_output(hmo)) return MMSYSERR_INVALHANDLE;
  if (bad_header(pmh, cbmh)) return MMSYSERR_INVALPARAM;
  if (output_faults.prepare_result != MMSYSERR_NOERROR) return output_faults.prepare_result;
  prepare(pmh);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
  log_call("midiOutUnprepareHeader");
  std::lock_guard<std::mutex> hold(layer_lock);
  if (!find_output(hmo)) return MMSYSERR_INVALHANDLE;
  if (bad_header(pmh, cbmh)) return MMSYSERR_INVALPARAM;
  if ((flags_of(pmh) & (MHDR_PREPARED | MHDR_INQUEUE)) == MHDR_PREPARED && output_faults.unprepare_busy > 0) {
    --output_faults.unprepare_busy;
    return MIDIERR_STILLPLAYING;
  }
  return unprepare(pmh);
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
  log_call("midiOutLongMsg");
  const MidiBackend* used = current_backend();
  OutputPort* port = nullptr;
  bool never_done = false;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    port = find_output(hmo);
    if (!port || port->closing) return MMSYSERR_INVALHANDLE;
    if (bad_header(pmh, cbmh) || (!pmh->lpData && pmh->dwBufferLength)) return MMSYSERR_INVALPARAM;
    if (!(flags_of(pmh) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (flags_of(pmh) & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    if (output_faults.long_msg_result != MMSYSERR_NOERROR) return output_faults.long_msg_result;
    clear_flags(pmh, MHDR_DONE);
    set_flags(pmh, MHDR_INQUEUE);
    never_done = output_faults.never_done;
    ++port->sending;
  }
  int sent = MMSYSERR_NODRIVER;
  if (!used->output_gone(port->backend_port)) {
    sent = pmh->dwBufferLength == 0
               ? MMSYSERR_NOERROR
               : used->send(port->backend_port, reinterpret_cast<const uint8_t*>(pmh->lpData),
                            static_cast<int>(pmh->dwBufferLength));
  }
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    clear_flags(pmh, MHDR_INQUEUE);
    if (sent == MMSYSERR_NOERROR && !never_done) set_flags(pmh, MHDR_DONE);
  }
  if (sent == MMSYSERR_NOERROR && !never_done) call_output(port, MOM_DONE, reinterpret_cast<DWORD_PTR>(pmh));
  std::lock_guard<std::mutex> hold(layer_lock);
  --port->sending;
  return static_cast<MMRESULT>(sent);
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg) {
  log_call("midiOutShortMsg");
  const MidiBackend* used = current_backend();
  int backend_port = -1;
  {
    std::lock_guard<std::mutex> hold(layer_lock);
    OutputPort* port = find_output(hmo);
    if (!port || port->closing) return MMSYSERR_INVALHANDLE;
    backend_port = port->backend_port;
  }
  const uint8_t bytes[3] = {static_cast<uint8_t>(dwMsg), static_cast<uint8_t>(dwMsg >> 8),
                            static_cast<uint8_t>(dwMsg >> 16)};
  if (bytes[0] < 0x80 || bytes[0] == 0xF0 || bytes[0] == 0xF7) return MMSYSERR_INVALPARAM;
  if (used->output_gone(backend_port)) return MMSYSERR_NODRIVER;
  return static_cast<MMRESULT>(used->send(backend_port, bytes, 1 + data_bytes_of(bytes[0])));
}
