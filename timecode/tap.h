// The reader beside the program: a MIDI back-end that wraps the one a host chose and passes everything
// through, while every byte that an open input receives also goes to one time code reader. The program
// and the WINMM layer see the chosen back-end as it is.
//
// The reader runs under the tap's lock, each byte stamped with the time at which it reaches the input: when
// the back-end hands it over, or later when the back-end says so (microseconds on the steady clock).
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "platform/midi/midi_backend.h"
#include "timecode/timecode.h"

// The wrapped back-end, with the same name; `inner` itself when it is the tap already. The reader starts
// afresh. Call it while no port of the tap is open.
const MidiBackend* timecode_tap(const MidiBackend* inner);
// The tap's clock.
uint64_t timecode_tap_now_us();
// Runs fn on the reader under the tap's lock, once it has been advanced to now.
void timecode_tap_with(const std::function<void(TimecodeReader& reader, uint64_t now_us)>& fn);
// The line below the dialog, as of now.
std::string timecode_tap_line();
