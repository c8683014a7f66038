#include "signing/hasher.h"

#include <algorithm>

namespace signing {

Hasher::Hasher(const wchar_t* algorithm) {
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm_.put(), algorithm, nullptr, 0))) {
    return;
  }
  ULONG got = 0;
  if (!BCRYPT_SUCCESS(::BCryptGetProperty(algorithm_.get(), BCRYPT_HASH_LENGTH,
                                          reinterpret_cast<PUCHAR>(&length_), sizeof length_, &got, 0))) {
    return;
  }
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0))) {
    hash_.reset();
  }
}

bool Hasher::Add(std::span<const uint8_t> data) {
  if (!hash_ || failed_) {
    return false;
  }
  // BCryptHashData takes a ULONG length and a non-const pointer it does not write through.
  while (!data.empty()) {
    const ULONG part = static_cast<ULONG>(std::min<size_t>(data.size(), 1u << 30));
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash_.get(), const_cast<PUCHAR>(data.data()), part, 0))) {
      failed_ = true;
      return false;
    }
    data = data.subspan(part);
  }
  return true;
}

std::vector<uint8_t> Hasher::Finish() {
  std::vector<uint8_t> digest(length_);
  if (!hash_ || failed_ || !BCRYPT_SUCCESS(::BCryptFinishHash(hash_.get(), digest.data(), length_, 0))) {
    digest.clear();
  }
  hash_.reset();
  failed_ = true;
  return digest;
}

std::vector<uint8_t> Sha256(std::span<const uint8_t> data) {
  Hasher hasher(BCRYPT_SHA256_ALGORITHM);
  hasher.Add(data);
  return hasher.Finish();
}

}  // namespace signing
