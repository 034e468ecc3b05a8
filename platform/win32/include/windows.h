// The subset of the Win32 API that the vexa utility uses, for the Linux layer.
#pragma once
#include "winbase.h"
#include "windef.h"
#include "winuser.h"
