#pragma once
// Keeps the "Path" value of a key under HKLM of the test prefix: the key is removed when the
// object is made and again when it goes, and a value that was there before is put back then.

#include <windows.h>

#include <string>

namespace testsupport {

class RegistryPathBackup {
 public:
  explicit RegistryPathBackup(std::wstring keyPath) : keyPath_(std::move(keyPath)) {
    wchar_t saved[MAX_PATH];
    DWORD bytes = sizeof(saved);
    hadPath_ = ::RegGetValueW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), L"Path", RRF_RT_REG_SZ, nullptr, saved,
                              &bytes) == ERROR_SUCCESS;
    if (hadPath_) {
      savedPath_ = saved;
    }
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
  }
  RegistryPathBackup(const RegistryPathBackup&) = delete;
  RegistryPathBackup& operator=(const RegistryPathBackup&) = delete;
  ~RegistryPathBackup() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
    if (hadPath_) {
      SetRaw(L"Path", savedPath_, true);
    }
  }

  // Writes `data` as a REG_SZ value, with or without its terminator.
  bool SetRaw(const wchar_t* name, const std::wstring& data, bool withTerminator) const {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const DWORD bytes = static_cast<DWORD>((data.size() + (withTerminator ? 1 : 0)) * sizeof(wchar_t));
    const bool ok = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                     bytes) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return ok;
  }

 private:
  std::wstring keyPath_;
  bool hadPath_ = false;
  std::wstring savedPath_;
};

}  // namespace testsupport
