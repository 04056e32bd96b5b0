// Resource identifiers of the agent: dialogs 100-196, controls 1006-1100, images 128-180.
// Shared by the resource script and the C++ code. The tray menu's commands (1025-1029) are
// TrayCommand in agent/TrayLogic.h.
#pragma once

// Dialog templates
#define IDD_ABOUT 100
#define IDD_LOGON_PROMPT 178
#define IDD_ACCESS_URL 179
#define IDD_PORT_OPTIONS 194
#define IDD_NO_TOKEN 195
#define IDD_MANY_TOKENS 196

// Icons and bitmaps
#define IDI_AGENT 128
#define IDI_TRAY 129
#define IDI_TOKEN 130
#define IDB_READER 180

// Port Options dialog
#define IDC_COM1 1006
#define IDC_COM2 1007
#define IDC_COM3 1008
#define IDC_COM4 1009
#define IDC_LPT 1010
#define IDC_USB 1011
#define IDC_SELECT_ALL 1017
#define IDC_PORTS_GROUP 1018
#define IDC_PORTS_NOTE 1019

// About dialog
#define IDC_DEVELOPER_LINK 1048
#define IDC_VENDOR_LINK 1050

// Logon prompt
#define IDC_PORT_OPTIONS 1051
#define IDC_SKIP_PROMPT 1052

// Access URL dialog
#define IDC_DEFAULTS 1053
#define IDC_ACCESS_URL 1100

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
