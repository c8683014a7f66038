#include "build/installer_hash.h"

#include <windows.h>
// After windows.h: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <vector>

#include "handles/handles.h"

namespace {

struct AlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};

constexpr ULONG kDigestBytes = 32;

}  // namespace

bool HashFileSha256(const wchar_t* path, std::wstring& hex) {
  hex.clear();
  fw::UniqueKernelHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    return false;
  }
  BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  fw::UniqueHandle<AlgorithmTraits> algorithm(rawAlgorithm);
  BCRYPT_HASH_HANDLE rawHash = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0))) {
    return false;
  }
  fw::UniqueHandle<HashTraits> hash(rawHash);
  std::vector<UCHAR> buffer(1 << 16);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      return false;
    }
    if (got == 0) {
      break;
    }
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), buffer.data(), got, 0))) {
      return false;
    }
  }
  UCHAR digest[kDigestBytes];
  if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest, kDigestBytes, 0))) {
    return false;
  }
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  for (UCHAR byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return true;
}
