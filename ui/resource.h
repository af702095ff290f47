#pragma once
// Identifiers of the program's resources and of the progress dialogs' controls.

#define IDD_REMOVAL_DIALOG 143
#define IDD_FIXUP_DIALOG 148
#define IDB_PICTURE 139
#define IDI_CHECK 144

#define IDC_PROGRESS 1005
#define IDC_BROWSE 1012
#define IDC_CHECK_FIRST 1029 /* check marks of steps 0 to 4: 1029 to 1033 */
#define IDC_STATUS_REMOVAL 1034
#define IDC_LABEL_FIRST 1035 /* labels from 1035 on */
#define IDC_STATUS_FIXUP 1037
