#pragma once
// Stores the payload files named in the working folder's package plan (pkgplan.ini) as rows of
// the Binary table of an MSI database that lies in the same folder, through the Windows
// Installer API.

#include <windows.h>

#include <cstddef>

#include "build/build_ui.h"

inline constexpr wchar_t kPackagePlanFileName[] = L"pkgplan.ini";
inline constexpr wchar_t kPlanPackageSection[] = L"CLIENT_PACKAGE";
inline constexpr wchar_t kPlanInstallerSection[] = L"CLIENT_INSTALLER";

// FILE_COUNT of `section` in the plan; true when it is not 0.
bool GetTotalFileCount(const wchar_t* planPath, const wchar_t* section, int* count);

// The entry under the decimal key `index` into `buffer` (capacity characters); true when it is
// not empty.
bool GetFileName(const wchar_t* planPath, const wchar_t* section, int index, wchar_t* buffer, DWORD capacity);

// Inserts one Binary row per plan entry into workFolder\outputName: the entry's text after its
// last backslash as the name, the file workFolder\entry as the data; each file is committed on
// its own. True when every entry was inserted and committed.
// The installer's own errors (a query it refuses, a failed commit) are shown through `ui`.
bool AddBinaryFilesToMsi(const wchar_t* workFolder, const wchar_t* outputName, IBuildUi& ui);

// True when workFolder\outputName holds, for every plan entry, a Binary row of the entry's name
// whose stream is exactly as long as the entry's file. Checks a finished database before it is
// handed out.
bool VerifyMsiBinaryRows(const wchar_t* workFolder, const wchar_t* outputName);
