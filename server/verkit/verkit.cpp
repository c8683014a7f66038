// Stand-in version library. The product version is read from "verkit.ini" beside the library
// (section [Version], key Product). Without a version every call returns false, which tells
// callers to use their base names unchanged; with one, the version is appended to the base name.

#define VERKIT_BUILDING
#include "contracts/verkit.h"

#include <strsafe.h>

namespace {

HMODULE g_self = nullptr;

bool ReadProductVersion(wchar_t* version, DWORD capacity) {
  wchar_t iniPath[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(g_self, iniPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return false;
  }
  wchar_t* slash = wcsrchr(iniPath, L'\\');
  if (slash == nullptr) {
    return false;
  }
  slash[1] = L'\0';
  if (FAILED(::StringCchCatW(iniPath, MAX_PATH, L"verkit.ini"))) {
    return false;
  }
  return ::GetPrivateProfileStringW(L"Version", L"Product", L"", version, capacity, iniPath) > 0;
}

bool Derive(const wchar_t* base, wchar_t* out, DWORD capacity) {
  if (base == nullptr || out == nullptr || capacity == 0) {
    return false;
  }
  wchar_t version[64];
  if (!ReadProductVersion(version, 64)) {
    return false;
  }
  return SUCCEEDED(::StringCchPrintfW(out, capacity, L"%s_%s", base, version));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = instance;
  }
  return TRUE;
}

bool WINAPI GetMutexNameByVersion(const wchar_t* baseName, wchar_t* name, DWORD capacity) {
  return Derive(baseName, name, capacity);
}

bool WINAPI GetRegistryKeyByVersion(const wchar_t* baseKeyPath, wchar_t* keyPath, DWORD capacity) {
  return Derive(baseKeyPath, keyPath, capacity);
}
