#pragma once
// Resource IDs of the program's own module.

#define IDD_ABOUTBOX 100
#define IDD_TMROVANE_DIALOG 102
#define IDR_MAINFRAME 132
#define IDI_INFORMATION_NOTE 137

#define IDC_ABOUT_TITLE 1016
#define IDC_ABOUT_OWNER 1019

#define IDC_BTN_CLOSE 1007
