#include "contracts/grpstore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin_fixture.h"

namespace {

using standintest::ServerFolderTest;

class GroupLibraryTest : public ServerFolderTest {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(LayOut()); }

  void WriteGroups(const std::string& bytes) {
    ASSERT_TRUE(testsupport::WriteBytes(InServer(serverlayout::kGroupDataFile), bytes));
  }

  // Loads the library and asks for the groups below `groupId`; the IDs as delivered, or
  // nullopt-like failure through `ok`.
  std::vector<uint16_t> SubGroupIds(int32_t groupId, uint32_t flag, bool* ok, uint32_t* status = nullptr) {
    fw::UniqueModule library = Load(L"grpstore.dll");
    EXPECT_TRUE(library);
    auto subGroups = fw::GetExport<GetSubGroupsForGroupFn>(library.get(), kGetSubGroupsForGroupName);
    auto freeArray = fw::GetExport<FreeGroupArrayFn>(library.get(), kFreeGroupArrayName);
    EXPECT_TRUE(subGroups != nullptr && freeArray != nullptr);
    GroupRecord* records = nullptr;
    uint32_t count = 0;
    uint32_t localStatus = 0xFFFF;
    *ok = subGroups(groupId, flag, &records, &count, &localStatus);
    if (status != nullptr) {
      *status = localStatus;
    }
    std::vector<uint16_t> ids;
    for (uint32_t i = 0; i < count; ++i) {
      ids.push_back(records[i].id);
      lastRecords_.push_back(records[i]);
    }
    freeArray(&records);
    EXPECT_EQ(nullptr, records) << "FreeGroupArray hands back the array";
    return ids;
  }

  std::vector<GroupRecord> lastRecords_;
};

TEST_F(GroupLibraryTest, DefaultGroupDetailsAreTerminatedWithinTheirFields) {
  fw::UniqueModule library = Load(L"grpstore.dll");
  ASSERT_TRUE(library);
  auto details = fw::GetExport<GetGroupDetailsFn>(library.get(), kGetGroupDetailsName);
  ASSERT_NE(nullptr, details);
  GroupRecord record;
  memset(&record, 0xCC, sizeof record);
  uint32_t status = 0xFFFF;
  ASSERT_TRUE(details(kDefaultGroupId, &record, &status));
  EXPECT_EQ(0u, status);
  EXPECT_EQ(1, record.id);
  EXPECT_EQ(0, record.parentId);
  EXPECT_EQ(std::wstring(L"Default"), record.name);
  EXPECT_EQ(std::string(serverlayout::kDefaultGroupGuid), record.guid);
  EXPECT_EQ(0, record.guid[kGroupGuidArea - 1]);

  EXPECT_FALSE(details(99, &record, &status));
  EXPECT_EQ(4u, status) << "not found";
}

TEST_F(GroupLibraryTest, SubGroupsFollowTheRequestedGroupAndLevels) {
  struct Row {
    const char* name;
    int32_t group;
    uint32_t flag;
    bool ok;
    std::vector<uint16_t> ids;
  };
  const Row rows[] = {
      {"whole tree", 0, 1, true, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"top level only", 0, 0, true, {1, 2, 5}},
      {"below Servers", 2, 1, true, {3, 4}},
      {"below Workstations, all levels", 5, 1, true, {6, 7, 8}},
      {"below Workstations, one level", 5, 0, true, {6, 7}},
      {"leaf", 8, 1, true, {}},
      {"unknown group", 99, 1, false, {}},
  };
  for (const Row& row : rows) {
    bool ok = false;
    EXPECT_EQ(row.ids, SubGroupIds(row.group, row.flag, &ok)) << row.name;
    EXPECT_EQ(row.ok, ok) << row.name;
  }
}

TEST_F(GroupLibraryTest, EditedDataFileIsDeliveredInItsOwnOrder) {
  // A sub-group before its parent, a group whose parent is not in the file, and a loop of
  // parents; UTF-16 with byte-order mark this time.
  const std::wstring text =
      L"7\t3\t{G7}\tChild first\r\n"
      L"# comment\r\n"
      L"\r\n"
      L"3\t0\t{G3}\tParent \u00e9\u00e8\r\n"
      L"9\t42\t{G9}\tOrphan\r\n"
      L"10\t11\t{G10}\tLoop a\r\n"
      L"11\t10\t{G11}\tLoop b\r\n";
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  WriteGroups(bytes);
  bool ok = false;
  EXPECT_EQ((std::vector<uint16_t>{7, 3, 9, 10, 11}), SubGroupIds(0, 1, &ok));
  EXPECT_TRUE(ok);
  ASSERT_EQ(5u, lastRecords_.size());
  EXPECT_EQ(3, lastRecords_[0].parentId);
  EXPECT_EQ(std::wstring(L"Parent \u00e9\u00e8"), lastRecords_[1].name);
  EXPECT_EQ(std::string("{G9}"), lastRecords_[2].guid);
  EXPECT_EQ((std::vector<uint16_t>{11}), SubGroupIds(10, 1, &ok)) << "a loop of parents ends";
  EXPECT_EQ((std::vector<uint16_t>{7}), SubGroupIds(3, 1, &ok));
}

