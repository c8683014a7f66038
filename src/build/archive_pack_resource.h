#pragma once
// IDs of the 7-Zip console program and library among the program's own resources (custom
// types "EXE" and "DLL").

#define IDR_SEVENZIP_DLL 134
#define IDR_SEVENZIP_EXE 135
