#include "installation/server_paths.h"

#include <strsafe.h>

#include <cwchar>
#include <cwctype>
#include <iterator>

#include "contracts/verkit.h"
#include "handles/handles.h"
#include "log/trace_log.h"

namespace installation {

namespace {
constexpr wchar_t kGetRegValueTag[] = L"GetRegValue";
constexpr wchar_t kCutTag[] = L"ServerPaths";

// Traces a value that does not fit its buffer; the caller then uses none of it.
void TraceCut(const wchar_t* what, const wchar_t* name, size_t capacity) {
  TraceLog(tracelog::kLevelError, kCutTag, L"%s %s cut: does not fit %u characters, not used", what,
           name != nullptr ? name : L"", static_cast<unsigned>(capacity));
}
}  // namespace

LONG QueryRegString(HKEY key, const wchar_t* valueName, wchar_t* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0 || capacity > MAXDWORD / sizeof(wchar_t)) {
    return ERROR_INVALID_PARAMETER;
  }
  buffer[0] = L'\0';
  DWORD bytes = static_cast<DWORD>(capacity * sizeof(wchar_t));
  const LONG result =
      ::RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
  if (result == ERROR_MORE_DATA) {
    buffer[0] = L'\0';
    TraceCut(L"Registry value", valueName, capacity);
    return result;
  }
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
    TraceCut(L"Registry value", valueName, capacity);
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
  if (GetRegistryKeyByVersion(kAppPathsKey, keyPath, kPathCapacity) == 0 || keyPath[0] == L'\0') {
    ::StringCchCopyW(keyPath, kPathCapacity, kAppPathsKey);
    return;
  }
  if (wmemchr(keyPath, L'\0', kPathCapacity) == nullptr) {
    TraceCut(L"Versioned key path of", kAppPathsKey, kPathCapacity);
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
  if (length > 0 && installFolder[length - 1] == L'\\') {
    return;
  }
  if (FAILED(::StringCchCatW(installFolder, kPathCapacity, L"\\"))) {
    // Without its backslash the folder would run into every name appended to it: it counts as
    // not found.
    TraceCut(L"Install folder", installFolder, kPathCapacity);
    ::StringCchCopyW(installFolder, kPathCapacity, L"\\");
  }
}

bool IsInstallFolderFound(const wchar_t* installFolder) {
  if (installFolder == nullptr) {
    return false;
  }
  const bool drive = std::iswalpha(installFolder[0]) && installFolder[1] == L':' && installFolder[2] == L'\\';
  bool unc = false;
  if (installFolder[0] == L'\\' && installFolder[1] == L'\\') {
    // \\server\share\: a server name and a share name, each not empty.
    const wchar_t* server = installFolder + 2;
    const wchar_t* share = wcschr(server, L'\\');
    const wchar_t* end = share != nullptr ? wcschr(share + 1, L'\\') : nullptr;
    unc = share != nullptr && share > server && end != nullptr && end > share + 1;
  }
  if (!drive && !unc) {
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(installFolder);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool BuildWebBuildFolder(const wchar_t* installFolder, wchar_t (&webBuildFolder)[kPathCapacity]) {
  const DWORD length = ::GetLongPathNameW(installFolder, webBuildFolder, kPathCapacity);
  if ((length == 0 || length >= kPathCapacity) &&
      FAILED(::StringCchCopyW(webBuildFolder, kPathCapacity, installFolder))) {
    TraceCut(L"Web build folder of", installFolder, kPathCapacity);
    webBuildFolder[0] = L'\0';
    return false;
  }
  const size_t folderLength = wcslen(webBuildFolder);
  if (((folderLength == 0 || webBuildFolder[folderLength - 1] != L'\\') &&
       FAILED(::StringCchCatW(webBuildFolder, kPathCapacity, L"\\"))) ||
      FAILED(::StringCchCatW(webBuildFolder, kPathCapacity, L"web\\build"))) {
    TraceCut(L"Web build folder of", installFolder, kPathCapacity);
    webBuildFolder[0] = L'\0';
    return false;
  }
  return true;
}

bool BuildConfigFilePath(const wchar_t* installFolder, wchar_t (&configPath)[kPathCapacity]) {
  if (FAILED(::StringCchPrintfW(configPath, kPathCapacity, L"%s%s%s", installFolder, kConfigFolder,
                                kConfigFileName))) {
    TraceCut(L"Configuration file of", installFolder, kPathCapacity);
    configPath[0] = L'\0';
    return false;
  }
  return true;
}

DWORD ReadConfigString(const wchar_t* configPath, const wchar_t* key, wchar_t (&value)[kPathCapacity]) {
  value[0] = L'\0';
  if (configPath == nullptr || configPath[0] == L'\0') {
    return 0;
  }
  // One character more than the value may hold tells a value that fills the buffer exactly
  // from one that the profile function cut.
  wchar_t read[kPathCapacity + 1];
  const DWORD length = ::GetPrivateProfileStringW(kConfigSection, key, L"", read,
                                                  static_cast<DWORD>(std::size(read)), configPath);
  if (length >= kPathCapacity) {
    TraceCut(L"Configuration value", key, kPathCapacity);
    return 0;
  }
  wmemcpy(value, read, length + 1);
  return length;
}

int ReadInstallMode(const wchar_t* configPath) {
  if (configPath == nullptr || configPath[0] == L'\0') {
    return kInstallModeHidden;
  }
  const UINT mode = ::GetPrivateProfileIntW(kConfigSection, kKeyInstallMode, kInstallModeHidden, configPath);
  return mode == kInstallModeHidden ? kInstallModeHidden : kInstallModeOffered;
}

}  // namespace installation
