// Window, dialog and control style bits used by the resource script. The script includes this small
// list instead of <windows.h>, so that it compiles with windres on any host without the Windows headers.
// The values are the platform's own.
#pragma once

#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_VSCROLL 0x00200000L
#define WS_SYSMENU 0x00080000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_TABSTOP 0x00010000L

#define DS_3DLOOK 0x0004L
#define DS_FIXEDSYS 0x0008L
#define DS_SETFONT 0x0040L
#define DS_MODALFRAME 0x0080L
#define DS_CENTER 0x0800L

#define BS_PUSHBUTTON 0x0000L
#define BS_AUTOCHECKBOX 0x0003L
#define BS_GROUPBOX 0x0007L

#define ES_CENTER 0x0001L
#define ES_NOHIDESEL 0x0100L
#define ES_NUMBER 0x2000L

#define SS_CENTER 0x0001L
#define SS_BITMAP 0x000EL

#define CBS_DROPDOWN 0x0002L
#define CBS_HASSTRINGS 0x0200L

#define TBS_HORZ 0x0000L
#define TBS_BOTH 0x0008L
#define TBS_NOTICKS 0x0010L

#define UDS_ALIGNRIGHT 0x0004L
#define UDS_ARROWKEYS 0x0020L

// Predefined window class ordinals, stored in a dialog item as 0xFFFF followed by the ordinal.
#define CLASS_BUTTON 0x0080
#define CLASS_EDIT 0x0081
#define CLASS_STATIC 0x0082
#define CLASS_COMBOBOX 0x0085

#define LANG_GERMAN 0x07
#define SUBLANG_GERMAN 0x01
