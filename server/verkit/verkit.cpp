// Stand-in version library. The product version is read from "verkit.ini" beside the library
// (section [Version], key Product). Without a version every call returns 0, which tells callers
// to use their base names unchanged; with one, the version is appended to the base name. With
// a file "success.ff" beside it, calls return 0xFF for success instead of 1.

#define VERKIT_BUILDING
#include "contracts/verkit.h"

#include <strsafe.h>

#include <string>

#include "common/standin_files.h"

namespace {

HMODULE g_self = nullptr;

bool ReadProductVersion(wchar_t* version, DWORD capacity) {
  const std::wstring iniPath = standin::BesideModule(g_self, L"verkit.ini");
  return !iniPath.empty() &&
         ::GetPrivateProfileStringW(L"Version", L"Product", L"", version, capacity, iniPath.c_str()) > 0;
}

uint8_t Derive(const wchar_t* base, wchar_t* out, DWORD capacity) {
  if (base == nullptr || out == nullptr || capacity == 0) {
    return 0;
  }
  wchar_t version[64];
  if (!ReadProductVersion(version, 64)) {
    return 0;
  }
  const std::wstring name = standin::VersionedName(base, version);
  return !name.empty() && SUCCEEDED(::StringCchCopyW(out, capacity, name.c_str()))
             ? standin::SuccessByte(g_self)
             : 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = instance;
  }
  return TRUE;
}

uint8_t WINAPI GetMutexNameByVersion(const wchar_t* baseName, wchar_t* name, DWORD capacity) {
  try {
    return Derive(baseName, name, capacity);
  } catch (...) {
    return 0;
  }
}

uint8_t WINAPI GetRegistryKeyByVersion(const wchar_t* baseKeyPath, wchar_t* keyPath, DWORD capacity) {
  try {
    return Derive(baseKeyPath, keyPath, capacity);
  } catch (...) {
    return 0;
  }
}
