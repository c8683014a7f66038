#include "build/installer_hash.h"

#include <windows.h>

#include <vector>

#include "handles/handles.h"
#include "signing/hasher.h"

bool HashFileSha256(const wchar_t* path, std::wstring& hex) {
  hex.clear();
  fw::UniqueKernelHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    return false;
  }
  signing::Hasher hasher(BCRYPT_SHA256_ALGORITHM);
  std::vector<uint8_t> buffer(1 << 16);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      return false;
    }
    if (got == 0) {
      break;
    }
    if (!hasher.Add({buffer.data(), got})) {
      return false;
    }
  }
  const std::vector<uint8_t> digest = hasher.Finish();
  if (digest.empty()) {
    return false;
  }
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return true;
}
