#include "app/server_paths.h"

#include <strsafe.h>

#include <cwchar>

#include "contracts/verkit.h"
#include "framework/handles.h"
#include "log/trace_log.h"

namespace serverpaths {

namespace {
constexpr wchar_t kGetRegValueTag[] = L"GetRegValue";
}  // namespace

LONG QueryRegString(HKEY key, const wchar_t* valueName, wchar_t* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0 || capacity > MAXDWORD / sizeof(wchar_t)) {
    return ERROR_INVALID_PARAMETER;
  }
  buffer[0] = L'\0';
  DWORD bytes = static_cast<DWORD>(capacity * sizeof(wchar_t));
  const LONG result =
      ::RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
  if (result != ERROR_SUCCESS) {
    buffer[0] = L'\0';
    return result;
  }
  // The stored data need not end with a terminator; an odd last byte is not a character.
  size_t length = bytes / sizeof(wchar_t);
  while (length > 0 && buffer[length - 1] == L'\0') {
    --length;
  }
  if (length >= capacity) {
    buffer[0] = L'\0';
    return ERROR_MORE_DATA;
  }
  buffer[length] = L'\0';
  return ERROR_SUCCESS;
}

bool GetRegValue(const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer, size_t capacity) {
  TraceLog(tracelog::kLevelProgress, kGetRegValueTag, L"called");
  if (keyPath == nullptr || valueName == nullptr || buffer == nullptr || capacity == 0) {
    TraceLog(tracelog::kLevelProgress, kGetRegValueTag, L"invalid parameter");
    return false;
  }
  buffer[0] = L'\0';
  fw::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelProgress, kGetRegValueTag, L"RegOpenKeyEx failed");
    return false;
  }
  const LONG result = QueryRegString(key.get(), valueName, buffer, capacity);
  key.reset();
  if (result != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelProgress, kGetRegValueTag, L"RegQueryValueEx failed");
    return false;
  }
  TraceLog(tracelog::kLevelProgress, kGetRegValueTag, L"success");
  return true;
}

void GetAppPathsKey(wchar_t (&keyPath)[kPathCapacity]) {
  keyPath[0] = L'\0';
  // The library's answer counts only when it is a terminated, non-empty text.
  if (!GetRegistryKeyByVersion(kAppPathsKey, keyPath, kPathCapacity) || keyPath[kPathCapacity - 1] != L'\0' ||
      keyPath[0] == L'\0') {
    ::StringCchCopyW(keyPath, kPathCapacity, kAppPathsKey);
  }
}

void FindInstallFolder(wchar_t (&installFolder)[kPathCapacity], const wchar_t* tag) {
  wchar_t keyPath[kPathCapacity];
  GetAppPathsKey(keyPath);
  if (!GetRegValue(keyPath, kPathValue, installFolder, kPathCapacity)) {
    TraceLog(tracelog::kLevelError, tag, L"GetRegValue failed");
    ::SecureZeroMemory(installFolder, sizeof(installFolder));
  }
  const size_t length = wcslen(installFolder);
  if (length == 0 || installFolder[length - 1] != L'\\') {
    // A folder of 259 characters has no room left; it stays as it is.
    ::StringCchCatW(installFolder, kPathCapacity, L"\\");
  }
}

void BuildWebBuildFolder(const wchar_t* installFolder, wchar_t (&webBuildFolder)[kPathCapacity]) {
  const DWORD length = ::GetLongPathNameW(installFolder, webBuildFolder, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) {
    ::StringCchCopyW(webBuildFolder, kPathCapacity, installFolder);
  }
  const size_t folderLength = wcslen(webBuildFolder);
  if (folderLength == 0 || webBuildFolder[folderLength - 1] != L'\\') {
    ::StringCchCatW(webBuildFolder, kPathCapacity, L"\\");
  }
  ::StringCchCatW(webBuildFolder, kPathCapacity, L"web\\build");
}

bool BuildConfigFilePath(const wchar_t* installFolder, wchar_t (&configPath)[kPathCapacity]) {
  return SUCCEEDED(::StringCchPrintfW(configPath, kPathCapacity, L"%s%s%s", installFolder, kConfigFolder,
                                      kConfigFileName));
}

DWORD ReadConfigString(const wchar_t* configPath, const wchar_t* key, wchar_t (&value)[kPathCapacity]) {
  return ::GetPrivateProfileStringW(kConfigSection, key, L"", value, kPathCapacity, configPath);
}

int ReadInstallMode(const wchar_t* configPath) {
  const UINT mode = ::GetPrivateProfileIntW(kConfigSection, kKeyInstallMode, kInstallModeHidden, configPath);
  return mode == kInstallModeHidden ? kInstallModeHidden : kInstallModeOffered;
}

}  // namespace serverpaths
