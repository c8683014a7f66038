#include "serverinfo/rpinfo_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "handles/handles.h"
#include "serverinfo/crc32.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

uint32_t StoredCrc(const std::string& file) {
  uint32_t value = 0;
  std::memcpy(&value, file.data() + 4, 4);
  return value;
}

uint32_t CrcAfterHeader(const std::string& file) {
  const Crc32 crc;
  uint32_t running = kCrc32Start;
  crc.Update(file.data() + kServerInfoHeaderSize, file.size() - kServerInfoHeaderSize, &running);
  return ~running;
}

// A record whose every byte differs from its neighbours and from its scrambled form.
ServerInfoRecord PatternRecord(uint8_t seed) {
  ServerInfoRecord record;
  auto* bytes = reinterpret_cast<uint8_t*>(&record);
  for (size_t i = 0; i < sizeof record; ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7 + seed);
  }
  return record;
}

const uint8_t* Bytes(const ServerInfoRecord& record) { return reinterpret_cast<const uint8_t*>(&record); }

class RPInfoFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::wstring path_ = dir_ / kServerInfoFileName;
  uint32_t error_ = 77;
};

TEST_F(RPInfoFileTest, ZeroRecordGivesZeroBodyAndTheCrcOfZeros) {
  ServerInfoRecord record;
  std::memset(&record, 0, sizeof record);
  ASSERT_TRUE(CreateDefaultRPInfoDatFile(&record, path_.c_str(), &error_));
  EXPECT_EQ(0u, error_);
  const std::string file = ReadBytes(path_);
  ASSERT_EQ(7363u, file.size());
  EXPECT_EQ(std::string("\0\0\0\0\xA4\x0E\x81\x66", 8), file.substr(0, 8));
  EXPECT_EQ(std::string(7355, '\0'), file.substr(8));
}

TEST_F(RPInfoFileTest, StoresEveryByteNibbleSwappedAndLeavesTheCallersRecord) {
  ServerInfoRecord record = PatternRecord(3);
  record.featureFlag = 0x1F;
  record.genericText[2047] = 0xF1;
  const ServerInfoRecord original = record;
  ASSERT_TRUE(CreateDefaultRPInfoDatFile(&record, path_.c_str(), &error_));
  EXPECT_EQ(0, std::memcmp(&original, &record, sizeof record));

  const std::string file = ReadBytes(path_);
  ASSERT_EQ(7363u, file.size());
  EXPECT_EQ('\xF1', file[8]);
  EXPECT_EQ('\x1F', file[7362]);
  for (size_t i = 0; i < sizeof record; ++i) {
    const uint8_t plain = Bytes(record)[i];
    ASSERT_EQ(static_cast<uint8_t>((plain << 4) | (plain >> 4)), static_cast<uint8_t>(file[8 + i]))
        << "byte " << i;
  }
  EXPECT_EQ(CrcAfterHeader(file), StoredCrc(file));
  EXPECT_TRUE(VerifyRPInfoDatFile(path_.c_str()));
}

TEST_F(RPInfoFileTest, ReadsBackTheRecordAndEachSection) {
  const ServerInfoRecord record = PatternRecord(11);
  ASSERT_TRUE(CreateDefaultRPInfoDatFile(&record, path_.c_str(), &error_));

  ServerInfoRecord read;
  error_ = 5;
  ASSERT_TRUE(ReadRPInfoDatFile(&read, path_.c_str(), &error_));
  EXPECT_EQ(0u, error_);
  EXPECT_EQ(0, std::memcmp(&record, &read, sizeof read));

  const struct {
    RPInfoSection section;
    size_t recordOffset, length;
  } rows[] = {{RPInfoSection::kFeature, 0, 1},
              {RPInfoSection::kServerText, 1, 90},
              {RPInfoSection::kServerData, 91, 5206},
              {RPInfoSection::kPackage, 5297, 2058}};
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.section));
    std::vector<uint8_t> buffer(row.length, 0xEE);
    ASSERT_TRUE(ReadRPInfoSection(row.section, buffer.data(), path_.c_str(), &error_));
    EXPECT_EQ(0, std::memcmp(Bytes(record) + row.recordOffset, buffer.data(), row.length));
  }
}

TEST_F(RPInfoFileTest, SectionWriteReplacesOnlyItsSectionAndRenewsTheCrc) {
  const ServerInfoRecord record = PatternRecord(1);
  ASSERT_TRUE(CreateDefaultRPInfoDatFile(&record, path_.c_str(), &error_));
  std::vector<uint8_t> text(90, 0x5A);
  const std::vector<uint8_t> plain = text;
  ASSERT_TRUE(WriteRPInfoSection(RPInfoSection::kServerText, text.data(), path_.c_str(), &error_));
  EXPECT_EQ(plain, text) << "the caller's buffer was changed";

  ServerInfoRecord expected = record;
  std::memset(reinterpret_cast<uint8_t*>(&expected) + 1, 0x5A, 90);
  ServerInfoRecord read;
  ASSERT_TRUE(ReadRPInfoDatFile(&read, path_.c_str(), &error_));
  EXPECT_EQ(0, std::memcmp(&expected, &read, sizeof read));
  EXPECT_EQ(7363u, ReadBytes(path_).size());
}

