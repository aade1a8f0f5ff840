// Identifiers shared by the program and its resources.
#ifndef APP_RESOURCE_H
#define APP_RESOURCE_H

// The main dialog and its menu.
#define IDD_MAIN 1000
#define IDR_MAIN_MENU 10000
#define IDM_OPEN_FILE 10002

// The main dialog's controls, in template order.
#define IDC_VOLUME 1001
#define IDC_FILE_LABEL 1002
#define IDC_FILE_NAME 1003
#define IDC_VOLUME_LABEL 1004
#define IDC_BALANCE_LABEL 1005
#define IDC_BALANCE 1006
#define IDC_PLAY 1007
#define IDC_PAUSE 1008
#define IDC_STOP 1009
#define IDC_VOLUME_VALUE 1010
#define IDC_BALANCE_VALUE 1011

#endif
