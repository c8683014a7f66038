#include "installation/server_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "support/registry_backup.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

using testsupport::TempDir;
using testsupport::TraceCapture;

const std::wstring kTestKey = L"SOFTWARE\\ClientPackagerTest\\" + std::to_wstring(GetCurrentProcessId());

// Every test here starts and ends without the key, whatever the prefix held before.
class RegistryScope : public testsupport::RegistryPathBackup {
 public:
  using RegistryPathBackup::RegistryPathBackup;
  void SetRaw(const wchar_t* name, const std::wstring& data, bool withTerminator) {
    ASSERT_TRUE(RegistryPathBackup::SetRaw(name, data, withTerminator));
  }
};

TEST(GetRegValue, TerminatesWithinTheBufferAndFailsWhatDoesNotFit) {
  struct Row {
    const char* name;
    std::wstring data;
    bool terminator;
    bool ok;
  };
  const Row rows[] = {
      {"stored with terminator", L"C:\\Server\\", true, true},
      {"stored without terminator", L"C:\\Server", false, true},
      {"empty", L"", true, true},
      {"259 characters fit", std::wstring(259, L'a'), true, true},
      {"259 characters without terminator fit", std::wstring(259, L'b'), false, true},
      {"260 characters do not fit", std::wstring(260, L'c'), true, false},
      {"260 characters without terminator do not fit", std::wstring(260, L'd'), false, false},
  };
  for (const Row& row : rows) {
    RegistryScope registry(kTestKey);
    registry.SetRaw(L"Path", row.data, row.terminator);
    TraceCapture trace;
    wchar_t buffer[MAX_PATH + 8];
    wmemset(buffer, L'#', MAX_PATH + 8);
    EXPECT_EQ(row.ok, installation::GetRegValue(kTestKey.c_str(), L"Path", buffer, MAX_PATH)) << row.name;
    if (row.ok) {
      EXPECT_EQ(row.data, std::wstring(buffer)) << row.name;
    } else {
      EXPECT_EQ(L'\0', buffer[0]) << row.name;
    }
    EXPECT_EQ(L'#', buffer[MAX_PATH]) << row.name << ": wrote beyond the capacity";
    EXPECT_EQ(!row.ok, trace.Contains(L"Registry value Path cut: does not fit 260 characters, not used"))
        << row.name;
  }
}

TEST(GetRegValue, TracesEachFailureAndRejectsMissingArguments) {
  TraceCapture trace;
  wchar_t buffer[MAX_PATH] = L"stale";
  EXPECT_FALSE(installation::GetRegValue(kTestKey.c_str(), L"Path", buffer, MAX_PATH));
  EXPECT_STREQ(L"", buffer);
  EXPECT_TRUE(trace.Contains(L"GetRegValue RegOpenKeyEx failed"));

  RegistryScope registry(kTestKey);
  registry.SetRaw(L"Other", L"x", true);
  EXPECT_FALSE(installation::GetRegValue(kTestKey.c_str(), L"Path", buffer, MAX_PATH));
  EXPECT_TRUE(trace.Contains(L"GetRegValue RegQueryValueEx failed"));

  EXPECT_FALSE(installation::GetRegValue(nullptr, L"Path", buffer, MAX_PATH));
  EXPECT_FALSE(installation::GetRegValue(kTestKey.c_str(), nullptr, buffer, MAX_PATH));
  EXPECT_FALSE(installation::GetRegValue(kTestKey.c_str(), L"Path", nullptr, MAX_PATH));
  EXPECT_TRUE(trace.Contains(L"GetRegValue invalid parameter"));
}

TEST(FindInstallFolder, EndsWithOneBackslashAndFallsBackToTheRoot) {
  struct Row {
    const char* name;
    const wchar_t* registered;  // null: key missing
    const wchar_t* expected;
  };
  const Row rows[] = {
      {"without trailing backslash", L"C:\\Server", L"C:\\Server\\"},
      {"with trailing backslash", L"C:\\Server\\", L"C:\\Server\\"},
      {"empty value", L"", L"\\"},
      {"not registered", nullptr, L"\\"},
  };
  for (const Row& row : rows) {
    TraceCapture trace;
    RegistryScope registry(installation::kAppPathsKey);
    if (row.registered != nullptr) {
      registry.SetRaw(L"Path", row.registered, true);
    }
    wchar_t folder[MAX_PATH];
    installation::FindInstallFolder(folder, L"Tag");
    EXPECT_STREQ(row.expected, folder) << row.name;
    EXPECT_EQ(row.registered == nullptr, trace.Contains(L"Tag GetRegValue failed")) << row.name;
    wchar_t config[MAX_PATH];
    ASSERT_TRUE(installation::BuildConfigFilePath(folder, config));
    EXPECT_EQ(std::wstring(row.expected) + L"config\\cnslconf.ini", config) << row.name;
  }
}

