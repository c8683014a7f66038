#include "serverinfo/crc32.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

uint32_t Checksum(const Crc32& crc, const void* data, size_t length) {
  uint32_t running = kCrc32Start;
  EXPECT_TRUE(crc.Update(data, length, &running));
  return ~running;
}

TEST(Crc32Test, MatchesTheStandardCheckValues) {
  const Crc32 crc;
  EXPECT_EQ(0xCBF43926u, Checksum(crc, "123456789", 9));
  const std::vector<uint8_t> zeros(7355, 0);
  EXPECT_EQ(0x66810EA4u, Checksum(crc, zeros.data(), zeros.size()));
  EXPECT_EQ(0u, Checksum(crc, "", 0));
}

TEST(Crc32Test, FoldsInPiecesAndRefusesMissingArguments) {
  const Crc32 crc;
  uint32_t running = kCrc32Start;
  ASSERT_TRUE(crc.Update("1234", 4, &running));
  ASSERT_TRUE(crc.Update("56789", 5, &running));
  EXPECT_EQ(0xCBF43926u, ~running);
  EXPECT_FALSE(crc.Update(nullptr, 3, &running));
  EXPECT_EQ(0xCBF43926u, ~running);
  EXPECT_FALSE(crc.Update("abc", 3, nullptr));
}

}  // namespace
