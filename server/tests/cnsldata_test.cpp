#include "contracts/cnsldata.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin_fixture.h"

namespace {

using standintest::ServerFolderTest;

const char* const kExports[] = {kGetHesBuildInfoName, kReadFeatureByIdName, kGetGenericDataName,
                                kOpenDatabaseName,    kGetDataByTypeName,   kCloseDatabaseName};

// The six exports of one loaded library.
struct DataLibrary {
  fw::UniqueModule module;
  GetHesBuildInfoFn buildInfo = nullptr;
  ReadFeatureByIdFn feature = nullptr;
  GetGenericDataFn generic = nullptr;
  OpenDatabaseFn open = nullptr;
  GetDataByTypeFn data = nullptr;
  CloseDatabaseFn close = nullptr;
};

class DataLibraryTest : public ServerFolderTest {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(LayOut()); }

  DataLibrary LoadAll() {
    DataLibrary library;
    library.module = Load(L"cnsldata.dll");
    EXPECT_TRUE(library.module);
    HMODULE m = library.module.get();
    library.buildInfo = fw::GetExport<GetHesBuildInfoFn>(m, kGetHesBuildInfoName);
    library.feature = fw::GetExport<ReadFeatureByIdFn>(m, kReadFeatureByIdName);
    library.generic = fw::GetExport<GetGenericDataFn>(m, kGetGenericDataName);
    library.open = fw::GetExport<OpenDatabaseFn>(m, kOpenDatabaseName);
    library.data = fw::GetExport<GetDataByTypeFn>(m, kGetDataByTypeName);
    library.close = fw::GetExport<CloseDatabaseFn>(m, kCloseDatabaseName);
    EXPECT_TRUE(library.buildInfo && library.feature && library.generic && library.open && library.data &&
                library.close);
    return library;
  }

  void WriteData(const std::string& text) {
    ASSERT_TRUE(testsupport::WriteBytes(InServer(serverlayout::kDataFile), text));
  }
};

TEST_F(DataLibraryTest, ServesTheLaidOutDataWritingOnlyWhatItIsAskedFor) {
  DataLibrary library = LoadAll();
  uint32_t error = 0xFFFF;

  BuildInfoRecord record{};
  ASSERT_TRUE(library.buildInfo(&record, &error));
  EXPECT_EQ(0u, error);
  EXPECT_EQ(std::wstring(L"10.5.0.1234 HESSRV01"), record.text);

  uint8_t feature[3] = {0xAA, 0xAA, 0xAA};
  ASSERT_TRUE(library.feature(kServerFeatureId, &feature[1], &error));
  EXPECT_EQ(0xAA, feature[0]);
  EXPECT_EQ(1, feature[1]);
  EXPECT_EQ(0xAA, feature[2]) << "exactly one byte is written";

  std::vector<uint8_t> generic(kGenericDataBytes + 2, 0xAA);
  ASSERT_TRUE(library.generic(kGenericDataKind, generic.data(), kGenericDataBytes, &error));
  EXPECT_EQ(std::wstring(L"Halvane Endpoint Security Server HESSRV01"),
            reinterpret_cast<const wchar_t*>(generic.data()));
  EXPECT_EQ(0xAA, generic[kGenericDataBytes]);

  uint32_t database = 0;
  ASSERT_TRUE(library.open(&database));
  std::vector<uint8_t> block(kServerDataBytes + 1, 0xAA);
  ASSERT_TRUE(library.data(database, 1, 1, 3, kServerDataBytes, block.data()));
  const std::string expected = testsupport::ReadBytes(InServer(serverlayout::kDataBlockFile));
  ASSERT_EQ(kServerDataBytes, expected.size());
  EXPECT_EQ(expected, std::string(block.begin(), block.begin() + kServerDataBytes));
  EXPECT_EQ(0xAA, block[kServerDataBytes]);
  EXPECT_TRUE(library.close(database));

  EXPECT_FALSE(library.close(database)) << "a handle is closed once";
  EXPECT_FALSE(library.data(database, 1, 1, 3, kServerDataBytes, block.data()))
      << "a closed handle serves nothing";
}

TEST_F(DataLibraryTest, TextsAreCutToTheirFieldsAndTerminated) {
  struct Row {
    const char* name;
    size_t length;    // characters in the data file
    size_t expected;  // characters delivered
  };
  const Row buildRows[] = {{"39", 39, 39}, {"259", 259, 259}, {"300", 300, 259}};
  for (const Row& row : buildRows) {
    WriteData("build_info=" + std::string(row.length, 'b') + "\n");
    DataLibrary library = LoadAll();
    BuildInfoRecord record;
    memset(&record, 0xCC, sizeof record);
    uint32_t error = 0;
    ASSERT_TRUE(library.buildInfo(&record, &error)) << row.name;
    EXPECT_EQ(std::wstring(row.expected, L'b'),
              std::wstring(record.text, wcsnlen(record.text, kBuildInfoChars)))
        << row.name;
    EXPECT_EQ(L'\0', record.text[row.expected]) << row.name;
  }
  const Row genericRows[] = {{"1023", 1023, 1023}, {"1500", 1500, 1023}};
  for (const Row& row : genericRows) {
    WriteData("generic.2=" + std::string(row.length, 'g') + "\n");
    DataLibrary library = LoadAll();
    std::vector<wchar_t> buffer(kGenericDataBytes / 2 + 1, L'#');
    uint32_t error = 0;
    ASSERT_TRUE(library.generic(2, buffer.data(), kGenericDataBytes, &error)) << row.name;
    EXPECT_EQ(std::wstring(row.expected, L'g'), std::wstring(buffer.data())) << row.name;
    EXPECT_EQ(L'#', buffer[kGenericDataBytes / 2]) << row.name << ": nothing beyond the buffer";
  }
}

