#include "build/msi_builder.h"

#include <strsafe.h>

#include <algorithm>
#include <string_view>

#include "build/msi_handle.h"
#include "log/trace_log.h"

namespace {

constexpr DWORD kEntryCapacity = MAX_PATH;
constexpr size_t kMsiErrorCapacity = 4096;
constexpr wchar_t kInsertQuery[] = L"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)";
constexpr wchar_t kSelectQuery[] = L"SELECT `Data` FROM `Binary` WHERE `Name` = ?";

// The row name of a plan entry: its text after the last backslash, or all of it.
const wchar_t* RowName(const wchar_t* entry) {
  const wchar_t* slash = wcsrchr(entry, L'\\');
  return slash != nullptr ? slash + 1 : entry;
}

// True when `leaveOut` names the row of plan entry `entry`.
bool IsLeftOut(const wchar_t* entry, const wchar_t* leaveOut) {
  return leaveOut != nullptr && ::CompareStringOrdinal(RowName(entry), -1, leaveOut, -1, FALSE) == CSTR_EQUAL;
}

// folder + "\" + name into `path` (MAX_PATH); false when it does not fit.
bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t (&path)[MAX_PATH]) {
  return SUCCEEDED(::StringCchPrintfW(path, MAX_PATH, L"%s\\%s", folder, name));
}

// Shows the text of the installer's last error record, when there is one and it can be formatted.
void ShowLastMsiError(IBuildUi& ui) {
  const UniqueMsiHandle error(::MsiGetLastErrorRecord());
  if (!error) {
    return;
  }
  wchar_t text[kMsiErrorCapacity] = L"";
  DWORD length = kMsiErrorCapacity;
  if (::MsiFormatRecordW(0, error.get(), text, &length) == ERROR_SUCCESS) {
    ui.Show(OwnMessage(text));
  }
}

// Inserts one plan entry as a row and commits it. Traces and reports as AddBinaryFilesToMsi.
bool InsertEntry(MSIHANDLE database, const wchar_t* workFolder, const wchar_t* entry, IBuildUi& ui) {
  static const wchar_t kTag[] = L"AddBinaryFilesToMsi";
  UniqueMsiHandle view;
  const UINT opened = ::MsiDatabaseOpenViewW(database, kInsertQuery, view.put());
  if (opened != ERROR_SUCCESS) {
    if (opened == ERROR_INVALID_HANDLE) {
      ui.Show(OwnMessage(L"ERROR_INVALID_HANDLE"));
    } else if (opened == ERROR_BAD_QUERY_SYNTAX) {
      ui.Show(OwnMessage(L"ERROR_BAD_QUERY_SYNTAX"));
    }
    TraceLog(tracelog::kLevelError, kTag, L"MsiDatabaseOpenView faile (Err-> %u)", opened);
    return false;
  }
  wchar_t filePath[MAX_PATH];
  if (!JoinPath(workFolder, entry, filePath)) {
    TraceLog(tracelog::kLevelError, kTag, L"File path too long (%s)", entry);
    return false;
  }
  TraceLog(tracelog::kLevelError, kTag, L"Adding file to MSI (%s)", filePath);
  const UniqueMsiHandle record(::MsiCreateRecord(2));
  if (!record) {
    TraceLog(tracelog::kLevelError, kTag, L"MsiCreateRecord failed.");
    return false;
  }
  // The name goes in as a parameter: any character, an apostrophe included, is stored as it is.
  const UINT named = ::MsiRecordSetStringW(record.get(), 1, RowName(entry));
  if (named != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelError, kTag, L"MsiRecordSetString (%s), (Err -> %u)", RowName(entry), named);
    return false;
  }
  const UINT streamed = ::MsiRecordSetStreamW(record.get(), 2, filePath);
  TraceLog(tracelog::kLevelError, kTag, L"MsiRecordSetStream FileToAdd (%s), (Err -> %u)", filePath,
           streamed);
  if (streamed != ERROR_SUCCESS) {
    return false;
  }
  const UINT executed = ::MsiViewExecute(view.get(), record.get());
  TraceLog(tracelog::kLevelError, kTag, L"MsiViewExecute FileToAdd (%s), (Err -> %u)", filePath, executed);
  if (executed != ERROR_SUCCESS) {
    return false;
  }
  ::MsiViewClose(view.get());

  const MSICONDITION persistent = ::MsiDatabaseIsTablePersistentW(database, L"Binary");
  if (persistent != MSICONDITION_TRUE) {
    TraceLog(tracelog::kLevelError, kTag, L"MsiDatabaseIsTablePersistent failed (Ret=%u)",
             static_cast<unsigned>(persistent));
  }
  const UINT committed = ::MsiDatabaseCommit(database);
  if (committed != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelError, kTag, L"MsiDatabaseCommit failed (Ret=%u)", committed);
    ShowLastMsiError(ui);
  }
  TraceLog(tracelog::kLevelError, kTag, L"MsiDatabaseCommit (Err=%u)", committed);
  if (committed != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelError, kTag, L"MsiDatabaseCommit (Err=%u)", committed);
    return false;
  }
  return true;
}

