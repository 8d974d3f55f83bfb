// Resource and control ids of the settings dialog and its pages.
#pragma once

#define IDD_SETTINGS 101
#define IDD_PAGE_EDIT 102
#define IDD_PAGE_CHECK 103
#define IDD_PAGE_LIST 104
#define IDD_PAGE_SLIDER 105
#define IDD_PAGE_SPIN 106
#define IDD_PAGE_MODULE 107

#define IDB_PYLCFG_TOOLBAR 111
#define IDI_PYLCFG_SETTING 113
#define IDI_PYLCFG_MODULE 160

#define IDC_STATIC -1
#define IDC_SETTINGS_LIST 1001
#define IDC_PAGE_CHECK 1001
#define IDC_PAGE_NAME 1002
#define IDC_PAGE_EDIT 1003
#define IDC_PAGE_UNIT 1004
#define IDC_PAGE_COMBO 1005
#define IDC_PAGE_SLIDER 1006
#define IDC_PAGE_AREA 1007
#define IDC_PAGE_SPIN 1008
#define IDC_PAGE_TOOLBAR 1011
#define IDC_PRESETS 1021
#define IDC_PRESET_ADD 1022
#define IDC_PRESET_DEL 1023
#define IDC_PRESET_SET 1024

// Toolbar of the pages: control id and button commands (also the tooltip string ids).
#define IDC_PAGE_TOOLS 10900
#define IDT_CONFIGURE 1009
#define IDT_DEFAULT 1010

// Refresh message between the dialog and its pages: wParam 0, lParam the setting index.
#define PYLCFG_REFRESH 0x8000
#define PYLCFG_MAX_SETTINGS 256
