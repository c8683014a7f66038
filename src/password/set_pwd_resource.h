#pragma once
// Resource IDs of the password dialog.

#define IDD_SET_PASSWORD 136
// The program's main icon, shown as the dialog's large icon.
#define IDI_SET_PASSWORD_ICON 132

#define IDC_EDIT_PASSWORD 1053
#define IDC_EDIT_CONFIRM_PASSWORD 1054
#define IDC_STATIC_PASSWORD 1055
#define IDC_STATIC_CONFIRM_PASSWORD 1056