// The Data stream length of the row `name`; false when there is no such row.
bool StreamSize(MSIHANDLE database, const wchar_t* name, UINT* size) {
  UniqueMsiHandle view;
  if (::MsiDatabaseOpenViewW(database, kSelectQuery, view.put()) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueMsiHandle key(::MsiCreateRecord(1));
  if (!key || ::MsiRecordSetStringW(key.get(), 1, name) != ERROR_SUCCESS ||
      ::MsiViewExecute(view.get(), key.get()) != ERROR_SUCCESS) {
    return false;
  }
  UniqueMsiHandle row;
  const bool found = ::MsiViewFetch(view.get(), row.put()) == ERROR_SUCCESS;
  if (found) {
    *size = ::MsiRecordDataSize(row.get(), 1);
  }
  ::MsiViewClose(view.get());
  return found;
}

// True when `entry` names a file below the working folder: a bare name or a relative path with no
// drive, no root, no share, no stream (no colon at all) and no "..", ending in a file name. The
// system drops a component's trailing dots and spaces (".. " is ".."), so a component that ends
// in either is refused, "." alone excepted.
bool IsEntryBelowFolder(const wchar_t* entry) {
  const std::wstring_view text(entry);
  if (text.empty() || text.find(L':') != std::wstring_view::npos || text[0] == L'\\' || text[0] == L'/') {
    return false;
  }
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(text.find_first_of(L"\\/", start), text.size());
    const std::wstring_view component = text.substr(start, end - start);
    if (component != L"." && !component.empty() && (component.back() == L'.' || component.back() == L' ')) {
      return false;
    }
    if (end == text.size()) {
      return !component.empty() && component != L".";
    }
    start = end + 1;
  }
}

// Plan entry `index` into `entry`; false, traced, when it is missing or names no file below the
// working folder, so that nothing from outside it reaches a database.
bool ReadEntry(const wchar_t* planPath, int index, wchar_t (&entry)[kEntryCapacity]) {
  static const wchar_t kTag[] = L"AddBinaryFilesToMsi";
  if (!GetFileName(planPath, kPlanPackageSection, index, entry, kEntryCapacity)) {
    TraceLog(tracelog::kLevelError, kTag, L"GetFileName failed (iLoop = %d)", index);
    return false;
  }
  if (!IsEntryBelowFolder(entry)) {
    TraceLog(tracelog::kLevelError, kTag, L"Plan entry %d (%s) names no file below the working folder", index,
             entry);
    return false;
  }
  return true;
}

}  // namespace

bool GetTotalFileCount(const wchar_t* planPath, const wchar_t* section, int* count) {
  static const wchar_t kTag[] = L"GetTotalFileCount";
  TraceLog(tracelog::kLevelProgress, kTag, L"called");
  if (planPath == nullptr || section == nullptr || count == nullptr) {
    TraceLog(tracelog::kLevelProgress, kTag, L"Invalid parameter");
    return false;
  }
  *count = static_cast<int>(::GetPrivateProfileIntW(section, L"FILE_COUNT", 0, planPath));
  if (*count == 0) {
    TraceLog(tracelog::kLevelProgress, kTag, L"GetPrivateProfileInt failed.");
    return false;
  }
  // The reader hands a negative text back as it is; no plan holds fewer than no files.
  if (*count < 0) {
    TraceLog(tracelog::kLevelError, kTag, L"FILE_COUNT %d is negative", *count);
    return false;
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"called");
  return true;
}

bool GetFileName(const wchar_t* planPath, const wchar_t* section, int index, wchar_t* buffer,
                 DWORD capacity) {
  static const wchar_t kTag[] = L"GetFileName";
  TraceLog(tracelog::kLevelProgress, kTag, L"called");
  if (planPath == nullptr || section == nullptr || buffer == nullptr || capacity == 0) {
    TraceLog(tracelog::kLevelProgress, kTag, L"invalid parameter");
    return false;
  }
  wchar_t key[16];
  ::StringCchPrintfW(key, 16, L"%d", index);
  ::GetPrivateProfileStringW(section, key, L"", buffer, capacity, planPath);
  if (buffer[0] == L'\0') {
    TraceLog(tracelog::kLevelProgress, kTag, L"GetPrivateProfileString failed.");
    return false;
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"success.");
  return true;
}

