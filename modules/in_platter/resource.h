#pragma once
#define IDI_MODULE 101
#define IDS_INIT_BEGIN 1
#define IDS_INIT_DONE 2
#define IDS_QUIT_BEGIN 3
#define IDS_CLOSE_INSTANCE 4
#define IDS_QUIT_DONE 5
#define IDS_READ_ERROR 6
