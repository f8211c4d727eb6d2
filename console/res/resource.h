// Resource ids of the console, shared by the code and the resource scripts. Grouped per
// dialog; every string id listed here exists in every language set.
#pragma once

// Icons
#define IDR_MAINFRAME 128
#define IDI_START_STOP 139
#define IDI_START_STOP_ALT 140
#define IDI_ADVANCED 141
#define IDI_LOG 142
#define IDI_STATE_RUNNING 145
#define IDI_STATE_STOPPED 146
#define IDI_STATE_TROUBLE 147

// About box
#define IDD_ABOUTBOX 100
#define IDM_ABOUTBOX 0x0010

// Main dialog
#define IDD_BRANTEL_DIALOG 102
#define IDC_ADVANCED 1003
#define IDC_START_STOP 1004
#define IDC_LOG 1005
#define IDC_LOG_EDIT 1006
#define IDC_STATUS 1008
#define IDC_TRAY_ICON 1024

// Advanced options dialog
#define IDD_AUTH_OPTION 144
#define IDC_PASSWORD 1011
#define IDC_USER_NAME 1010
#define IDC_AUTO_AUTH 1012
#define IDC_SEARCH_GATEWAY 1013
#define IDC_FIXED_GATEWAY 1014
#define IDC_GATEWAY_ADDRESS 1016
#define IDC_GATEWAY_LABEL 1017
#define IDC_USER_NAME_LABEL 1018
#define IDC_PASSWORD_LABEL 1019
#define IDC_AUTH_GROUP 1020
#define IDC_CLEAR_LAST_GATEWAY 1023

// Strings
#define IDS_ABOUTBOX 101
#define IDS_SOCKETS_INIT_FAILED 103
#define IDS_LOG_SHOW 104
#define IDS_LOG_HIDE 105
#define IDS_STATE_RUNNING 106
#define IDS_STATE_STOPPED 107
#define IDS_STATE_TROUBLE 108
#define IDS_CONFIG_WRITE_ERROR 109
#define IDS_SAVE_FILE 110
#define IDS_STATE_SEARCHING 111
#define IDS_SYSTEM_ERROR 112
#define IDS_ERROR_CAPTION 113
#define IDS_BUTTON_STOP 114
#define IDS_BUTTON_START 115
#define IDS_CLEAR_GATEWAY_NOTICE 116
#define IDS_CREDENTIALS_TOO_LONG 120
#define IDS_CREDENTIALS_NOT_STORED 121

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
