#include "groups/group_library.h"

#include <strsafe.h>

#include <cstring>
#include <cwchar>
#include <iterator>

#include "installation/server_paths.h"
#include "log/trace_log.h"

namespace groups {

LoadResult LoadGroupLibrary(fw::UniqueModule& library, const wchar_t* tag, DWORD loadFailureLevel) {
  library.reset();
  wchar_t keyPath[MAX_PATH];
  installation::GetAppPathsKey(keyPath);

  fw::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelError, tag, L"Unable to open registry key => %s", keyPath);
    return LoadResult::kKeyNotOpened;
  }
  wchar_t libraryPath[MAX_PATH] = L"";
  const LONG queried =
      installation::QueryRegString(key.get(), installation::kPathValue, libraryPath, MAX_PATH);
  key.reset();
  TraceLog(tracelog::kLevelProgress, tag, L"Installed path: %s", libraryPath);
  if (queried != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelError, tag, L"RegQueryValueEx failed");
    return LoadResult::kPathNotRead;
  }

  const size_t length = wcslen(libraryPath);
  const bool joined = (length > 0 && libraryPath[length - 1] == L'\\') ||
                      SUCCEEDED(::StringCchCatW(libraryPath, MAX_PATH, L"\\"));
  // A path cut short would name another file: a path that does not fit is not loaded.
  if (joined && SUCCEEDED(::StringCchCatW(libraryPath, MAX_PATH, kLibraryName))) {
    library.reset(::LoadLibraryExW(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  }
  if (!library) {
    TraceLog(loadFailureLevel, tag, L"LoadLibraryExW failed");
    return LoadResult::kLoadFailed;
  }
  return LoadResult::kLoaded;
}

bool CopyGroupGuid(const GroupRecord& record, char (&guid)[kGuidCapacity]) {
  const void* terminator = memchr(record.guid, '\0', kGuidCapacity);
  if (terminator == nullptr) {
    memset(guid, 0, sizeof(guid));
    return false;
  }
  memcpy(guid, record.guid, static_cast<const char*>(terminator) - record.guid + 1);
  return true;
}

bool ConvertUTF8ToWideChar(const char* text, wchar_t* buffer, int capacity) {
  if (buffer == nullptr || capacity < 1) {
    return false;
  }
  wmemset(buffer, L'\0', static_cast<size_t>(capacity));
  if (text == nullptr || ::MultiByteToWideChar(CP_UTF8, 0, text, -1, buffer, capacity) == 0) {
    wmemset(buffer, L'\0', static_cast<size_t>(capacity));
    return false;
  }
  return true;
}

bool ConvertToWideChar(const char* text, wchar_t* buffer, int capacity) {
  if (text == nullptr || buffer == nullptr || capacity < 1) {
    return false;
  }
  const int needed = ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
  if (needed == 0 || needed > capacity) {
    return false;
  }
  return ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, buffer, capacity) != 0;
}

bool IsGroupGuid(const wchar_t* guid) {
  static constexpr wchar_t kPattern[] = L"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (guid == nullptr) {
    return false;
  }
  for (size_t i = 0; i < std::size(kPattern) - 1; ++i) {
    const wchar_t c = guid[i];
    const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (kPattern[i] == L'x' ? !hex : c != kPattern[i]) {
      return false;
    }
  }
  return guid[std::size(kPattern) - 1] == L'\0';
}

DefaultGroupResult ReadDefaultGroupGuid(wchar_t* guid, int capacity, const wchar_t* tag) {
  fw::UniqueModule library;
  switch (LoadGroupLibrary(library, tag, tracelog::kLevelError)) {
    case LoadResult::kLoaded:
      break;
    case LoadResult::kKeyNotOpened:
      return DefaultGroupResult::kNoRegistration;
    case LoadResult::kPathNotRead:
    case LoadResult::kLoadFailed:
      return DefaultGroupResult::kFailed;
  }

  const auto getGroupDetails = fw::GetExport<GetGroupDetailsFn>(library.get(), kGetGroupDetailsName);
  if (getGroupDetails == nullptr) {
    TraceLog(tracelog::kLevelError, tag, L"GetProcAddress(GetGroupDetails) failed.");
    return DefaultGroupResult::kFailed;
  }
  GroupRecord record{};
  uint32_t status = 0;
  if (getGroupDetails(kDefaultGroupId, &record, &status) == 0) {
    TraceLog(tracelog::kLevelError, tag, L"pfnGetGroupDetails failed.");
    return DefaultGroupResult::kFailed;
  }
  char narrowGuid[kGuidCapacity];
  if (!CopyGroupGuid(record, narrowGuid) || !ConvertUTF8ToWideChar(narrowGuid, guid, capacity)) {
    if (guid != nullptr && capacity > 0) {
      wmemset(guid, L'\0', static_cast<size_t>(capacity));
    }
    TraceLog(tracelog::kLevelError, tag, L"ConvertUTF8ToWideChar failed.");
    return DefaultGroupResult::kFailed;
  }
  if (!IsGroupGuid(guid)) {
    wmemset(guid, L'\0', static_cast<size_t>(capacity));
    TraceLog(tracelog::kLevelError, tag, L"Default GUID is not of the form {8-4-4-4-12}.");
    return DefaultGroupResult::kFailed;
  }
  TraceLog(tracelog::kLevelProgress, tag, L"Default GUID(%s)", guid);
  library.reset();
  TraceLog(tracelog::kLevelProgress, tag, L"success");
  return DefaultGroupResult::kLoaded;
}

}  // namespace groups
