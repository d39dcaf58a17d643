// Resource ids of the setup launcher: dialog templates, string, icon,
// cursor, bitmaps and control ids. Shared by the resource script, the
// launcher's classes and its Wine test.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_LAUNCHER 102
#define IDR_MAINFRAME 128
#define IDC_POINTER 137
#define IDB_BACKGROUND 140

// Picture buttons: idle (normal), hover (focused), pressed (selected).
#define IDB_INSTALL_IDLE 132
#define IDB_INSTALL_HOVER 164
#define IDB_INSTALL_PRESSED 172
#define IDB_HELP_IDLE 133
#define IDB_HELP_HOVER 161
#define IDB_HELP_PRESSED 168
#define IDB_EXIT_IDLE 142
#define IDB_EXIT_HOVER 160
#define IDB_EXIT_PRESSED 167
#define IDB_MINIMISE_IDLE 152
#define IDB_MINIMISE_HOVER 157
#define IDB_MINIMISE_PRESSED 170
#define IDB_CLOSE_IDLE 153
#define IDB_CLOSE_HOVER 159
#define IDB_CLOSE_PRESSED 166

#define IDC_INSTALL 1000
#define IDC_EXIT 1002
#define IDC_HELP_FOLDER 1003
#define IDC_MINIMISE 1005
#define IDC_CLOSE 1007

// The system-menu command that opens the About box.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Template 102 measures 424 by 287 dialog units.
#define LAUNCHER_WIDTH_DLU 424
#define LAUNCHER_HEIGHT_DLU 287
