// Resource and command ids of korvapp.exe, shared by korvapp.rc and src/ui.
#pragma once

// Frame resources: menu bar and application icon.
#define IDR_MAINFRAME 128
// Tray menu (its first submenu is shown).
#define IDR_TRAYMENU 143

#define IDD_ABOUTBOX 100
#define IDD_STARTUP 101

#define IDC_ABOUT_ICON 1000
#define IDC_ABOUT_VERSION 1001
#define IDC_STARTUP_TEXT 1003
#define IDC_STARTUP_PROGRESS 1004

// Commands.
#define ID_REPORT_BUG 1002
#define ID_CHECK_UPDATES 1019
#define ID_SHOW_MAIN_WINDOW 32771
#define ID_CUSTOMIZE_NOTIFICATIONS 32773
#define ID_GENERAL_SETTINGS 32781
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665

// Child window id of the main view (the first pane).
#define IDW_MAIN_VIEW 0xE900
