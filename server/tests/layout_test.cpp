#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/standin_files.h"
#include "handles/handles.h"
#include "layout/server_layout.h"
#include "support/registry_backup.h"
#include "support/temp_dir.h"

namespace {

using serverlayout::Registration;
using testsupport::FileExists;

const std::wstring kVersionedKey =
    std::wstring(serverlayout::kAppPathsKey) + L"_" + serverlayout::kDefaultProductVersion;

// The "Path" value under the key as a 32-bit program reads it.
std::optional<std::wstring> RegisteredPath(const std::wstring& key = serverlayout::kAppPathsKey) {
  fw::UniqueRegKey opened;
  wchar_t value[1024];
  DWORD size = sizeof value;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, opened.put()) !=
          ERROR_SUCCESS ||
      ::RegGetValueW(opened.get(), nullptr, serverlayout::kPathValue, RRF_RT_REG_SZ, nullptr, value, &size) !=
          ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(value);
}

void SetRegisteredPath(const std::wstring& path) {
  fw::UniqueRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, serverlayout::kAppPathsKey, 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, key.put(), nullptr));
  ::RegSetValueExW(key.get(), serverlayout::kPathValue, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

int EntryCount(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  fw::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  int count = 0;
  if (find) {
    do {
      const std::wstring name = data.cFileName;
      count += name == L"." || name == L".." ? 0 : 1;
    } while (::FindNextFileW(find.get(), &data));
  }
  return count;
}

std::wstring Profile(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  wchar_t value[512];
  ::GetPrivateProfileStringW(section, key, L"<absent>", value, 512, file.c_str());
  return value;
}

class LayoutTest : public ::testing::Test {
 protected:
  serverlayout::Result LayOut(serverlayout::Options options) {
    if (options.serverFolder.empty()) {
      options.serverFolder = dir_ / L"Server";
    }
    serverlayout::Result result;
    EXPECT_TRUE(serverlayout::LayOutServer(options, &result)) << standin::ToUtf8(result.error);
    return result;
  }

  testsupport::TempDir dir_;
  // Both registrations the layout writes, put back as they were when the test ends.
  testsupport::RegistryPathBackup plainKey_{serverlayout::kAppPathsKey};
  testsupport::RegistryPathBackup versionedKey_{kVersionedKey};
};

TEST_F(LayoutTest, LaysOutEveryFileTheBuildsRead) {
  const serverlayout::Result result = LayOut({});
  const std::wstring s = result.serverFolder + L"\\";
  // Folder, then the files in it (blank-separated).
  const std::pair<std::wstring, std::wstring> groups[] = {
      {L"", L"grpstore.dll groups.txt cnsldata.dll serverdata.txt serverdata_1_1_3.bin config\\cnslconf.ini"},
      {L"Web\\Build\\",
       L"NODESETP.EXE NDSETP64.EXE wsnode.ini nodedef.ini tmhostsv.exe tmhost64.exe purge.exe "
       L"pkgplan.ini macndef.ini MWSNODE.DMG MACHOST.DMG"},
      {L"Web\\Build\\heslin32\\", L"heslin32.tar.gz wsnode.ini readme.txt install"},
      {L"Web\\Build\\heslin64\\", L"heslin64.tar.gz wsnode.ini readme.txt install"},
      {L"Tools\\clPacker\\",
       L"netkit.dll regshim.dll msvcr90.dll Microsoft.VC90.CRT.manifest Deploy.exe sysprobe.dll "
       L"verkit.dll build.cnf nodehelp.dll instctl.dll afterins.exe template.msi pack.exe 7z.sfx"},
      {L"Tools\\clPacker\\64\\",
       L"Deploy.exe sysprobe.dll verkit.dll build.cnf uistr.dll nodehelp.dll instctl.dll "
       L"afterins.exe template.msi pack.exe 7z.sfx"},
      {L"ClientPackager\\", L"tmrovane.exe uistr.dll verkit.dll verkit.ini"},
  };
  for (const auto& [folder, names] : groups) {
    size_t start = 0;
    while (start < names.size()) {
      const size_t end = std::min(names.find(L' ', start), names.size());
      const std::wstring file = folder + names.substr(start, end - start);
      start = end + 1;
      const DWORD attributes = ::GetFileAttributesW((s + file).c_str());
      EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
          << standin::ToUtf8(file);
    }
  }
  for (const wchar_t* folder : {L"Web\\Build\\cnmac", L"ClientPackager\\clPacker"}) {
    const DWORD attributes = ::GetFileAttributesW((s + folder).c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        << standin::ToUtf8(folder);
    EXPECT_EQ(0, EntryCount(s + folder)) << "empty: " << standin::ToUtf8(folder);
  }
  EXPECT_EQ(s + L"ClientPackager", result.programFolder);
  EXPECT_EQ(L"10.5", Profile(s + L"ClientPackager\\verkit.ini", L"Version", L"Product"));
  EXPECT_EQ(kVersionedKey, result.registryKey) << "the key the version library derives";
  EXPECT_EQ(s, RegisteredPath(kVersionedKey).value_or(L"<none>"));
  EXPECT_FALSE(RegisteredPath()) << "the base key stays untouched";
  EXPECT_FALSE(FileExists(s + L"success.ff"));
}

TEST_F(LayoutTest, WithoutAVersionTheBaseKeyIsRegistered) {
  serverlayout::Options options;
  options.productVersion.reset();
  options.successFF = true;
  const serverlayout::Result result = LayOut(options);
  EXPECT_FALSE(FileExists(result.programFolder + L"\\verkit.ini"));
  EXPECT_EQ(serverlayout::kAppPathsKey, result.registryKey);
  EXPECT_EQ(result.serverFolder + L"\\", RegisteredPath().value_or(L"<none>"));
  EXPECT_FALSE(RegisteredPath(kVersionedKey));
  EXPECT_TRUE(FileExists(result.serverFolder + L"\\success.ff"));
  EXPECT_TRUE(FileExists(result.programFolder + L"\\success.ff"));
}

TEST_F(LayoutTest, TemplatesHoldWhatTheBuildsRelyOn) {
  const std::wstring s = LayOut({}).serverFolder + L"\\";
  const std::wstring web = s + L"Web\\Build\\";

  const std::string settings = testsupport::ReadBytes(web + L"wsnode.ini");
  EXPECT_EQ("\xFF\xFE", settings.substr(0, 2)) << "UTF-16LE with byte-order mark";
  EXPECT_EQ(L"HESSRV01", Profile(web + L"wsnode.ini", L"SETTING", L"SERVER_NAME"));
  EXPECT_EQ(L"<absent>", Profile(web + L"wsnode.ini", L"SETTING", L"preset_group_id"));
  EXPECT_EQ(L"linux64", Profile(web + L"heslin64\\wsnode.ini", L"AGENT", L"PLATFORM"));

  const std::wstring config = s + L"config\\cnslconf.ini";
  for (const wchar_t* key : {L"mac_build_url", L"mac_build_url1", L"linux_url1_32", L"linux_url2_32",
                             L"linux_url1_64", L"linux_url2_64"}) {
    EXPECT_EQ(0u, Profile(config, L"ADMIN_CONSOLE_SECTION", key).rfind(L"https://", 0))
        << standin::ToUtf8(key);
  }
  EXPECT_EQ(L"1", Profile(config, L"ADMIN_CONSOLE_SECTION", L"hesinstmode"));

  // Every plan entry names a file that an MSI build has in its working folder.
  const std::wstring plan = web + L"pkgplan.ini";
  const UINT count = ::GetPrivateProfileIntW(L"CLIENT_PACKAGE", L"FILE_COUNT", 0, plan.c_str());
  ASSERT_EQ(10u, count);
  EXPECT_EQ(L"NODESETP.EXE", Profile(plan, L"CLIENT_PACKAGE", L"0"));
  EXPECT_EQ(L"NODESETP.EXE", Profile(plan, L"CLIENT_INSTALLER", L"SETUP"));
  for (UINT i = 0; i < count; ++i) {
    std::wstring entry = Profile(plan, L"CLIENT_PACKAGE", std::to_wstring(i).c_str());
    const std::wstring name = entry.substr(entry.find_last_of(L'\\') + 1);
    EXPECT_TRUE(name == L"rpinfo.dat" || FileExists(web + name) ||
                FileExists(s + L"Tools\\clPacker\\" + name) || FileExists(s + L"ClientPackager\\" + name))
        << standin::ToUtf8(entry);
  }

  // The desktop component's size gives the pack size parameter 21 (whole megabytes x 2 + 15).
  const std::string desktop = testsupport::ReadBytes(web + L"tmhostsv.exe");
  EXPECT_EQ(21u, desktop.size() / (1024 * 1024) * 2 + 15);
  EXPECT_EQ(0u, desktop.rfind("Halvane Endpoint Security stand-in payload: Web\\Build\\tmhostsv.exe\r\n", 0));
}

TEST_F(LayoutTest, InstallationModeIsWrittenAsGivenOrLeftOut) {
  struct Row {
    const char* name;
    std::optional<std::wstring> value;
    std::wstring text;
    UINT number;
  };
  const Row rows[] = {
      {"absent", std::nullopt, L"<absent>", 2},
      {"0", L"0", L"0", 0},
      {"2", L"2", L"2", 2},
      {"3", L"3", L"3", 3},
      {"not a number", L"x", L"x", 0},
  };
  for (const Row& row : rows) {
    serverlayout::Options options;
    options.hesinstmode = row.value;
    options.registration = Registration::kNone;
    const std::wstring config = LayOut(options).serverFolder + L"\\config\\cnslconf.ini";
    EXPECT_EQ(row.text, Profile(config, L"ADMIN_CONSOLE_SECTION", L"hesinstmode")) << row.name;
    EXPECT_EQ(row.number,
              ::GetPrivateProfileIntW(L"ADMIN_CONSOLE_SECTION", L"hesinstmode", 2, config.c_str()))
        << row.name;
  }
}

TEST_F(LayoutTest, OmittedFilesAndFoldersAreLeftOut) {
  serverlayout::Options options;
  options.omit = {L"Web\\Build\\MACHOST.DMG", L"web\\build\\HESLIN32\\", L"Tools\\clPacker\\64\\uistr.dll"};
  options.omitProgramFiles = {L"uistr.dll"};
  options.registration = Registration::kNone;
  const std::wstring s = LayOut(options).serverFolder + L"\\";
  EXPECT_FALSE(FileExists(s + L"Web\\Build\\MACHOST.DMG"));
  EXPECT_FALSE(FileExists(s + L"Web\\Build\\heslin32"));
  EXPECT_FALSE(FileExists(s + L"Tools\\clPacker\\64\\uistr.dll"));
  EXPECT_FALSE(FileExists(s + L"ClientPackager\\uistr.dll"));
  EXPECT_TRUE(FileExists(s + L"Web\\Build\\MWSNODE.DMG"));
  EXPECT_TRUE(FileExists(s + L"Web\\Build\\heslin64\\install"));
  EXPECT_TRUE(FileExists(s + L"ClientPackager\\verkit.dll"));
}

TEST_F(LayoutTest, DownloadsAreLaidOutInTheGivenSizeOrLeftOut) {
  const wchar_t* const downloads[] = {L"MWSNODE.DMG", L"MACHOST.DMG", L"heslin32\\heslin32.tar.gz",
                                      L"heslin64\\heslin64.tar.gz"};
  serverlayout::Options options;
  options.registration = Registration::kNone;
  options.layOutProgram = false;
  options.diskImageBytes = 3 * 1024 * 1024 + 5;
  std::wstring web = LayOut(options).serverFolder + L"\\Web\\Build\\";
  for (const wchar_t* name : {L"MWSNODE.DMG", L"MACHOST.DMG"}) {
    EXPECT_EQ(options.diskImageBytes, testsupport::ReadBytes(web + name).size()) << standin::ToUtf8(name);
  }
  options.serverFolder = dir_ / L"Fresh";
  options.layOutDownloads = false;
  web = LayOut(options).serverFolder + L"\\Web\\Build\\";
  for (const wchar_t* name : downloads) {
    EXPECT_FALSE(FileExists(web + name)) << standin::ToUtf8(name);
  }
  EXPECT_TRUE(FileExists(web + L"macndef.ini"));
  EXPECT_TRUE(FileExists(web + L"heslin32\\install"));
  EXPECT_TRUE(FileExists(web + L"cnmac"));
}

TEST_F(LayoutTest, RegistersTheFolderInEachForm) {
  const std::wstring folder = dir_ / L"Server Installation Folder";
  struct Row {
    const char* name;
    Registration registration;
    bool backslash;
  };
  const Row rows[] = {
      {"long, backslash", Registration::kLongPath, true},
      {"long, no backslash", Registration::kLongPath, false},
      {"short, backslash", Registration::kShortPath, true},
      {"short, no backslash", Registration::kShortPath, false},
  };
  for (const Row& row : rows) {
    serverlayout::Options options;
    options.serverFolder = folder;
    options.registration = row.registration;
    options.trailingBackslash = row.backslash;
    options.layOutProgram = false;
    const serverlayout::Result result = LayOut(options);
    const std::optional<std::wstring> registered = RegisteredPath();
    ASSERT_TRUE(registered) << row.name;
    EXPECT_EQ(result.registeredPath, *registered) << row.name;
    EXPECT_EQ(row.backslash, registered->back() == L'\\') << row.name;
    wchar_t longForm[MAX_PATH];
    ASSERT_NE(0u, ::GetLongPathNameW(registered->c_str(), longForm, MAX_PATH)) << row.name;
    EXPECT_EQ(folder + (row.backslash ? L"\\" : L""), longForm) << row.name;
    EXPECT_EQ(row.registration == Registration::kShortPath,
              registered->find(L"Server Installation Folder") == std::wstring::npos)
        << row.name;
  }
}

TEST_F(LayoutTest, RegistrationCanBeLeftAloneEmptiedOrRemoved) {
  SetRegisteredPath(L"C:\\Elsewhere\\");
  serverlayout::Options options;
  options.productVersion.reset();
  options.registration = Registration::kNone;
  EXPECT_TRUE(LayOut(options).registeredPath.empty());
  EXPECT_EQ(L"C:\\Elsewhere\\", *RegisteredPath());

  options.registration = Registration::kKeyOnly;
  LayOut(options);
  fw::UniqueRegKey key;
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, serverlayout::kAppPathsKey, 0, KEY_QUERY_VALUE, key.put()));
  EXPECT_FALSE(RegisteredPath()) << "the key without its Path value";

  options.registration = Registration::kRemove;
  LayOut(options);
  EXPECT_NE(ERROR_SUCCESS,
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, serverlayout::kAppPathsKey, 0, KEY_QUERY_VALUE, key.put()));
  LayOut(options);
  EXPECT_FALSE(RegisteredPath()) << "removing a missing registration is no failure";
}

