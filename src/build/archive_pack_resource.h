#pragma once
// IDs of the 7-Zip console program and library among the program's own resources (custom
// types "EXE" and "DLL"): the 32-bit (ia32) pair, which runs on every Windows, and the 64-bit
// (x64) pair, which runs only on 64-bit Windows.

#define IDR_SEVENZIP_DLL 134
#define IDR_SEVENZIP_EXE 135
#define IDR_SEVENZIP_X64_DLL 138
#define IDR_SEVENZIP_X64_EXE 139
