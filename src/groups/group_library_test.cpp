#include "groups/group_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "installation/server_paths.h"
#include "layout/server_layout.h"
#include "support/registry_backup.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

TEST(CopyGroupGuid, CopiesAtMost39CharactersAndIgnoresTheRestOfTheField) {
  const std::string braced = "{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";
  struct Row {
    const char* name;
    std::string guid;
    bool ok;
  };
  const Row rows[] = {
      {"braced GUID, 38 characters", braced, true},
      {"39 characters", braced + "x", true},
      {"empty", "", true},
      {"40 characters", braced + "xy", false},
      {"no terminator in the field", std::string(600, 'g'), false},
  };
  for (const Row& row : rows) {
    GroupRecord record{};
    memset(record.guid, 'z', sizeof(record.guid));  // what a library may leave behind
    memcpy(record.guid, row.guid.c_str(), std::min(row.guid.size() + 1, sizeof(record.guid)));
    char guid[groups::kGuidCapacity];
    memset(guid, '#', sizeof(guid));
    EXPECT_EQ(row.ok, groups::CopyGroupGuid(record, guid)) << row.name;
    if (row.ok) {
      EXPECT_EQ(row.guid, std::string(guid)) << row.name;
    } else {
      EXPECT_EQ(std::string(groups::kGuidCapacity, '\0'), std::string(guid, sizeof(guid))) << row.name;
    }
  }
}

TEST(IsGroupGuid, OnlyBracedEightFourFourFourTwelveHexDigits) {
  const struct {
    const wchar_t* text;
    bool guid;
  } rows[] = {
      {L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}", true},
      {L"{5f0c3e2a-8b1d-4c6f-9a2e-1d3b5c7e9f01}", true},
      {L"5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01", false},
      {L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F0}", false},
      {L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F011}", false},
      {L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}x", false},
      {L"{5F0C3E2A-8B1D-4C6F-9A2E+1D3B5C7E9F01}", false},
      {L"{5F0C3E2G-8B1D-4C6F-9A2E-1D3B5C7E9F01}", false},
      {L"{5F0C3E2A}\rSERVER_IP=6.6.6.6", false},
      {L"", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.guid, groups::IsGroupGuid(row.text)) << testing::PrintToString(std::wstring(row.text));
  }
  EXPECT_FALSE(groups::IsGroupGuid(nullptr));
}

TEST(ConvertUTF8ToWideChar, FillsTheBufferOrLeavesItAllZeros) {
  wchar_t buffer[8];
  wmemset(buffer, L'#', 8);
  EXPECT_TRUE(groups::ConvertUTF8ToWideChar("ab\xC3\xA9", buffer, 8));
  EXPECT_EQ(std::wstring(L"ab\u00E9\0\0\0\0\0", 8), std::wstring(buffer, 8)) << "zero-filled behind the text";

  wmemset(buffer, L'#', 8);
  EXPECT_FALSE(groups::ConvertUTF8ToWideChar("12345678", buffer, 8)) << "the terminator does not fit";
  EXPECT_EQ(std::wstring(8, L'\0'), std::wstring(buffer, 8));

  EXPECT_TRUE(groups::ConvertUTF8ToWideChar("1234567", buffer, 8));
  EXPECT_STREQ(L"1234567", buffer);
  EXPECT_FALSE(groups::ConvertUTF8ToWideChar("x", nullptr, 8));
  wmemset(buffer, L'#', 8);
  EXPECT_FALSE(groups::ConvertUTF8ToWideChar("x", buffer, 0));
  EXPECT_EQ(L'#', buffer[0]) << "capacity 0 writes nothing";
}

TEST(LoadGroupLibrary, RegisteredPathsThatDoNotFitAreNotLoaded) {
  struct Row {
    const char* name;
    std::wstring path;
    bool terminator;
    groups::LoadResult result;
    const wchar_t* trace;
  };
  const Row rows[] = {
      {"no App Paths key", L"", true, groups::LoadResult::kKeyNotOpened,
       L"Tag Unable to open registry key => SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
       L"Paths\\CNSLSRVC.EXE"},
      {"path of 260 characters", std::wstring(260, L'p'), false, groups::LoadResult::kPathNotRead,
       L"Tag RegQueryValueEx failed"},
      {"path without room for the library name", L"C:\\" + std::wstring(250, L'q'), true,
       groups::LoadResult::kLoadFailed, L"Tag LoadLibraryExW failed"},
      {"folder without the library", L"C:\\windows", true, groups::LoadResult::kLoadFailed,
       L"Tag LoadLibraryExW failed"},
  };
  for (const Row& row : rows) {
    testsupport::RegistryPathBackup registry(installation::kAppPathsKey);
    if (row.result != groups::LoadResult::kKeyNotOpened) {
      ASSERT_TRUE(registry.SetRaw(L"Path", row.path, row.terminator)) << row.name;
    }
    testsupport::TraceCapture trace;
    fw::UniqueModule library;
    EXPECT_EQ(row.result, groups::LoadGroupLibrary(library, L"Tag", tracelog::kLevelProgress)) << row.name;
    EXPECT_FALSE(library) << row.name;
    EXPECT_TRUE(trace.Contains(row.trace)) << row.name << ": " << testing::PrintToString(trace.Text());
  }
}

// The library's result is a byte: any non-zero value is success, 0 is failure.
TEST(ReadDefaultGroupGuid, EveryNonZeroByteIsSuccess) {
  struct Row {
    const char* name;
    bool successFF;
    bool failing;
    groups::DefaultGroupResult result;
  };
  const Row rows[] = {
      {"success 1", false, false, groups::DefaultGroupResult::kLoaded},
      {"success 0xFF", true, false, groups::DefaultGroupResult::kLoaded},
      {"failure 0", true, true, groups::DefaultGroupResult::kFailed},
  };
  for (const Row& row : rows) {
    testsupport::RegistryPathBackup registry(installation::kAppPathsKey);
    testsupport::TempDir dir;
    serverlayout::Options options;
    options.serverFolder = dir / L"Server";
    options.layOutProgram = false;
    options.successFF = row.successFF;
    if (row.failing) {
      options.failingGroupCalls = {"GetGroupDetails"};
    }
    serverlayout::Result layout;
    ASSERT_TRUE(serverlayout::LayOutServer(options, &layout)) << row.name;
    wchar_t guid[groups::kGuidCapacity] = L"";
    EXPECT_EQ(row.result, groups::ReadDefaultGroupGuid(guid, static_cast<int>(groups::kGuidCapacity), L"Tag"))
        << row.name;
    const std::wstring expected = row.failing ? L"" : std::wstring(L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}");
    EXPECT_EQ(expected, guid) << row.name;
  }
}

}  // namespace
