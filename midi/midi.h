// MIDI transport: port pairing, opening and closing, the SysEx transmitter and receiver.
#pragma once
#include <windows.h>

#include <mmsystem.h>

#include <atomic>
#include <cstdint>

constexpr int32_t RX_BUFFER_SIZE = 512;

extern std::atomic<HMIDIOUT> midi_out_port;
extern std::atomic<HMIDIIN> midi_in_port;
extern uint8_t rx_buffer_1[RX_BUFFER_SIZE];
extern uint8_t rx_buffer_2[RX_BUFFER_SIZE];
extern MIDIHDR rx_header_1;
extern MIDIHDR rx_header_2;
extern MIDIHDR tx_header;

// Guards midi_out_port, midi_in_port and tx_header: held for the whole of send_sysex and of every
// open and close, so a send of the upload worker and one of the dialog never overlap.
extern CRITICAL_SECTION port_lock;
void init_port_lock();

int32_t fill_output_list(HWND dialog);
int32_t find_matching_input(uint32_t output);
int32_t open_midi_out(uint32_t device);
int32_t open_midi_in(uint32_t device);
int32_t close_midi_out();
void close_midi_in();

int32_t send_sysex(const uint8_t* bytes, int32_t length);

void CALLBACK on_midi_input(HMIDIIN port, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR param2);
