// Resource ids shared by the resource script and the program. Plain #defines only: the
// resource compiler reads this file too.
#pragma once

// Tray icon (also the notification icon's uID) and the tray menu.
#define IDI_KVUSB 105
#define IDR_TRAYMENU 106

// Menu commands.
#define IDM_ABOUT 40001
#define IDM_TITLE 40010
#define IDM_MIRROR_ORIGINAL 40013
#define IDM_MIRROR_ZOOM1 40014
#define IDM_800X600_ORIGINAL 40017
#define IDM_800X600_ZOOM1 40018
#define IDM_800X600_ZOOM2 40019
#define IDM_POWER_AUTO 40020
#define IDM_POWER_ECO 40021
// The presenter's controls, after the items above.
#define IDM_FREEZE 40030
#define IDM_BLANK 40031
#define IDM_FLIP_NONE 40032
#define IDM_FLIP_HORIZONTAL 40033
#define IDM_FLIP_VERTICAL 40034
#define IDM_FLIP_BOTH 40035
#define IDM_ONE_WINDOW 40036

// Dialog templates and their controls.
#define IDD_ABOUT 141
#define IDD_OVERHEAT 142
#define IDD_FANFAIL 143
#define IDC_APP_VERSION 1001
#define IDC_FW_VERSION 1002
#define IDC_COPYRIGHT 1003
#define IDC_RIGHTS 1004
#define IDC_OVERHEAT_TEXT 1005
#define IDC_FANFAIL_TEXT 1006

// Menu pictures, 18 x 18: one for each top item, an "off" and an "on" for the others.
#define IDB_DISPLAY_MODE 150
#define IDB_POWER_MODE 151
#define IDB_ABOUT 152
#define IDB_FLIP 153
#define IDB_MIRROR_OFF 160
#define IDB_MIRROR_ON 161
#define IDB_800X600_OFF 162
#define IDB_800X600_ON 163
#define IDB_ORIGINAL_OFF 164
#define IDB_ORIGINAL_ON 165
#define IDB_ZOOM1_OFF 166
#define IDB_ZOOM1_ON 167
#define IDB_ZOOM2_OFF 168
#define IDB_ZOOM2_ON 169
#define IDB_POWER_AUTO_OFF 170
#define IDB_POWER_AUTO_ON 171
#define IDB_POWER_ECO_OFF 172
#define IDB_POWER_ECO_ON 173

// Dialog pictures, 32 x 32.
#define IDB_ABOUT_PICTURE 174
#define IDB_WARNING_PICTURE 175

// The presenter's menu pictures, 18 x 18, "off" and "on".
#define IDB_FREEZE_OFF 176
#define IDB_FREEZE_ON 177
#define IDB_BLANK_OFF 178
#define IDB_BLANK_ON 179
#define IDB_FLIP_NONE_OFF 180
#define IDB_FLIP_NONE_ON 181
#define IDB_FLIP_HORIZONTAL_OFF 182
#define IDB_FLIP_HORIZONTAL_ON 183
#define IDB_FLIP_VERTICAL_OFF 184
#define IDB_FLIP_VERTICAL_ON 185
#define IDB_FLIP_BOTH_OFF 186
#define IDB_FLIP_BOTH_ON 187
#define IDB_ONE_WINDOW_OFF 188
#define IDB_ONE_WINDOW_ON 189
