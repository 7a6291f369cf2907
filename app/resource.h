// Resource and command ids shared by the resource script and the program.
#pragma once

#define IDS_APP_TITLE 102
#define IDS_CLASS_NAME 109
#define IDR_MAIN_MENU 1044
#define IDI_MAIN 213
#define IDI_ABOUT 223
#define IDD_ABOUT 101

#define IDM_ABOUT 103
#define IDM_EXIT 105
#define IDM_PARAMETERS 2000
#define IDM_COM1 2001
#define IDM_SAVE_PARAMETERS 2009
#define IDM_LOAD_PARAMETERS 2010
#define IDM_ROLL_10S 2016
#define IDM_ROLL_30S 2017
#define IDM_ROLL_60S 2018
#define IDM_PRINT 2019
#define IDM_STOP_AT_ALARM 2021
#define IDM_AUTO_CONNECT 2027
#define IDM_SCREEN_DUMP 2028

#define ID_RESET_MAX_PEAK 10
#define ID_RESET_MIN_PEAK 11
#define ID_RESET_DPDT_PEAK 12
#define ID_PORT_OPENED 500
