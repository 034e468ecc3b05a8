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

// The two receive buffers by the number that decode_reply takes: 1 reads rx_buffer_1, 2 rx_buffer_2.
enum RxBuffer : int32_t { RX_BUFFER_1 = 1, RX_BUFFER_2 = 2 };

// Results of open_midi_out. The caller tells only zero from non-zero.
enum OpenOutResult : int32_t {
  OPEN_OUT_OK = 0,
  // The device number is not below the number of outputs; an output that was open is closed.
  OPEN_OUT_NO_DEVICE = -1,
  // midiOutOpen failed: the port is in use or gone.
  OPEN_OUT_FAILED = -2,
};

// Results of open_midi_in, each naming the step that failed. Every failure leaves the input closed.
enum OpenInResult : int32_t {
  OPEN_IN_OK = 0,
  // The device number is not below the number of inputs; an input that was open is closed.
  OPEN_IN_NO_DEVICE = -2,
  // midiInOpen failed: the port is in use or gone.
  OPEN_IN_FAILED = -4,
  // Preparing rx_header_1 or rx_header_2 failed.
  OPEN_IN_PREPARE_FAILED = -6,
  // Queuing rx_header_1 or rx_header_2 failed.
  OPEN_IN_QUEUE_FAILED = -7,
  // midiInStart failed.
  OPEN_IN_START_FAILED = -8,
};

// fill_output_list: the platform reports no MIDI output, and the list stays empty.
constexpr int32_t NO_MIDI_OUTPUTS = -1;
// find_matching_input: no input exists, or none begins with the output's name.
constexpr int32_t NO_MATCHING_INPUT = -1;

int32_t fill_output_list(HWND dialog);
// The number of the first input whose name begins with the output's name, or NO_MATCHING_INPUT.
int32_t find_matching_input(uint32_t output);
OpenOutResult open_midi_out(uint32_t device);
OpenInResult open_midi_in(uint32_t device);
int32_t close_midi_out();
void close_midi_in();

int32_t send_sysex(const uint8_t* bytes, int32_t length);

void CALLBACK on_midi_input(HMIDIIN port, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR param2);
