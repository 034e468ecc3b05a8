// A firmware image given with `vexa update --image FILE`: checked as the program checks its own image
// before an upload (image_length, check_image_header), then carried by a module of its own, the program's
// resources with this file as "FirmwareFile", which the program loads at its start as it loads the image
// built into the executable.
#pragma once
#include <windows.h>

#include <string>

// The module, or NULL with the problem in `error` (the file unreadable, no terminator, a wrong header).
HINSTANCE image_module(const std::string& path, std::string& error);
