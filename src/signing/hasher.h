#pragma once
// A running hash through the platform's hash functions (BCrypt): SHA-256 for what this program
// signs, SHA-1 for a thumbprint or a signature someone else made.

#include <windows.h>
// After windows.h: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <cstdint>
#include <span>
#include <vector>

#include "handles/handles.h"

namespace signing {

struct BcryptAlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return BCRYPT_SUCCESS(::BCryptCloseAlgorithmProvider(h, 0)); }
};
struct BcryptHashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return BCRYPT_SUCCESS(::BCryptDestroyHash(h)); }
};

class Hasher {
 public:
  // `algorithm` is a BCrypt algorithm name (BCRYPT_SHA256_ALGORITHM, BCRYPT_SHA1_ALGORITHM).
  explicit Hasher(const wchar_t* algorithm);
  // False when the provider could not be opened; every later call then fails too.
  bool ok() const { return hash_.valid(); }
  bool Add(std::span<const uint8_t> data);
  // The digest; empty when any step failed. The hasher is spent afterwards.
  std::vector<uint8_t> Finish();

 private:
  fw::UniqueHandle<BcryptAlgorithmTraits> algorithm_;
  fw::UniqueHandle<BcryptHashTraits> hash_;
  ULONG length_ = 0;
  bool failed_ = false;
};

// The SHA-256 of `data` in one call; empty on failure.
std::vector<uint8_t> Sha256(std::span<const uint8_t> data);

}  // namespace signing
