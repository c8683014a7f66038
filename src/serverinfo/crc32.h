#pragma once
// The reflected CRC-32 of IEEE 802.3 (polynomial 0xEDB88320). The running value lives with the
// caller: start it at kCrc32Start, fold data in with Update, and complement the result.

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kCrc32Start = 0xFFFFFFFFu;

class Crc32 {
 public:
  Crc32();

  // Folds length bytes into *running. False only when data or running is missing.
  bool Update(const void* data, size_t length, uint32_t* running) const;

 private:
  uint32_t table_[256];
};