TEST_F(GroupLibraryTest, OverlongTextsAreCutAndTerminated) {
  const std::string longName(300, 'n');
  const std::string longGuid(600, 'g');
  const std::string guid40 = "{" + std::string(38, 'A') + "}";
  WriteGroups("1\t0\t" + longGuid + "\t" + longName + "\n2\t0\t" + guid40 + "\tForty\n");
  bool ok = false;
  SubGroupIds(0, 1, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(2u, lastRecords_.size());
  EXPECT_EQ(std::wstring(kGroupNameChars - 1, L'n'), lastRecords_[0].name);
  EXPECT_EQ(std::string(kGroupGuidArea - 1, 'g'),
            std::string(lastRecords_[0].guid, strnlen(lastRecords_[0].guid, kGroupGuidArea)));
  EXPECT_EQ(guid40, lastRecords_[1].guid) << "a GUID text longer than 39 characters is delivered as it is";
}

TEST_F(GroupLibraryTest, MissingOrDamagedDataFailsEveryCall) {
  struct Row {
    const char* name;
    const char* content;  // nullptr: no file
    uint32_t status;
  };
  const Row rows[] = {
      {"no file", nullptr, 2},
      {"missing field", "1\t0\t{G1}\n", 3},
      {"group ID 0", "0\t0\t{G0}\tZero\n", 3},
      {"ID not a number", "x1\t0\t{G1}\tName\n", 3},
      {"ID too large", "65536\t0\t{G1}\tName\n", 3},
  };
  for (const Row& row : rows) {
    if (row.content == nullptr) {
      ::DeleteFileW(InServer(serverlayout::kGroupDataFile).c_str());
    } else {
      WriteGroups(row.content);
    }
    bool ok = true;
    uint32_t status = 0;
    EXPECT_TRUE(SubGroupIds(0, 1, &ok, &status).empty()) << row.name;
    EXPECT_FALSE(ok) << row.name;
    EXPECT_EQ(row.status, status) << row.name;

    fw::UniqueModule library = Load(L"grpstore.dll");
    auto details = fw::GetExport<GetGroupDetailsFn>(library.get(), kGetGroupDetailsName);
    GroupRecord record{};
    EXPECT_FALSE(details(1, &record, &status)) << row.name;
    EXPECT_EQ(row.status, status) << row.name;
  }
}

TEST_F(GroupLibraryTest, SwitchFileMakesTheNamedCallFail) {
  serverlayout::Options options;
  options.failingGroupCalls = {kGetSubGroupsForGroupName};
  ASSERT_NO_FATAL_FAILURE(LayOut(options));
  bool ok = true;
  uint32_t status = 0;
  SubGroupIds(0, 1, &ok, &status);
  EXPECT_FALSE(ok);
  EXPECT_EQ(5u, status);

  fw::UniqueModule library = Load(L"grpstore.dll");
  auto details = fw::GetExport<GetGroupDetailsFn>(library.get(), kGetGroupDetailsName);
  GroupRecord record{};
  EXPECT_TRUE(details(1, &record, &status)) << "calls the switch file does not name still work";

  ASSERT_TRUE(testsupport::WriteBytes(InServer(serverlayout::kGroupSwitchFile), "GetGroupDetails"));
  EXPECT_FALSE(details(1, &record, &status));
  EXPECT_EQ(5u, status);
}

TEST_F(GroupLibraryTest, JournalRecordsCallsAndUnload) {
  NewJournalLines(serverlayout::kGroupJournalFile);
  bool ok = false;
  SubGroupIds(0, 1, &ok);
  EXPECT_EQ((std::vector<std::string>{"load", "GetSubGroupsForGroup ok", "FreeGroupArray", "unload"}),
            NewJournalLines(serverlayout::kGroupJournalFile));
}

TEST_F(GroupLibraryTest, EachVariantLacksExactlyItsExport) {
  const char* exports[] = {kGetGroupDetailsName, kGetSubGroupsForGroupName, kFreeGroupArrayName};
  std::wstring built;
  ASSERT_TRUE(standin::ModuleFolder(nullptr, &built));
  for (const char* omitted : exports) {
    const std::wstring variant = built + L"grpstore_no_" + standin::FromUtf8(omitted) + L".dll";
    ASSERT_TRUE(::CopyFileW(variant.c_str(), InServer(L"grpstore.dll").c_str(), FALSE)) << omitted;
    fw::UniqueModule library = Load(L"grpstore.dll");
    ASSERT_TRUE(library) << omitted;
    for (const char* name : exports) {
      EXPECT_EQ(name == omitted, ::GetProcAddress(library.get(), name) == nullptr) << omitted << ": " << name;
    }
  }
}

}  // namespace
