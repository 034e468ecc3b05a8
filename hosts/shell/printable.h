// Text from outside the program (a port's name, a file, the unit) as it may reach a terminal: every
// control character, and every byte that is no part of UTF-8, shown as '?', so that none of them can move
// the cursor, set the window's title or change what follows.
#pragma once
#include <string>
#include <string_view>

std::string printable(std::string_view text);
