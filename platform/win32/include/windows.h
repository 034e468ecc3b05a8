// The subset of the Win32 API that the vexa utility uses, for the Linux layer.
#pragma once
#include "windef.h"
#include "winbase.h"
#include "winuser.h"
