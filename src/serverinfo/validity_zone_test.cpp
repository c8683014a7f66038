// Run by ctest under a given TZ for the whole process, with the zone's fixed offset from UTC in
// EXPECT_UTC_OFFSET_MINUTES (see CMakeLists.txt): the expiry must follow the system's zone.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "serverinfo/rpinfo_create.h"

namespace {

int64_t ExpectedExpiry(int64_t now, int days, int64_t offsetSeconds) {
  const int64_t local = now + days * 86400 + offsetSeconds;
  return local - local % 86400 + 86399;
}

TEST(ValidityZoneTest, ExpiryIsTheEndOfTheLocalDay) {
  const char* offset = std::getenv("EXPECT_UTC_OFFSET_MINUTES");
  ASSERT_NE(nullptr, offset) << "run this test through ctest";
  const int64_t offsetSeconds = std::atoll(offset) * 60;
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  int64_t expiry = 0;
  ASSERT_TRUE(GetValidityExpiryTime(90, &expiry));
  const int64_t after = static_cast<int64_t>(std::time(nullptr));
  EXPECT_TRUE(expiry == ExpectedExpiry(before, 90, offsetSeconds) ||
              expiry == ExpectedExpiry(after, 90, offsetSeconds))
      << expiry << " is not the end of the local day 90 days ahead";
}

}  // namespace