TEST_F(LayoutTest, ProgramFolderCanLieElsewhereOrBeLeftOut) {
  serverlayout::Options options;
  options.programFolder = dir_ / L"Programs\\Packager\\";
  options.registration = Registration::kNone;
  const serverlayout::Result result = LayOut(options);
  EXPECT_EQ(dir_ / L"Programs\\Packager", result.programFolder);
  EXPECT_TRUE(FileExists(result.programFolder + L"\\tmrovane.exe"));
  EXPECT_FALSE(FileExists(result.serverFolder + L"\\ClientPackager"));

  options.programFolder.clear();
  options.layOutProgram = false;
  options.serverFolder = dir_ / L"Other";
  EXPECT_TRUE(LayOut(options).programFolder.empty());
  EXPECT_FALSE(FileExists(dir_ / L"Other\\ClientPackager"));
}

TEST_F(LayoutTest, ReportsWhatFailed) {
  serverlayout::Options options;
  options.registration = Registration::kNone;
  options.cnsldataLibrary = L"no_such_library.dll";
  serverlayout::Result result;
  options.serverFolder = dir_ / L"Server";
  EXPECT_FALSE(serverlayout::LayOutServer(options, &result));
  EXPECT_NE(std::wstring::npos, result.error.find(L"no_such_library.dll")) << standin::ToUtf8(result.error);

  options.serverFolder.clear();
  EXPECT_FALSE(serverlayout::LayOutServer(options, &result));
  EXPECT_FALSE(result.error.empty());
}

}  // namespace
