#pragma once
// The dialog the control tests attach the controls to.
#define IDD_CONTROLS_TEST 300
#define IDC_TEST_LINK 301
#define IDC_TEST_COMBO 302
#define IDC_TEST_EDIT_COMBO 303
#define IDC_TEST_TREE 304
