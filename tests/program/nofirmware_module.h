// The program's resources without the firmware image (nofirmware.rc), as a module of its own.
#pragma once
#include <windows.h>

HINSTANCE nofirmware_module();
