// The window's resources and controls by number: read by the resource compiler and by C++
// alike, so plain macros.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPDATER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDM_ABOUTBOX 16

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_PORT 1001
#define IDC_RESET 1007
#define IDC_VERSION 1008
#define IDC_COMMAND 1018
#define IDC_FILE_NAME 1019
#define IDC_BROWSE 1020
#define IDC_PROGRESS 1021
#define IDC_STATUS 1024
#define IDC_RUN 1025
#define IDC_STOP 1026
#define IDC_CRADLE_ID 1029
#define IDC_COMMAND_TEXT 1045
