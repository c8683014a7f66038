#include "build/msi_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "build/msi_handle.h"
#include "support/msi_rows.h"
#include "support/scripted_build_ui.h"
#include "support/temp_dir.h"

namespace {

using testsupport::BinaryRows;
using testsupport::WriteBytes;

// A path of the test's own folders, all ASCII, as the narrow text of a plan file.
std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring BuiltTemplate() {
  wchar_t module[MAX_PATH];
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring path = module;
  return path.substr(0, path.find_last_of(L'\\')) + L"\\serverfiles\\template.msi";
}

class MsiBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::CopyFileW(BuiltTemplate().c_str(), (dir_ / kDatabase).c_str(), FALSE))
        << "template.msi built?";
    ::CreateDirectoryW((dir_ / L"sub").c_str(), nullptr);
  }
  void WritePlan(const std::string& plan) { ASSERT_TRUE(WriteBytes(dir_ / L"pkgplan.ini", plan)); }
  void WriteFiles(const std::vector<std::pair<std::wstring, std::string>>& files) {
    for (const auto& [name, content] : files) {
      ASSERT_TRUE(WriteBytes(dir_ / name, content));
    }
  }
  std::map<std::wstring, std::string> AddedRows() {
    auto rows = BinaryRows(dir_ / kDatabase);
    rows.erase(L"TemplateBanner");
    return rows;
  }

  static constexpr wchar_t kDatabase[] = L"wsnode32.msi";
  testsupport::TempDir dir_;
  testsupport::ScriptedBuildUi prompt_;
};

TEST_F(MsiBuilderTest, InsertsEveryPlanEntryUnderItsFileNameWithItsContent) {
  WriteFiles({{L"NODESETP.EXE", "setup bytes"},
              {L"it's.dll", "apostrophe"},
              {L"sub\\deep.bin", std::string(70000, 'x')},
              {L"empty.txt", ""}});
  WritePlan(
      "[CLIENT_PACKAGE]\r\nFILE_COUNT=4\r\n0=NODESETP.EXE\r\n1=it's.dll\r\n2=sub\\deep.bin\r\n3=.\\empty."
      "txt\r\n");
  ASSERT_TRUE(AddBinaryFilesToMsi(dir_.path().c_str(), kDatabase, prompt_));
  const std::map<std::wstring, std::string> expected = {{L"NODESETP.EXE", "setup bytes"},
                                                        {L"it's.dll", "apostrophe"},
                                                        {L"deep.bin", std::string(70000, 'x')},
                                                        {L"empty.txt", ""}};
  EXPECT_EQ(AddedRows(), expected);
  EXPECT_TRUE(BinaryRows(dir_ / kDatabase).count(L"TemplateBanner")) << "the template's own row stays";
  EXPECT_TRUE(prompt_.shown().empty());
  EXPECT_TRUE(VerifyMsiBinaryRows(dir_.path().c_str(), kDatabase));

  // A file that changed after insertion no longer matches its row.
  WriteFiles({{L"it's.dll", "apostrophe!"}});
  EXPECT_FALSE(VerifyMsiBinaryRows(dir_.path().c_str(), kDatabase));
}