TEST_F(DataLibraryTest, MissingOrMalformedDataFails) {
  struct Row {
    const char* name;
    const char* data;
    uint32_t feature;
    uint32_t blockSize;
  };
  const Row rows[] = {
      {"no keys", "# nothing\n", 17, kServerDataBytes},
      {"feature out of range", "feature.17=256\n", 17, kServerDataBytes},
      {"feature not a number", "feature.17=on\n", 17, kServerDataBytes},
      {"other feature only", "feature.18=1\n", 17, kServerDataBytes},
      {"block larger than its file", "", 17, kServerDataBytes + 1},
  };
  for (const Row& row : rows) {
    WriteData(row.data);
    DataLibrary library = LoadAll();
    uint32_t error = 0;
    uint8_t value = 0x77;
    EXPECT_FALSE(library.feature(row.feature, &value, &error)) << row.name;
    EXPECT_NE(0u, error) << row.name;
    EXPECT_EQ(0x77, value) << row.name;
    BuildInfoRecord record{};
    EXPECT_FALSE(library.buildInfo(&record, &error)) << row.name;
    uint32_t database = 0;
    ASSERT_TRUE(library.open(&database));
    std::vector<uint8_t> block(kServerDataBytes + 1);
    EXPECT_EQ(row.blockSize == kServerDataBytes, library.data(database, 1, 1, 3, row.blockSize, block.data()))
        << row.name;
    EXPECT_FALSE(library.data(database, 1, 1, 4, kServerDataBytes, block.data()))
        << row.name << ": other selectors";
    library.close(database);
  }
}

TEST_F(DataLibraryTest, SwitchFileFailsExactlyTheNamedCall) {
  for (const char* failing : kExports) {
    ASSERT_TRUE(
        testsupport::WriteBytes(InServer(serverlayout::kDataSwitchFile), std::string(failing) + "\r\n"));
    DataLibrary library = LoadAll();
    uint32_t error = 0;
    BuildInfoRecord record{};
    EXPECT_EQ(failing != kGetHesBuildInfoName, library.buildInfo(&record, &error)) << failing;
    uint8_t value = 0;
    EXPECT_EQ(failing != kReadFeatureByIdName, library.feature(17, &value, &error)) << failing;
    std::vector<uint8_t> generic(kGenericDataBytes);
    EXPECT_EQ(failing != kGetGenericDataName, library.generic(2, generic.data(), kGenericDataBytes, &error))
        << failing;
    uint32_t database = 0;
    const bool opened = library.open(&database);
    EXPECT_EQ(failing != kOpenDatabaseName, opened) << failing;
    if (opened) {
      std::vector<uint8_t> block(kServerDataBytes);
      EXPECT_EQ(failing != kGetDataByTypeName,
                library.data(database, 1, 1, 3, kServerDataBytes, block.data()))
          << failing;
      EXPECT_EQ(failing != kCloseDatabaseName, library.close(database)) << failing;
    }
  }
}

TEST_F(DataLibraryTest, LayoutWritesTheSwitchFile) {
  serverlayout::Options options;
  options.failingDataCalls = {kGetDataByTypeName, kOpenDatabaseName};
  ASSERT_NO_FATAL_FAILURE(LayOut(options));
  DataLibrary library = LoadAll();
  uint32_t database = 0;
  EXPECT_FALSE(library.open(&database));
  uint32_t error = 0;
  BuildInfoRecord record{};
  EXPECT_TRUE(library.buildInfo(&record, &error));
}

TEST_F(DataLibraryTest, JournalShowsTheDatabaseClosedAndTheLibraryFreed) {
  NewJournalLines(serverlayout::kDataJournalFile);
  {
    DataLibrary library = LoadAll();
    uint32_t database = 0;
    ASSERT_TRUE(library.open(&database));
    std::vector<uint8_t> block(kServerDataBytes);
    library.data(database, 1, 1, 3, kServerDataBytes, block.data());
    library.close(database);
  }
  const std::vector<std::string> lines = NewJournalLines(serverlayout::kDataJournalFile);
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("load", lines[0]);
  EXPECT_EQ(0u, lines[1].rfind("OpenDatabase ok ", 0)) << lines[1];
  const std::string handle = lines[1].substr(16);
  EXPECT_EQ("GetDataByType ok " + handle + " 1 1 3 5206", lines[2]);
  EXPECT_EQ("CloseDatabase ok " + handle, lines[3]);
  EXPECT_EQ("unload", lines[4]);
}

TEST_F(DataLibraryTest, EachVariantLacksExactlyItsExport) {
  std::wstring built;
  ASSERT_TRUE(standin::ModuleFolder(nullptr, &built));
  for (const char* omitted : kExports) {
    serverlayout::Options options;
    options.cnsldataLibrary = L"cnsldata_no_" + standin::FromUtf8(omitted) + L".dll";
    ASSERT_NO_FATAL_FAILURE(LayOut(options));
    fw::UniqueModule library = Load(L"cnsldata.dll");
    ASSERT_TRUE(library) << omitted;
    for (const char* name : kExports) {
      EXPECT_EQ(name == omitted, ::GetProcAddress(library.get(), name) == nullptr) << omitted << ": " << name;
    }
  }
}

}  // namespace
