#include "serverinfo/server_data_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "contracts/cnsldata.h"
#include "tests/standin_fixture.h"

namespace {

using Journal = std::vector<std::string>;

// The full journal of one successful query against a freshly loaded library.
const Journal kFullJournal = {"load",
                              "GetHesBuildInfo ok",
                              "ReadTMHESFeatureByID ok 17",
                              "GetGenericData ok 2",
                              "OpenDatabase ok 1",
                              "GetDataByType ok 1 1 1 3 5206",
                              "CloseDatabase ok 1",
                              "unload"};

// The lines of kFullJournal at the indexes, followed by more.
Journal Lines(std::initializer_list<size_t> indexes, const Journal& more = {}) {
  Journal lines;
  for (size_t i : indexes) {
    lines.push_back(kFullJournal[i]);
  }
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

std::string ComputerNameAnsi() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  EXPECT_TRUE(GetComputerNameA(name, &length));
  return name;
}

class ServerDataQueryTest : public standintest::ServerFolderTest {
 protected:
  // Runs the query on the laid-out server and returns the journal lines it caused.
  Journal Query(bool expected, bool trailingBackslash = true) {
    NewJournalLines(serverlayout::kDataJournalFile);
    const std::wstring folder = server_ + (trailingBackslash ? L"\\" : L"");
    std::memset(&record_, 0xCC, sizeof record_);
    error_ = 9;
    EXPECT_EQ(expected, GetRPDatFileInfoFromDB(folder.c_str(), &record_, &error_));
    EXPECT_EQ(0u, error_);
    return NewJournalLines(serverlayout::kDataJournalFile);
  }

  void WriteData(const std::wstring& buildInfo, const std::wstring& generic) {
    const std::string text = "build_info=" + standin::ToUtf8(buildInfo) +
                             "\r\nfeature.17=201\r\ngeneric.2=" + standin::ToUtf8(generic) + "\r\n";
    ASSERT_TRUE(testsupport::WriteBytes(InServer(serverlayout::kDataFile), text));
  }

  std::wstring GenericText() const {
    return std::wstring(reinterpret_cast<const wchar_t*>(record_.genericText),
                        wcsnlen(reinterpret_cast<const wchar_t*>(record_.genericText), 1024));
  }

  ServerInfoRecord record_;
  uint32_t error_ = 0;
};

TEST_F(ServerDataQueryTest, FillsTheRecordWithOrWithoutTrailingBackslash) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const std::string block = testsupport::ReadBytes(InServer(serverlayout::kDataBlockFile));
  for (bool backslash : {true, false}) {
    SCOPED_TRACE(backslash ? "with backslash" : "without backslash");
    EXPECT_EQ(kFullJournal, Query(true, backslash));
    EXPECT_EQ(1, record_.featureFlag);
    EXPECT_EQ(ComputerNameAnsi(), std::string(record_.serverText));
    EXPECT_EQ(std::string(50 - ComputerNameAnsi().size(), '\0'),
              std::string(record_.serverText + ComputerNameAnsi().size(), record_.serverText + 50));
    EXPECT_EQ("10.5.0.1234 HESSRV01", std::string(record_.buildInfo));
    EXPECT_TRUE(block == std::string(record_.serverData, record_.serverData + sizeof record_.serverData));
    EXPECT_EQ(0, record_.minimalPackage);
    EXPECT_EQ(0, record_.validityEnabled);
    EXPECT_EQ(0, int64_t{record_.expiryTime});
    EXPECT_EQ(L"Halvane Endpoint Security Server HESSRV01", GenericText());
    const size_t used = (GenericText().size()) * 2;
    EXPECT_EQ(std::string(2048 - used, '\0'),
              std::string(record_.genericText + used, record_.genericText + 2048));
  }
}

TEST_F(ServerDataQueryTest, ALibraryThatAnswers0xFFSucceeds) {
  serverlayout::Options options;
  options.successFF = true;
  ASSERT_NO_FATAL_FAILURE(LayOut(options));
  EXPECT_EQ(kFullJournal, Query(true));
  EXPECT_EQ(1, record_.featureFlag);
}

