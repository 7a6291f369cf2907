/* Dialog template and control ids of the four parameter pages, shared by the resource script and the program. */
#pragma once

#define IDD_LIMIT1_PAGE 200
#define IDD_SETUP_PAGE 202
#define IDD_LIMIT2_PAGE 203
#define IDD_DPDT_PAGE 204

/* Limit 1, Limit 2 and dPdt pages (the dPdt page uses the first two). */
#define IDC_LIMIT_MODE 1010
#define IDC_SETPOINT 1011
#define IDC_HYSTERESIS 1012
#define IDC_TR 1013
#define IDC_AUTO_RESET 1014
#define IDC_DVDT 1048

/* Setup page. */
#define IDC_TIMER_RANGE 1026
#define IDC_IOUT 1027
#define IDC_IOUT_POLARITY 1028
#define IDC_FILTER 1029
#define IDC_P1MAX 1030
#define IDC_P1MIN 1031
#define IDC_OUTPUT_POLARITY 1033
#define IDC_TS 1034
#define IDC_AUTO_SHUT_DOWN 1035
#define IDC_ZERO 1036