TEST_F(MsiBuilderTest, FailuresKeepWhatWasCommittedBefore) {
  WriteFiles({{L"a.bin", "A"}, {L"c.bin", "C"}});
  // Plan entries that name a file outside the working folder, or none: each is refused even
  // where the file it reaches exists (c.bin, through the working folder's own name).
  const std::string folderName = Ascii(dir_.path().substr(dir_.path().rfind(L'\\') + 1));
  const std::string second = "[CLIENT_PACKAGE]\r\nFILE_COUNT=2\r\n0=a.bin\r\n1=";
  const struct {
    const char* name;
    std::string plan;
    std::vector<std::wstring> committed;
  } cases[] = {
      {"count missing", "[CLIENT_PACKAGE]\r\n0=a.bin\r\n", {}},
      {"count zero", "[CLIENT_PACKAGE]\r\nFILE_COUNT=0\r\n0=a.bin\r\n", {}},
      {"key 1 missing", "[CLIENT_PACKAGE]\r\nFILE_COUNT=3\r\n0=a.bin\r\n2=c.bin\r\n", {L"a.bin"}},
      {"leading zero key", "[CLIENT_PACKAGE]\r\nFILE_COUNT=2\r\n0=a.bin\r\n01=c.bin\r\n", {L"a.bin"}},
      {"file missing", "[CLIENT_PACKAGE]\r\nFILE_COUNT=2\r\n0=a.bin\r\n1=none.bin\r\n", {L"a.bin"}},
      {"name the template holds", "[CLIENT_PACKAGE]\r\nFILE_COUNT=1\r\n0=sub\\TemplateBanner\r\n", {}},
      {"negative count", "[CLIENT_PACKAGE]\r\nFILE_COUNT=-1\r\n0=a.bin\r\n", {}},
      {"count beyond the largest number", "[CLIENT_PACKAGE]\r\nFILE_COUNT=4294967295\r\n0=a.bin\r\n", {}},
      {"entry climbing out and back", second + "..\\" + folderName + "\\c.bin\r\n", {L"a.bin"}},
      {"entry through ..", second + "sub\\..\\c.bin\r\n", {L"a.bin"}},
      {"entry through .. and a space", second + "sub\\.. \\c.bin\r\n", {L"a.bin"}},
      {"entry with forward slashes", second + "sub/../c.bin\r\n", {L"a.bin"}},
      {"entry with a drive", second + Ascii(dir_ / L"c.bin") + "\r\n", {L"a.bin"}},
      {"drive-relative entry", second + "C:c.bin\r\n", {L"a.bin"}},
      {"rooted entry", second + "\\c.bin\r\n", {L"a.bin"}},
      {"share entry", second + "\\\\srv\\share\\c.bin\r\n", {L"a.bin"}},
      {"stream entry", second + "c.bin:data\r\n", {L"a.bin"}},
      {"entry naming a folder", second + "sub\\\r\n", {L"a.bin"}},
      {"entry naming the working folder", second + ".\r\n", {L"a.bin"}},
  };
  WriteFiles({{L"sub\\TemplateBanner", "clash"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    WritePlan(c.plan);
    EXPECT_FALSE(AddBinaryFilesToMsi(dir_.path().c_str(), kDatabase, prompt_));
    std::vector<std::wstring> names;
    for (const auto& [name, content] : AddedRows()) {
      names.push_back(name);
    }
    EXPECT_EQ(names, c.committed);
    EXPECT_FALSE(VerifyMsiBinaryRows(dir_.path().c_str(), kDatabase));
  }
  EXPECT_FALSE(AddBinaryFilesToMsi(nullptr, kDatabase, prompt_));
  EXPECT_TRUE(prompt_.shown().empty());
}

// A database filled once without one row, and copies of it that each get their own version of
// that row and nothing else. A row that is there already is refused.
TEST_F(MsiBuilderTest, CopiesOfADatabaseFilledWithoutOneRowEachTakeTheirOwn) {
  WriteFiles({{L"a.bin", "A"}, {L"wsnode.ini", "left out"}});
  WritePlan("[CLIENT_PACKAGE]\r\nFILE_COUNT=2\r\n0=a.bin\r\n1=wsnode.ini\r\n");
  ASSERT_TRUE(AddBinaryFilesToMsi(dir_.path().c_str(), kDatabase, prompt_, L"wsnode.ini"));
  EXPECT_EQ(AddedRows(), (std::map<std::wstring, std::string>{{L"a.bin", "A"}}));
  EXPECT_TRUE(VerifyMsiBinaryRows(dir_.path().c_str(), kDatabase, L"wsnode.ini"));
  EXPECT_FALSE(VerifyMsiBinaryRows(dir_.path().c_str(), kDatabase)) << "the row left out is missing";

  const struct {
    const wchar_t* copy;
    std::string settings;
  } copies[] = {{L"first.msi", "the first group's settings"}, {L"second.msi", "second"}, {L"third.msi", ""}};
  for (const auto& c : copies) {
    ASSERT_TRUE(
        ::CopyFileW((dir_ / kDatabase).c_str(), (dir_ / (std::wstring(L"sub\\") + c.copy)).c_str(), FALSE));
    WriteFiles({{L"sub\\wsnode.ini", c.settings}});
    EXPECT_TRUE(InsertMsiBinaryRow((dir_ / (std::wstring(L"sub\\") + c.copy)).c_str(),
                                   (dir_ / L"sub").c_str(), L"wsnode.ini", prompt_));
  }
  for (const auto& c : copies) {
    auto rows = BinaryRows(dir_ / (std::wstring(L"sub\\") + c.copy));
    rows.erase(L"TemplateBanner");
    EXPECT_EQ(rows, (std::map<std::wstring, std::string>{{L"a.bin", "A"}, {L"wsnode.ini", c.settings}}))
        << c.settings;
  }
  EXPECT_EQ(AddedRows(), (std::map<std::wstring, std::string>{{L"a.bin", "A"}})) << "the filled one stays";

  // Once there, a row is not inserted again, and the database keeps it.
  EXPECT_FALSE(
      InsertMsiBinaryRow((dir_ / L"sub\\second.msi").c_str(), dir_.path().c_str(), L"wsnode.ini", prompt_));
  EXPECT_EQ(BinaryRows(dir_ / L"sub\\second.msi").at(L"wsnode.ini"), "second");
  EXPECT_FALSE(InsertMsiBinaryRow((dir_ / L"none.msi").c_str(), dir_.path().c_str(), L"a.bin", prompt_));
}

TEST_F(MsiBuilderTest, ADatabaseWithoutABinaryTableIsReportedAsABadQuery) {
  UniqueMsiHandle db;
  ASSERT_EQ(::MsiOpenDatabaseW((dir_ / L"bare.msi").c_str(), MSIDBOPEN_CREATE, db.put()), 0u);
  ASSERT_EQ(::MsiDatabaseCommit(db.get()), 0u);
  db.reset();
  WriteFiles({{L"a.bin", "A"}});
  WritePlan("[CLIENT_PACKAGE]\r\nFILE_COUNT=1\r\n0=a.bin\r\n");
  EXPECT_FALSE(AddBinaryFilesToMsi(dir_.path().c_str(), L"bare.msi", prompt_));
  ASSERT_EQ(prompt_.shown().size(), 1u);
  EXPECT_EQ(prompt_.shown()[0].text, L"ERROR_BAD_QUERY_SYNTAX");
}

}  // namespace
