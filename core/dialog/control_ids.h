/* Control and resource ids of the main dialog. Plain macros so that the
   resource script can include this header too. */
#ifndef FWUP_CONTROL_IDS_H
#define FWUP_CONTROL_IDS_H

#define IDD_UPGRADE_DIALOG 101
#define IDI_APP_ICON 102

#define IDC_UPGRADE_NOW 1000
#define IDC_EXIT 1001
#define IDC_VERIFY 1002
#define IDC_MODEL_NAME 1003
#define IDC_FW_FILE 1004
#define IDC_FILE_VERSION 1005
#define IDC_FW_VERSION 1006
#define IDC_STATUS 1008
#define IDC_PROGRESS 1009

#endif