bool AddBinaryFilesToMsi(const wchar_t* workFolder, const wchar_t* outputName, IBuildUi& ui,
                         const wchar_t* leaveOut) {
  static const wchar_t kTag[] = L"AddBinaryFilesToMsi";
  TraceLog(tracelog::kLevelProgress, kTag, L"Entry.");
  if (workFolder == nullptr || outputName == nullptr) {
    TraceLog(tracelog::kLevelProgress, kTag, L"NULL Params.");
    return false;
  }
  wchar_t planPath[MAX_PATH];
  int count = 0;
  if (!JoinPath(workFolder, kPackagePlanFileName, planPath) ||
      !GetTotalFileCount(planPath, kPlanPackageSection, &count)) {
    TraceLog(tracelog::kLevelError, kTag, L"GetTotalFileCount failed.");
    return false;
  }
  wchar_t databasePath[MAX_PATH];
  if (!JoinPath(workFolder, outputName, databasePath)) {
    TraceLog(tracelog::kLevelError, kTag, L"MsiOpenDatabase failed");
    return false;
  }
  UniqueMsiHandle database;
  const UINT opened = ::MsiOpenDatabaseW(databasePath, MSIDBOPEN_TRANSACT, database.put());
  TraceLog(tracelog::kLevelError, kTag, L"MsiOpenDatabase (Err=%u)", opened);
  if (opened != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelError, kTag, L"MsiOpenDatabase failed");
    return false;
  }
  for (int index = 0; index < count; ++index) {
    wchar_t entry[kEntryCapacity];
    if (!ReadEntry(planPath, index, entry)) {
      return false;
    }
    TraceLog(tracelog::kLevelError, kTag, L"GetFileName (iLoop = %d) returned (%s)", index, entry);
    if (IsLeftOut(entry, leaveOut)) {
      continue;
    }
    if (!InsertEntry(database.get(), workFolder, entry, ui)) {
      return false;
    }
  }
  TraceLog(tracelog::kLevelError, kTag, L"Exit.");
  return true;
}

bool VerifyMsiBinaryRows(const wchar_t* workFolder, const wchar_t* outputName, const wchar_t* leaveOut) {
  static const wchar_t kTag[] = L"VerifyMsiBinaryRows";
  wchar_t planPath[MAX_PATH];
  wchar_t databasePath[MAX_PATH];
  int count = 0;
  if (!JoinPath(workFolder, kPackagePlanFileName, planPath) ||
      !JoinPath(workFolder, outputName, databasePath) ||
      !GetTotalFileCount(planPath, kPlanPackageSection, &count)) {
    return false;
  }
  UniqueMsiHandle database;
  const UINT opened = ::MsiOpenDatabaseW(databasePath, MSIDBOPEN_READONLY, database.put());
  if (opened != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelError, kTag, L"MsiOpenDatabase failed (Err=%u)", opened);
    return false;
  }
  for (int index = 0; index < count; ++index) {
    wchar_t entry[kEntryCapacity];
    wchar_t filePath[MAX_PATH];
    WIN32_FILE_ATTRIBUTE_DATA file{};
    UINT stored = 0;
    if (!ReadEntry(planPath, index, entry) || !JoinPath(workFolder, entry, filePath) ||
        !::GetFileAttributesExW(filePath, GetFileExInfoStandard, &file)) {
      TraceLog(tracelog::kLevelError, kTag, L"Plan entry %d unreadable", index);
      return false;
    }
    if (IsLeftOut(entry, leaveOut)) {
      if (StreamSize(database.get(), RowName(entry), &stored)) {
        TraceLog(tracelog::kLevelError, kTag, L"Binary row (%s) is there", RowName(entry));
        return false;
      }
      continue;
    }
    if (!StreamSize(database.get(), RowName(entry), &stored) || file.nFileSizeHigh != 0 ||
        stored != file.nFileSizeLow) {
      TraceLog(tracelog::kLevelError, kTag, L"Binary row (%s) missing or not of its file's size",
               RowName(entry));
      return false;
    }
  }
  return true;
}

bool InsertMsiBinaryRow(const wchar_t* databasePath, const wchar_t* folder, const wchar_t* name,
                        IBuildUi& ui) {
  static const wchar_t kTag[] = L"InsertMsiBinaryRow";
  wchar_t filePath[MAX_PATH];
  WIN32_FILE_ATTRIBUTE_DATA file{};
  if (!JoinPath(folder, name, filePath) || !::GetFileAttributesExW(filePath, GetFileExInfoStandard, &file)) {
    TraceLog(tracelog::kLevelError, kTag, L"The file of row (%s) cannot be read", name);
    return false;
  }
  {
    UniqueMsiHandle database;
    const UINT opened = ::MsiOpenDatabaseW(databasePath, MSIDBOPEN_TRANSACT, database.put());
    if (opened != ERROR_SUCCESS) {
      TraceLog(tracelog::kLevelError, kTag, L"MsiOpenDatabase failed (Err=%u)", opened);
      return false;
    }
    if (!InsertEntry(database.get(), folder, name, ui)) {
      return false;
    }
  }
  UniqueMsiHandle written;
  UINT stored = 0;
  const bool found = ::MsiOpenDatabaseW(databasePath, MSIDBOPEN_READONLY, written.put()) == ERROR_SUCCESS &&
                     StreamSize(written.get(), name, &stored);
  if (!found || file.nFileSizeHigh != 0 || stored != file.nFileSizeLow) {
    TraceLog(tracelog::kLevelError, kTag, L"Binary row (%s) %s: %u bytes stored, its file %lu", name,
             found ? L"not of its file's size" : L"missing", stored, file.nFileSizeLow);
    return false;
  }
  return true;
}
