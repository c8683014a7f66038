#include "serverinfo/rpinfo_create.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "log/trace_log.h"
#include "serverinfo/rpinfo_file.h"
#include "support/temp_dir.h"
#include "tests/standin_fixture.h"

namespace {

using testsupport::FileExists;

// A time zone with bias in minutes (UTC = local + bias) and, optionally, yearly daylight-saving
// rules given as (month, week of month, hour), Sundays, one hour ahead.
TIME_ZONE_INFORMATION Zone(LONG bias, WORD dstMonth = 0, WORD dstWeek = 0, WORD dstHour = 0,
                           WORD stdMonth = 0, WORD stdWeek = 0, WORD stdHour = 0) {
  TIME_ZONE_INFORMATION zone = {};
  zone.Bias = bias;
  if (dstMonth != 0) {
    zone.DaylightDate = {0, dstMonth, 0, dstWeek, dstHour, 0, 0, 0};
    zone.StandardDate = {0, stdMonth, 0, stdWeek, stdHour, 0, 0, 0};
    zone.DaylightBias = -60;
  }
  return zone;
}

TEST(ValidityExpiryTest, LocalDateAtEndOfDayTakenAsUtc) {
  const TIME_ZONE_INFORMATION eastern = Zone(300, 3, 2, 2, 11, 1, 2);  // daylight time March to November
  const TIME_ZONE_INFORMATION sydney = Zone(-600, 10, 1, 2, 4, 1, 3);  // daylight time October to April
  const struct {
    const char* name;
    TIME_ZONE_INFORMATION zone;
    int days;
    int64_t now;
    int64_t expected;
  } rows[] = {
      // 10:00 local time on 7 December 2026, 30 days: 6 January 2027 23:59:59 in every zone.
      {"utc", Zone(0), 30, 1796637600, 1799279999},
      {"utc+14", Zone(-840), 30, 1796587200, 1799279999},
      {"utc-12", Zone(720), 30, 1796680800, 1799279999},
      {"utc+5:30", Zone(-330), 30, 1796617800, 1799279999},
      {"sydney in daylight time", sydney, 30, 1796598000, 1799279999},
      {"eastern in standard time", eastern, 30, 1796655600, 1799279999},
      // 23:30 on 20 February 2027 (UTC-5) ends 30 days later on 23 March, in daylight time.
      {"eastern into daylight time", eastern, 30, 1803184200, 1805846399},
      // 00:30 on 21 March 2027 (UTC+11) ends 30 days later on 19 April, in standard time.
      {"sydney out of daylight time", sydney, 30, 1805549400, 1808179199},
      {"180 days", Zone(0), 180, 1796637600, 1799279999 + 150 * 86400},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    int64_t expiry = 0;
    ASSERT_TRUE(ComputeValidityExpiryTime(row.days, row.now, &row.zone, &expiry));
    EXPECT_EQ(row.expected, expiry);
  }
}

class CreateRPInfoTest : public standintest::ServerFolderTest {
 protected:
  void SetUp() override {
    saved_ = tracelog::GetSettings();
    logPath_ = dir_ / L"trace.log";
    tracelog::GetSettings().filePath = logPath_.c_str();
    path_ = dir_ / kServerInfoFileName;
  }
  void TearDown() override { tracelog::GetSettings() = saved_; }
  std::wstring Log() const { return testsupport::ReadUtf16(logPath_); }

  std::wstring logPath_;
  std::wstring path_;
  tracelog::Settings saved_;
};

TEST_F(CreateRPInfoTest, WritesTheServerDataAndThePackageChoice) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const struct {
    const char* name;
    int package;
    bool validityChecked;
    int validityIndex;
    uint8_t minimal, validity;
    int64_t days;  // the expiry lies this many days ahead; 0: no expiry
  } rows[] = {
      {"custom ignores a chosen period", kPackageCustom, true, 2, 0, 0, 0},
      {"minimal without period", kPackageMinimal, false, 1, 1, 0, 0},
      {"minimal with 30 days", kPackageMinimal, true, 0, 1, 1, 30},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    BuildOptions options;
    options.installFolder = server_ + L"\\";
    options.packageIndex = row.package;
    options.validityChecked = row.validityChecked;
    options.validityIndex = row.validityIndex;
    uint32_t error = 3;
    const int64_t now = static_cast<int64_t>(time(nullptr));
    ASSERT_TRUE(CreateRPInfoDatFileForClientPackager(options, path_.c_str(), &error));
    EXPECT_EQ(0u, error);

    ServerInfoRecord record;
    ASSERT_TRUE(ReadRPInfoDatFile(&record, path_.c_str(), &error));
    EXPECT_EQ(1, record.featureFlag);
    EXPECT_EQ("10.5.0.1234 HESSRV01", std::string(record.buildInfo));
    EXPECT_EQ(row.minimal, record.minimalPackage);
    EXPECT_EQ(row.validity, record.validityEnabled);
    const int64_t expiry = record.expiryTime;
    if (row.days == 0) {
      EXPECT_EQ(0, expiry);
    } else {
      EXPECT_EQ(86399, expiry % 86400);
      EXPECT_GT(expiry, now + (row.days - 1) * 86400);
      EXPECT_LT(expiry, now + (row.days + 2) * 86400);
    }
  }
  EXPECT_NE(std::wstring::npos, Log().find(L"CreateRPInfoDatFileForClientPackager Exit\r\n"));
}

TEST_F(CreateRPInfoTest, FailuresAreTracedAndLeaveNoFile) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const struct {
    const char* name;
    std::wstring folder;
    int validityIndex;
    std::wstring path;
    const wchar_t* trace;
  } rows[] = {
      {"no data library", dir_.path(), 0, path_, L"GetRPDatFileInfofromDB failed. Error = 0\r\n"},
      {"unknown validity period", server_, 4, path_, L"GetValidityExpiryTime failed (period 4)\r\n"},
      {"unwritable path", server_, 0, dir_ / L"missing\\rpinfo.dat",
       L"CreateDefaultRPInfoDatFile failed. Error = 0\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    BuildOptions options;
    options.installFolder = row.folder;
    options.packageIndex = kPackageMinimal;
    options.validityChecked = true;
    options.validityIndex = row.validityIndex;
    uint32_t error = 3;
    EXPECT_FALSE(CreateRPInfoDatFileForClientPackager(options, row.path.c_str(), &error));
    EXPECT_EQ(0u, error);
    EXPECT_FALSE(FileExists(row.path));
    EXPECT_NE(std::wstring::npos, Log().find(row.trace));
  }
}

}  // namespace
