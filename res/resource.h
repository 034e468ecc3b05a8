// Resource and control ids of the vexa utility, shared by the resource script and the program.
#pragma once

#define IDD_MAIN 101
#define IDB_PICTURE 113
#define IDI_APP 120

#define IDC_BRIGHTNESS 1000
#define IDC_DEVICE_TEXT 1001
#define IDC_STATUS_TEXT 1003
#define IDC_BLANK_LEADING_ZERO 1004
#define IDC_STATIONARY_LTC 1005
#define IDC_UPDATE_BUTTON 1006
#define IDC_PROGRESS 1007
#define IDC_HELP_UPDATE 1008
#define IDC_HELP_SETTINGS 1009
#define IDC_PORT_COMBO 1010
#define IDC_BLANK_FRAMES 1011
#define IDC_INFINITE_FLYWHEEL 1012
#define IDC_MTC_MMC_LOCATE 1013
#define IDC_LTC_HOLD_OFF 1014
#define IDC_MMC_ID_EDIT 1017
#define IDC_MMC_ID_SPIN 1022
#define IDC_MTC_FULL_MESSAGE 1024
#define IDC_ENABLE_TRVX 1026
