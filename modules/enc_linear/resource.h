// Resource numbers of the WAV encoder module.
#pragma once

#define IDI_ENCODER 102
#define IDD_CONFIGURE 103

#define IDC_OUTPUT_PATH 1000
#define IDC_BROWSE 1001
#define IDC_PATTERN 1002
#define IDC_PATTERN_HELP 1003
#define IDC_PRESETS 1009
#define IDC_LINK_WEB 1016
#define IDC_LINK_MAIL 1017

#define IDS_INITIALIZING 1
#define IDS_INIT_COMPLETE 2
#define IDS_DEINITIALIZING 3
#define IDS_DEINIT_COMPLETE 4
#define IDS_ALLOC_ERROR 5
#define IDS_INVALID_HANDLE 6
#define IDS_OUTPUT_TAKEN 7
#define IDS_OUTPUT_IS_SOURCE 8
#define IDS_OUTPUT_PATH 14
#define IDS_OUTPUT_PATH_DESC 15
#define IDS_NAME_FORMAT 16
#define IDS_NAME_FORMAT_HELP 17
#define IDS_FORMAT_TOO_LONG 44
// Link targets and texts carry the link controls' ids.
#define IDS_LINK_WEB 1016
#define IDS_LINK_MAIL 1017
