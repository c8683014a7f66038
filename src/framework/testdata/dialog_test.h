#pragma once
// The dialog the framework tests run.
#define IDD_FRAMEWORK_TEST 200
#define IDC_TEST_TITLE 201
