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
// its own. True when every entry was inserted and committed. The entry whose row name is
// `leaveOut`, when given, is left out.
// The installer's own errors (a query it refuses, a failed commit) are shown through `ui`.
bool AddBinaryFilesToMsi(const wchar_t* workFolder, const wchar_t* outputName, IBuildUi& ui,
                         const wchar_t* leaveOut = nullptr);

// True when workFolder\outputName holds, for every plan entry, a Binary row of the entry's name
// whose stream is exactly as long as the entry's file. Checks a finished database before it is
// handed out. The row `leaveOut`, when given, must be absent.
bool VerifyMsiBinaryRows(const wchar_t* workFolder, const wchar_t* outputName,
                         const wchar_t* leaveOut = nullptr);

// Inserts the Binary row `name` with the file folder\name as its data into the database
// `databasePath` and commits it. True when the committed database holds the row with exactly the
// file's length; false when the row was there already or any step failed (the installer's own
// errors are shown through `ui`). A database filled once without one row takes it here in each of
// its copies: Wine's installer keeps a deleted row's stream, and a row inserted again under that
// name gets the old data.
bool InsertMsiBinaryRow(const wchar_t* databasePath, const wchar_t* folder, const wchar_t* name,
                        IBuildUi& ui);