TEST_F(ServerDataQueryTest, EachFailingCallFailsTheQueryAndReleasesEverything) {
  const struct {
    const char* call;
    bool result;
    Journal journal;
  } rows[] = {
      {kGetHesBuildInfoName, false, {"load", "GetHesBuildInfo fail 3", "unload"}},
      {kReadFeatureByIdName,
       false,
       {"load", "GetHesBuildInfo ok", "ReadTMHESFeatureByID fail 3 17", "unload"}},
      {kGetGenericDataName, false, Lines({0, 1, 2}, {"GetGenericData fail 3 2", "unload"})},
      {kOpenDatabaseName, false, Lines({0, 1, 2, 3}, {"OpenDatabase fail 3", "unload"})},
      {kGetDataByTypeName, false,
       Lines({0, 1, 2, 3, 4}, {"GetDataByType fail 3 1 1 1 3 5206", "CloseDatabase ok 1", "unload"})},
      // The close's own result is not looked at.
      {kCloseDatabaseName, true, Lines({0, 1, 2, 3, 4, 5}, {"CloseDatabase fail 3 1", "unload"})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.call);
    serverlayout::Options options;
    options.failingDataCalls = {row.call};
    ASSERT_NO_FATAL_FAILURE(LayOut(options));
    EXPECT_EQ(row.journal, Query(row.result));
  }
}

TEST_F(ServerDataQueryTest, EachMissingExportFailsTheQueryAndFreesTheLibrary) {
  const struct {
    const char* exportName;
    Journal journal;
  } rows[] = {
      {kGetHesBuildInfoName, {"load", "unload"}},   {kReadFeatureByIdName, {"load", "unload"}},
      {kGetGenericDataName, {"load", "unload"}},    {kOpenDatabaseName, Lines({0, 1, 2, 3, 7})},
      {kGetDataByTypeName, Lines({0, 1, 2, 3, 7})}, {kCloseDatabaseName, Lines({0, 1, 2, 3, 7})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.exportName);
    serverlayout::Options options;
    options.cnsldataLibrary = L"cnsldata_no_" + standin::FromUtf8(row.exportName) + L".dll";
    ASSERT_NO_FATAL_FAILURE(LayOut(options));
    EXPECT_EQ(row.journal, Query(false));
  }
}

TEST_F(ServerDataQueryTest, TextsAreBoundedToTheirFields) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const std::wstring build39(39, L'9');
  WriteData(build39, std::wstring(1500, L'g'));
  Query(true);
  EXPECT_EQ(std::string(39, '9') + '\0', std::string(record_.buildInfo, 40));
  EXPECT_EQ(201, record_.featureFlag);
  EXPECT_EQ(std::wstring(1023, L'g'), GenericText());
  EXPECT_EQ(0, record_.genericText[2046] | record_.genericText[2047]);

  // One character more does not fit with its terminator: the field stays zero, the query goes on.
  WriteData(build39 + L"0", L"short");
  Query(true);
  EXPECT_EQ(std::string(40, '\0'), std::string(record_.buildInfo, 40));
  EXPECT_EQ(L"short", GenericText());
}

TEST_F(ServerDataQueryTest, RefusesFoldersThatCannotNameTheLibrary) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  NewJournalLines(serverlayout::kDataJournalFile);
  const std::wstring tooLong = server_ + L"\\" + std::wstring(MAX_PATH, L'x');
  for (const wchar_t* folder : {L"", tooLong.c_str(), dir_.path().c_str()}) {
    error_ = 4;
    EXPECT_FALSE(GetRPDatFileInfoFromDB(folder, &record_, &error_));
    EXPECT_EQ(0u, error_);
  }
  EXPECT_FALSE(GetRPDatFileInfoFromDB(nullptr, &record_, &error_));
  EXPECT_TRUE(NewJournalLines(serverlayout::kDataJournalFile).empty());
}

TEST_F(ServerDataQueryTest, UnterminatedTextsAreCutToTheirFields) {
  std::wstring built;
  ASSERT_TRUE(standin::ModuleFolder(nullptr, &built));
  const std::wstring folder = dir_ / L"Unterminated";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(
      CopyFileW((built + L"unterminated_data.dll").c_str(), (folder + L"\\cnsldata.dll").c_str(), TRUE));

  // The record sits in a larger buffer whose tail must stay untouched.
  struct {
    ServerInfoRecord record;
    uint8_t guard[4096];
  } buffer;
  std::memset(&buffer, 0xCC, sizeof buffer);
  uint32_t error = 1;
  ASSERT_TRUE(GetRPDatFileInfoFromDB(folder.c_str(), &buffer.record, &error));
  EXPECT_EQ(7, buffer.record.featureFlag);
  EXPECT_EQ(std::string(40, '\0'), std::string(buffer.record.buildInfo, 40));
  const auto* generic = reinterpret_cast<const wchar_t*>(buffer.record.genericText);
  EXPECT_EQ(std::wstring(1023, L'G') + L'\0', std::wstring(generic, 1024));
  EXPECT_EQ(std::string(sizeof buffer.guard, '\xCC'),
            std::string(buffer.guard, buffer.guard + sizeof buffer.guard));
}

}  // namespace
