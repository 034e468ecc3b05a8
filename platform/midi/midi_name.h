// Port names are UTF-8, as ALSA, JACK and Web MIDI give them. Where a name must fit a field of fixed size
// (szPname: 31 bytes and a NUL), it is cut after its last whole character, as Windows' conversion of a
// driver's name to a multi-byte code page never writes part of a character.
#pragma once
#include <cstddef>

// The length of the longest beginning of `name` (`length` bytes) that fits in `room` bytes without ending
// inside a character.
inline size_t midi_name_fit(const char* name, size_t length, size_t room) {
  if (length <= room) return length;
  size_t cut = room;
  // A continuation byte (10xxxxxx) belongs to the character before it, so a cut just before one splits
  // that character; a character has at most three of them.
  for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80; ++back)
    --cut;
  return cut;
}