TEST_F(RPInfoFileTest, SectionWriteToAMissingFileCreatesItUpToThatSection) {
  std::vector<uint8_t> data(5206, 0x21);
  ASSERT_TRUE(WriteRPInfoSection(RPInfoSection::kServerData, data.data(), path_.c_str(), &error_));
  const std::string file = ReadBytes(path_);
  ASSERT_EQ(99u + 5206u, file.size());
  EXPECT_EQ(std::string(4, '\0'), file.substr(0, 4));
  EXPECT_EQ(std::string(91, '\0'), file.substr(8, 91));
  EXPECT_EQ(std::string(5206, '\x12'), file.substr(99));
  EXPECT_EQ(CrcAfterHeader(file), StoredCrc(file));

  std::vector<uint8_t> read(5206);
  EXPECT_TRUE(ReadRPInfoSection(RPInfoSection::kServerData, read.data(), path_.c_str(), &error_));
  EXPECT_EQ(data, read);
  std::vector<uint8_t> later(2058, 0xEE);
  EXPECT_FALSE(ReadRPInfoSection(RPInfoSection::kPackage, later.data(), path_.c_str(), &error_));
  EXPECT_EQ(std::vector<uint8_t>(2058, 0), later);
  ServerInfoRecord whole;
  EXPECT_FALSE(ReadRPInfoDatFile(&whole, path_.c_str(), &error_));
}

TEST_F(RPInfoFileTest, BadCrcFailsReadsAndWritesAndLeavesTheFile) {
  const ServerInfoRecord record = PatternRecord(9);
  ASSERT_TRUE(CreateDefaultRPInfoDatFile(&record, path_.c_str(), &error_));
  std::string file = ReadBytes(path_);
  file[5000] ^= 0x01;
  ASSERT_TRUE(WriteBytes(path_, file));

  EXPECT_FALSE(VerifyRPInfoDatFile(path_.c_str()));
  uint8_t feature = 0xEE;
  EXPECT_FALSE(ReadRPInfoSection(RPInfoSection::kFeature, &feature, path_.c_str(), &error_));
  EXPECT_EQ(0, feature);
  ServerInfoRecord read;
  EXPECT_FALSE(ReadRPInfoDatFile(&read, path_.c_str(), &error_));
  EXPECT_FALSE(WriteRPInfoSection(RPInfoSection::kFeature, &feature, path_.c_str(), &error_));
  EXPECT_TRUE(file == ReadBytes(path_)) << "the file was changed";
}

TEST_F(RPInfoFileTest, ShortOrMissingFiles) {
  EXPECT_TRUE(VerifyRPInfoDatFile(path_.c_str())) << "no file is a valid starting point";
  uint8_t feature = 0;
  EXPECT_FALSE(ReadRPInfoSection(RPInfoSection::kFeature, &feature, path_.c_str(), &error_));
  EXPECT_FALSE(FileExists(path_));

  ASSERT_TRUE(WriteBytes(path_, std::string(7, '\0')));
  EXPECT_FALSE(VerifyRPInfoDatFile(path_.c_str()));
  EXPECT_FALSE(WriteRPInfoSection(RPInfoSection::kFeature, &feature, path_.c_str(), &error_));
  EXPECT_EQ(7u, ReadBytes(path_).size());
}

TEST_F(RPInfoFileTest, WholeWriteThatCannotOpenTheFileLeavesWhatWasThere) {
  const ServerInfoRecord record = PatternRecord(2);
  const std::string previous = "previous content";

  // A file another process holds without sharing. (A read-only attribute does not stop root
  // under Wine, so it cannot stand in for an unwritable file here.)
  ASSERT_TRUE(WriteBytes(path_, previous));
  {
    fw::UniqueKernelHandle lock(
        CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);
    EXPECT_FALSE(CreateDefaultRPInfoDatFile(&record, path_.c_str(), &error_));
    EXPECT_EQ(0u, error_);
  }
  EXPECT_TRUE(previous == ReadBytes(path_));

  const std::wstring inMissingFolder = dir_ / L"missing\\rpinfo.dat";
  EXPECT_FALSE(CreateDefaultRPInfoDatFile(&record, inMissingFolder.c_str(), &error_));
  EXPECT_FALSE(FileExists(dir_ / L"missing"));
}

}  // namespace