// Only an absolute path of an existing folder counts as the server's folder.
TEST(IsInstallFolderFound, OnlyAnExistingAbsoluteFolder) {
  TempDir dir;
  const std::wstring file = dir / L"file";
  ASSERT_TRUE(testsupport::WriteBytes(file, "x"));
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(dir.path().c_str());
  const struct {
    std::wstring folder;
    bool found;
  } rows[] = {
      {dir.path() + L"\\", true},
      {dir.path(), true},
      {L"\\", false},                           // the fallback of a failed lookup
      {L"\\users\\", false},                    // rooted on the current drive
      {L".\\", false},                          // relative, though it exists here
      {dir.path().substr(0, 2) + L".", false},  // "C:." is relative to that drive's current folder
      {dir / L"gone\\", false},
      {file + L"\\", false},      // a file, not a folder
      {L"\\\\\\share\\", false},  // no server name
      {L"\\\\server\\", false},   // no share name
      {L"", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.found, installation::IsInstallFolderFound(row.folder.c_str()))
        << testing::PrintToString(row.folder);
  }
  EXPECT_FALSE(installation::IsInstallFolderFound(nullptr));
  SetCurrentDirectoryW(previous);
}

TEST(BuildWebBuildFolder, UsesTheLongFormOfTheFolder) {
  TempDir dir;
  const std::wstring folder = dir / L"Long Server Folder";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  wchar_t shortForm[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(folder.c_str(), shortForm, MAX_PATH), 0u);
  ASSERT_NE(folder, shortForm) << "the prefix gives no short name";
  wchar_t longForm[MAX_PATH];
  ASSERT_GT(GetLongPathNameW(folder.c_str(), longForm, MAX_PATH), 0u);

  wchar_t web[MAX_PATH];
  installation::BuildWebBuildFolder((std::wstring(shortForm) + L"\\").c_str(), web);
  EXPECT_EQ(std::wstring(longForm) + L"\\web\\build", web);
  installation::BuildWebBuildFolder(shortForm, web);
  EXPECT_EQ(std::wstring(longForm) + L"\\web\\build", web) << "a backslash is added where one is missing";
  // A folder that does not exist has no long form; it is taken as it stands.
  installation::BuildWebBuildFolder(L"C:\\No Such Folder 7\\", web);
  EXPECT_STREQ(L"C:\\No Such Folder 7\\web\\build", web);
}

// A value cut to its buffer would name another folder, file or address: it is traced and none
// of it is used.
TEST(ValuesThatDoNotFit, AreTracedAndNotUsed) {
  TempDir dir;
  const std::wstring config = dir / L"cnslconf.ini";
  const std::string fits(259, 'f');
  const std::string cut(260, 'c');
  ASSERT_TRUE(testsupport::WriteBytes(
      config, "[ADMIN_CONSOLE_SECTION]\r\nmac_build_url=" + fits + "\r\nmac_build_url1=" + cut + "\r\n"));
  TraceCapture trace;
  wchar_t value[MAX_PATH];
  EXPECT_EQ(259u, installation::ReadConfigString(config.c_str(), installation::kKeyMacUrl1, value));
  EXPECT_EQ(std::wstring(259, L'f'), value) << "a value that fills the buffer exactly";
  EXPECT_EQ(0u, installation::ReadConfigString(config.c_str(), installation::kKeyMacUrl2, value));
  EXPECT_STREQ(L"", value);
  EXPECT_TRUE(trace.Contains(L"Configuration value mac_build_url1 cut"));

  // An install folder without room for its backslash counts as not found.
  {
    RegistryScope registry(installation::kAppPathsKey);
    registry.SetRaw(L"Path", L"C:\\" + std::wstring(256, L'd'), true);
    wchar_t folder[MAX_PATH];
    installation::FindInstallFolder(folder, L"Tag");
    EXPECT_STREQ(L"\\", folder);
    EXPECT_TRUE(trace.Contains(L"Install folder C:\\ddd"));
  }

  // Paths derived from a folder that leaves no room for their names stay empty.
  const std::wstring folder = L"C:\\" + std::wstring(250, L'e') + L"\\";
  wchar_t path[MAX_PATH];
  EXPECT_FALSE(installation::BuildConfigFilePath(folder.c_str(), path));
  EXPECT_STREQ(L"", path);
  EXPECT_TRUE(trace.Contains(L"Configuration file of C:\\eee"));
  EXPECT_EQ(0u, installation::ReadConfigString(path, installation::kKeyMacUrl1, value)) << "nothing is read";
  EXPECT_EQ(installation::kInstallModeHidden, installation::ReadInstallMode(path));
  EXPECT_FALSE(installation::BuildWebBuildFolder(folder.c_str(), path));
  EXPECT_STREQ(L"", path);
  EXPECT_TRUE(trace.Contains(L"Web build folder of C:\\eee"));
}

}  // namespace
