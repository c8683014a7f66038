#include "serverinfo/crc32.h"

Crc32::Crc32() {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int round = 0; round < 8; ++round) {
      value = (value & 1) != 0 ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    }
    table_[i] = value;
  }
}

bool Crc32::Update(const void* data, size_t length, uint32_t* running) const {
  if (data == nullptr || running == nullptr) {
    return false;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t crc = *running;
  for (size_t i = 0; i < length; ++i) {
    crc = (crc >> 8) ^ table_[(crc ^ bytes[i]) & 0xFF];
  }
  *running = crc;
  return true;
}
