// Windows builds on a stand-in server laid out in a temporary folder whose name has spaces and
// parentheses, with the window side scripted.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "build/create.h"
#include "build/create_plan.h"
#include "handles/handles.h"
#include "layout/server_layout.h"
#include "serverinfo/rpinfo_file.h"
#include "support/msi_rows.h"
#include "support/scripted_build_ui.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"
#include "uitext/ui_text.h"

namespace {

using testsupport::BinaryRows;
using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

const std::wstring kPathError = L"Please specify a valid path.";
const std::wstring kSetupError = L"Error in creating setup";
const std::wstring kIpError = L"Please specify a valid IP Address.";
const std::wstring kDomainError = L"Please specify a valid Domain Name.";

const std::wstring kPasswordQuestion = L"Do you want to create password protected setup?";

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Every file below `folder` (relative path to content), sub-folders included. The stand-in
// packer's record of its run and the libraries' journals are left out: they are the stand-ins'
// records, not the server's files.
void AddFiles(const std::wstring& folder, const std::wstring& prefix,
              std::map<std::wstring, std::string>* files) {
  WIN32_FIND_DATAW data;
  fw::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) {
    return;
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L".." || name == L"pack.log" || name.ends_with(L".journal")) {
      continue;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*files)[prefix + name + L"\\"] = "";
      AddFiles(folder + L"\\" + name, prefix + name + L"\\", files);
    } else {
      (*files)[prefix + name] = ReadBytes(folder + L"\\" + name);
    }
  } while (::FindNextFileW(find.get(), &data));
}

std::wstring ShortForm(const std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = L"";
  EXPECT_GT(::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH), 0u);
  return shortPath;
}

// `parent` followed by sub-folders, all created, until the whole path has `length` characters.
std::wstring FolderOfLength(const std::wstring& parent, size_t length) {
  std::wstring path = parent;
  EXPECT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
  while (path.size() < length) {
    const size_t part = std::min<size_t>(100, length - path.size() - 1);
    path += L"\\" + std::wstring(part, L'd');
    EXPECT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << path.size();
  }
  return path;
}

// Another name of the existing folder `path` (a drive path): under Wine the Unix file system's
// drive Z: spelling, on Windows the administrative share of its drive.
std::wstring SecondName(const std::wstring& path) {
  using UnixName = char*(__cdecl*)(const wchar_t*);
  const auto unixName =
      fw::GetExport<UnixName>(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
  if (unixName == nullptr) {
    return L"\\\\localhost\\" + path.substr(0, 1) + L"$" + path.substr(2);
  }
  char* name = unixName(path.c_str());
  std::string unix = name != nullptr ? name : "";
  ::HeapFree(::GetProcessHeap(), 0, name);
  // Drive C: is the prefix's link dosdevices/c: to its drive_c folder; a colon names no folder.
  if (const size_t link = unix.find("/dosdevices/c:/"); link != std::string::npos) {
    unix.replace(link, 15, "/drive_c/");
  }
  std::wstring second = L"Z:";
  for (const char c : unix) {
    second += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  return second;
}

// The text of a UTF-16LE file with a byte-order mark.
std::wstring Utf16(const std::string& bytes) {
  std::wstring text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return text;
}

class WindowsBuildTest : public ::testing::Test {
 protected:
  void SetUp() override { LayOut(); }

  void LayOut(std::vector<std::wstring> omit = {}) {
    serverlayout::Options layout;
    layout.serverFolder = dir_ / L"Server (x86) Folder";
    layout.registration = serverlayout::Registration::kNone;
    layout.omit = std::move(omit);
    ASSERT_TRUE(serverlayout::LayOutServer(layout, &layout_)) << testing::PrintToString(layout_.error);
    server_ = layout_.serverFolder;
    ::CreateDirectoryW(destination_.c_str(), nullptr);
    options_ = BuildOptions{};
    options_.installFolder = server_ + L"\\";
    options_.webBuildFolder = server_ + L"\\web\\build";
    options_.groupGuid = L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";
    options_.installationMode = 1;
    options_.destination = destination_;
  }

  void Choose(int package, int platform, int setupType, int antivirus) {
    options_.packageIndex = package;
    options_.platformIndex = platform;
    options_.setupTypeIndex = setupType;
    options_.antivirusIndex = antivirus;
  }

  bool Build(IBuildUi& ui) { return Create(options_, ui).outcome == CreateOutcome::kBuilt; }
  CreateResult Create(const BuildOptions& options, IBuildUi& ui) {
    return RunCreate(options, ui, (layout_.programFolder + L"\\").c_str(), L"WindowsBuildTest");
  }

  std::wstring WorkFolder() const { return server_ + L"\\Tools\\clPacker\\Build"; }
  std::wstring Packer(int bits) const {
    return server_ + (bits == 64 ? L"\\Tools\\clPacker\\64" : L"\\Tools\\clPacker");
  }
  // Nothing of a build remains: no working folder, no archive, nothing at the destination but
  // what the test put there.
  void ExpectNothingLeft(const std::vector<std::wstring>& keptAtDestination = {}) const {
    EXPECT_FALSE(IsFolder(WorkFolder()));
    EXPECT_FALSE(FileExists(Packer(32) + L"\\root.7z"));
    EXPECT_FALSE(FileExists(Packer(64) + L"\\root.7z"));
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    fw::UniqueFind find(::FindFirstFileW((destination_ + L"\\*").c_str(), &data));
    if (find) {
      do {
        if (data.cFileName[0] != L'.') {
          found.push_back(data.cFileName);
        }
      } while (::FindNextFileW(find.get(), &data));
    }
    EXPECT_EQ(found, keptAtDestination);
  }

  // Every file of the server's folders, the program folder and the destination.
  std::map<std::wstring, std::string> Snapshot() const {
    std::map<std::wstring, std::string> files;
    AddFiles(server_, L"", &files);
    AddFiles(destination_, L"destination\\", &files);
    return files;
  }

  testsupport::TempDir dir_;
  serverlayout::Result layout_;
  std::wstring server_;
  std::wstring destination_ = dir_ / L"out";
  testsupport::TraceCapture trace_;
  BuildOptions options_;
};

TEST_F(WindowsBuildTest, RefusalsComeInTheirOrderBeforeAnyFileWork) {
  const std::wstring aFile = dir_ / L"a file";
  ASSERT_TRUE(WriteBytes(aFile, "x"));
  // The longest folder that can be created, and one whose installer and its temporary name just
  // fit.
  const std::wstring longest = FolderOfLength(dir_ / L"long", MAX_PATH - 13);
  const std::wstring fitting = FolderOfLength(dir_ / L"fit", MAX_PATH - 1 - 13 - 4);
  const std::wstring packer = server_ + L"\\Tools\\clPacker";
  ASSERT_TRUE(::CreateDirectoryW(WorkFolder().c_str(), nullptr));
  const std::wstring avQuestion =
      L"Creating client agent installer including Halvane will take some time.\n Do you wish to continue?";
  const auto at = [](const std::wstring& folder) {
    return [folder](BuildOptions& o) { o.destination = folder; };
  };
  const struct {
    const char* name;
    std::function<void(BuildOptions&)> change;
    std::vector<std::wstring> shown;
    const wchar_t* traced = nullptr;
  } cases[] = {
      {"empty destination before the address",
       [](BuildOptions& o) {
         o.destination.clear();
         o.alternateConnection = true;
         o.alternateIp = L"0.0.0.0";
       },
       {kPathError}},
      {"missing destination", [&](BuildOptions& o) { o.destination = dir_ / L"missing"; }, {kPathError}},
      {"destination is a file", [&](BuildOptions& o) { o.destination = aFile; }, {kPathError}},
      {"destination and name beyond 259 characters", at(longest), {kPathError}, L"too long"},
      {"destination, name and .tmp at 259 characters", at(fitting), {avQuestion}},
      {"relative folder", at(L"out"), {kPathError}, L"is not absolute"},
      {"current folder", at(L"."), {kPathError}, L"is not absolute"},
      {"drive-relative folder", at(dir_.path().substr(0, 2) + L"out"), {kPathError}, L"is not absolute"},
      {"folder below the current drive's root", at(dir_.path().substr(2)), {kPathError}, L"is not absolute"},
      {"device path", at(L"\\\\?\\" + dir_.path()), {kPathError}, L"is not absolute"},
      {"the packer folder", at(packer), {kPathError}, L"lies in the server's build folders"},
      {"the packer folder, short and in lower case",
       at(CharLowerW(ShortForm(packer).data())),
       {kPathError},
       L"lies in the server's build folders"},
      {"the packer folder reached through ..",
       at(packer + L"\\64\\..\\"),
       {kPathError},
       L"lies in the server's build folders"},
      {"the packer folder under a second name",
       at(SecondName(packer)),
       {kPathError},
       L"lies in the server's build folders"},
      {"inside the web build folder under a second name",
       at(SecondName(server_ + L"\\Web\\Build\\cnmac")),
       {kPathError},
       L"lies in the server's build folders"},
      {"the 64-bit packer folder", at(packer + L"\\64"), {kPathError}, L"lies in the server's build folders"},
      {"the working folder", at(WorkFolder()), {kPathError}, L"lies in the server's build folders"},
      {"the web build folder",
       at(server_ + L"\\Web\\Build"),
       {kPathError},
       L"lies in the server's build folders"},
      {"inside the web build folder",
       at(server_ + L"\\Web\\Build\\cnmac"),
       {kPathError},
       L"lies in the server's build folders"},
      {"blank IP address",
       [](BuildOptions& o) {
         o.alternateConnection = true;
         o.alternateIp = L"0.0.0.0";
       },
       {kIpError}},
      {"empty domain",
       [](BuildOptions& o) {
         o.alternateConnection = true;
         o.alternateByDomainName = true;
       },
       {kDomainError}},
      {"domain of 256 characters",
       [](BuildOptions& o) {
         o.alternateConnection = true;
         o.alternateByDomainName = true;
         o.alternateDomain = std::wstring(256, L'h');
       },
       {kDomainError}},
      {"domain with a space",
       [](BuildOptions& o) {
         o.alternateConnection = true;
         o.alternateByDomainName = true;
         o.alternateDomain = L"hes srv.example";
       },
       {kDomainError}},
      {"domain with a tab",
       [](BuildOptions& o) {
         o.alternateConnection = true;
         o.alternateByDomainName = true;
         o.alternateDomain = L"hes\tsrv";
       },
       {kDomainError}},
      {"No to the antivirus question",
       [](BuildOptions& o) { o.setupTypeIndex = kSetupExe64; },
       {L"Creating client agent installer including Halvane will take some time.\n Do you wish to "
        L"continue?"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ScriptedBuildUi ui({IDNO});
    BuildOptions options = options_;
    c.change(options);
    trace_.Clear();
    const CreateResult result = Create(options, ui);
    EXPECT_EQ(ui.texts(), c.shown);
    // A refusal ends the Create with its message; the No to the question with none.
    if (c.shown.back() == avQuestion) {
      EXPECT_EQ(result.outcome, CreateOutcome::kDeclined);
      EXPECT_EQ(result.messageId, uitext::kOwnText);
    } else {
      EXPECT_EQ(result.outcome, CreateOutcome::kRefused);
      EXPECT_EQ(result.messageId, ui.ids.back());
      EXPECT_EQ(result.message, c.shown.back());
    }
    if (c.traced != nullptr) {
      EXPECT_TRUE(trace_.Contains(c.traced)) << testing::PrintToString(trace_.Text());
    }
    EXPECT_TRUE(IsFolder(WorkFolder())) << "the working folder is not touched";
    ::RemoveDirectoryW(WorkFolder().c_str());
    ExpectNothingLeft();
    ASSERT_TRUE(::CreateDirectoryW(WorkFolder().c_str(), nullptr));
  }
}

TEST_F(WindowsBuildTest, AddressesAcceptedAtTheirLimits) {
  BuildOptions options = options_;
  options.alternateConnection = true;
  options.alternateByDomainName = true;
  options.alternateDomain = std::wstring(255, L'h');
  std::wstring address = L"stale";
  EXPECT_EQ(ValidateAlternateAddress(options, &address), nullptr);
  EXPECT_EQ(address, options.alternateDomain);
  options.alternateByDomainName = false;
  options.alternateIp = L"10.1.2.3";
  EXPECT_EQ(ValidateAlternateAddress(options, &address), nullptr);
  EXPECT_EQ(address, L"10.1.2.3");
  options.alternateConnection = false;
  options.alternateIp = L"0.0.0.0";
  EXPECT_EQ(ValidateAlternateAddress(options, &address), nullptr);
  EXPECT_EQ(address, L"");
}

TEST_F(WindowsBuildTest, MsiBuildsHoldThePlanFilesAndSettings) {
  for (const int bits : {32, 64}) {
    SCOPED_TRACE(bits);
    const std::wstring output = bits == 64 ? L"wsnode64.msi" : L"wsnode32.msi";
    testsupport::ScriptedBuildUi ui;
    // The plan as the database was made from it, read when success is shown.
    std::wstring planSetup, planEntry;
    ui.onShow = [&](const wchar_t*) {
      wchar_t value[MAX_PATH] = L"";
      const std::wstring plan = WorkFolder() + L"\\pkgplan.ini";
      ::GetPrivateProfileStringW(L"CLIENT_INSTALLER", L"SETUP", L"", value, MAX_PATH, plan.c_str());
      planSetup = value;
      ::GetPrivateProfileStringW(L"CLIENT_PACKAGE", L"0", L"", value, MAX_PATH, plan.c_str());
      planEntry = value;
    };
    // The 64-bit build goes to a folder whose name only begins with the web build folder's.
    destination_ = bits == 64 ? server_ + L"\\Web\\Build out" : dir_ / L"out";
    ::CreateDirectoryW(destination_.c_str(), nullptr);
    // A working folder left by an interrupted run, an older installer at the destination, and the
    // temporary file of a run that crashed while replacing it.
    ::CreateDirectoryW(WorkFolder().c_str(), nullptr);
    ::CreateDirectoryW((WorkFolder() + L"\\stale").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(WorkFolder() + L"\\stale\\old.txt", "old"));
    ASSERT_TRUE(WriteBytes(destination_ + L"\\" + output, "older installer"));
    ASSERT_TRUE(WriteBytes(destination_ + L"\\" + output + L".tmp", "partial"));
    Choose(kPackageCustom, kPlatformWindows, bits == 64 ? kSetupMsi64 : kSetupMsi32, kAntivirusYes);
    options_.alternateConnection = true;
    options_.alternateIp = L"10.1.2.3";
    options_.destination = destination_ + L"\\";
    ASSERT_TRUE(Build(ui));
    EXPECT_EQ(ui.texts(), std::vector<std::wstring>{output + L" has been created successfully."});
    EXPECT_EQ(ui.ids, std::vector<UINT>{uitext::kSetupCreated.id});
    const std::vector<std::pair<BuildStage, bool>> stages = {
        {BuildStage::kWriteRecord, true},   {BuildStage::kWriteRecord, false},
        {BuildStage::kGatherPayload, true}, {BuildStage::kGatherPayload, false},
        {BuildStage::kBuildMsi, true},      {BuildStage::kBuildMsi, false},
        {BuildStage::kCommit, true},        {BuildStage::kCommit, false}};
    EXPECT_TRUE(ui.stages == stages) << "stages in their order, each started and ended";
    ExpectNothingLeft({output});

    const auto rows = BinaryRows(destination_ + L"\\" + output);
    const std::wstring setup = bits == 64 ? L"NDSETP64.EXE" : L"NODESETP.EXE";
    EXPECT_EQ(planSetup, setup);
    EXPECT_EQ(planEntry, setup);
    const std::wstring packer = Packer(bits);
    const std::map<std::wstring, std::wstring> sources = {
        {setup, server_ + L"\\Web\\Build\\" + setup},
        {L"sysprobe.dll", packer + L"\\sysprobe.dll"},
        {L"verkit.dll", packer + L"\\verkit.dll"},
        {L"build.cnf", packer + L"\\build.cnf"},
        {L"uistr.dll", bits == 64 ? packer + L"\\uistr.dll" : layout_.programFolder + L"\\uistr.dll"},
        {L"nodehelp.dll", packer + L"\\nodehelp.dll"},
        {L"instctl.dll", packer + L"\\instctl.dll"},
        {L"afterins.exe", packer + L"\\afterins.exe"},
    };
    for (const auto& [name, source] : sources) {
      ASSERT_TRUE(rows.count(name)) << testing::PrintToString(name);
      EXPECT_EQ(rows.at(name), ReadBytes(source)) << testing::PrintToString(name);
    }
    EXPECT_EQ(rows.size(), sources.size() + 3) << "plan rows, wsnode.ini, rpinfo.dat, the template's row";
    const std::wstring settings = Utf16(rows.at(L"wsnode.ini"));
    for (const wchar_t* line : {L"preset_group_id={5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}\r\n",
                                L"SERVER_IP=10.1.2.3\r\n", L"clntinstnetwk=2\r\n", L"SERVER_PORT=4343\r\n"}) {
      EXPECT_NE(settings.find(line), std::wstring::npos) << testing::PrintToString(line);
    }
    const std::wstring record = dir_ / L"rpinfo.dat";
    ASSERT_TRUE(WriteBytes(record, rows.at(L"rpinfo.dat")));
    EXPECT_TRUE(VerifyRPInfoDatFile(record.c_str()));
    ::DeleteFileW((destination_ + L"\\" + output).c_str());
  }
}

// One fault per row, in an EXE or an MSI build, each with a previous installer at the
// destination: the row's message, and afterwards every file of the server, the program and the
// destination exactly as before (so no partial installer, no temporary file, nothing left in
// the served folders), except the stale files the build must remove.
TEST_F(WindowsBuildTest, FaultsShowTheirMessageAndLeaveEveryFileAsItWas) {
  const std::vector<std::wstring> failed = {kSetupError};
  const std::vector<std::wstring> asked = {kPasswordQuestion, kSetupError};
  const std::wstring plan = server_ + L"\\Web\\Build\\pkgplan.ini";
  const std::wstring exe = destination_ + L"\\wsnode32.exe", msi = destination_ + L"\\wsnode32.msi";
  const std::wstring packed = Packer(32) + L"\\wsnode32.exe", password = layout_.programFolder + L"\\pwd.dat";
  using Plant = std::function<void()>;
  const auto file = [](std::wstring path, std::string bytes) -> Plant {
    return [=] { ASSERT_TRUE(WriteBytes(path, bytes)); };
  };
  const auto folder = [](std::wstring path) -> Plant {
    return [=] { ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)); };
  };
  const auto entry = [&](const wchar_t* key, std::wstring value) -> Plant {
    return [=] {
      ASSERT_TRUE(::WritePrivateProfileStringW(L"CLIENT_PACKAGE", key, value.c_str(), plan.c_str()));
    };
  };
  const auto both = [](Plant a, Plant b) -> Plant { return [=] { a(), b(); }; };
  const Plant packsNothing = file(Packer(32) + L"\\pack.none", "");
  const Plant earlierSetup = file(packed, "earlier setup");
  const Plant noSevenZipFolder = [&] {
    ASSERT_TRUE(::RemoveDirectoryW((layout_.programFolder + L"\\clPacker").c_str()));
  };
  const Plant folderForInstaller = [&] {
    ASSERT_TRUE(::DeleteFileW(msi.c_str()));
    ASSERT_TRUE(::CreateDirectoryW(msi.c_str(), nullptr));
  };
  enum Kind { kExe32, kExe64, kMsi32 };
  enum Then { kNothing, kNotShown, kLockWhileAsked };
  const struct {
    const char* name;
    Kind kind;
    std::vector<std::wstring> omit;
    Plant plant;        // before the snapshot; may be empty
    std::wstring held;  // opened after the snapshot for the build; empty: none
    DWORD share;        // of the held file
    std::vector<std::wstring> shown;
    const wchar_t* traced;
    std::vector<std::wstring> goes = {};  // planted files the build must remove
    Then then = kNothing;
  } rows[] = {
      // The previous installer cannot be replaced: it stays as it was.
      {"EXE: previous installer held with read and delete sharing",
       kExe32,
       {},
       {},
       exe,
       FILE_SHARE_READ | FILE_SHARE_DELETE,
       asked,
       L"MoveFileEx failed"},
      {"MSI: previous installer held with read and delete sharing",
       kMsi32,
       {},
       {},
       msi,
       FILE_SHARE_READ | FILE_SHARE_DELETE,
       failed,
       L"MoveFileEx failed"},
      {"EXE: previous installer locked", kExe32, {}, {}, exe, 0, asked, L"MoveFileEx failed"},
      {"MSI: previous installer locked", kMsi32, {}, {}, msi, 0, failed, L"MoveFileEx failed"},
      {"MSI: a folder where the installer goes",
       kMsi32,
       {},
       folderForInstaller,
       L"",
       0,
       failed,
       L"MoveFileEx failed"},
      {"EXE: a crashed run's temporary file locked",
       kExe32,
       {},
       file(exe + L".tmp", "partial"),
       exe + L".tmp",
       0,
       failed,
       L"Cannot remove the leftover"},
      {"MSI: a folder where the temporary file goes",
       kMsi32,
       {},
       folder(msi + L".tmp"),
       L"",
       0,
       failed,
       L"Cannot remove the leftover"},
      // A setup asked to be protected is never made without its password.
      {"EXE: the password dialog cannot be shown",
       kExe32,
       {},
       {},
       L"",
       0,
       asked,
       L"The password dialog could not be shown",
       {},
       kNotShown},
      {"EXE: an earlier password file locked",
       kExe32,
       {},
       file(password, std::string(40, 'p')),
       password,
       0,
       failed,
       L"Deletefile failed for"},
      // A plan that names nothing, or something outside the working folder.
      {"MSI: negative file count",
       kMsi32,
       {},
       entry(L"FILE_COUNT", L"-1"),
       L"",
       0,
       failed,
       L"FILE_COUNT -1 is negative"},
      {"MSI: entry naming a folder",
       kMsi32,
       {},
       entry(L"3", L"sub\\"),
       L"",
       0,
       failed,
       L"names no file below the working folder"},
      {"MSI: entry climbing out of the working folder",
       kMsi32,
       {},
       entry(L"3", L"..\\..\\..\\Web\\Build\\tmhostsv.exe"),
       L"",
       0,
       failed,
       L"names no file below the working folder"},
      {"MSI: entry with a drive",
       kMsi32,
       {},
       entry(L"3", server_ + L"\\Web\\Build\\tmhostsv.exe"),
       L"",
       0,
       failed,
       L"names no file below the working folder"},
      // Stale setups in the packer folder never pass for this build's.
      {"EXE: the packer writes nothing, an earlier setup there",
       kExe32,
       {},
       both(packsNothing, earlierSetup),
       L"",
       0,
       asked,
       L"missing or empty after packing",
       {L"Tools\\clPacker\\wsnode32.exe"}},
      {"EXE: the packer writes nothing, an earlier setup locked there",
       kExe32,
       {},
       both(packsNothing, earlierSetup),
       packed,
       0,
       failed,
       L"Cannot delete the earlier setup"},
      // Failing children.
      {"EXE: packer fails after writing its setup",
       kExe32,
       {},
       file(Packer(32) + L"\\pack.fail", ""),
       L"",
       0,
       asked,
       L"pack.exe failed (exit code 5)"},
      {"EXE 64-bit: packer fails after writing its setup",
       kExe64,
       {},
       file(Packer(64) + L"\\pack.fail", ""),
       L"",
       0,
       asked,
       L"pack.exe failed (exit code 5)"},
      {"EXE: packer missing",
       kExe32,
       {L"Tools\\clPacker\\pack.exe"},
       {},
       L"",
       0,
       asked,
       L"ExecFile failed for :"},
      {"EXE: packer's module missing: no setup written",
       kExe32,
       {L"Tools\\clPacker\\7z.sfx"},
       {},
       L"",
       0,
       asked,
       L"pack.exe failed (exit code 4)"},
      {"EXE: 7-Zip leaves out a locked file",
       kExe32,
       {},
       {},
       L"",
       0,
       asked,
       L"7z failed (exit code 1)",
       {},
       kLockWhileAsked},
      {"EXE: 7-Zip cannot be written out",
       kExe32,
       {},
       noSevenZipFolder,
       L"",
       0,
       asked,
       L"ExtractResourceToDisk(7z.dll) failed"},
      // Failing library.
      {"EXE: the data library fails",
       kExe32,
       {},
       file(server_ + L"\\cnsldata.fail", "OpenDatabase\r\n"),
       L"",
       0,
       failed,
       L"CreateRPInfoDatFileForClientPackager failed."},
      {"MSI: the data library fails",
       kMsi32,
       {},
       file(server_ + L"\\cnsldata.fail", "GetDataByType\r\n"),
       L"",
       0,
       failed,
       L"CreateRPInfoDatFileForClientPackager failed."},
      // Missing server files, and a working folder that cannot be made or emptied.
      {"MSI: payload file missing",
       kMsi32,
       {L"Web\\Build\\NODESETP.EXE"},
       {},
       L"",
       0,
       failed,
       L"Copyfile failed for nodesetp"},
      {"EXE: payload file missing",
       kExe32,
       {L"Tools\\clPacker\\Deploy.exe"},
       {},
       L"",
       0,
       failed,
       L"Copyfile failed for deploy.exe"},
      {"MSI: template database missing",
       kMsi32,
       {L"Tools\\clPacker\\template.msi"},
       {},
       L"",
       0,
       failed,
       L"File Copy failed."},
      {"MSI: plan missing", kMsi32, {L"Web\\Build\\pkgplan.ini"}, {}, L"", 0, failed, L"File Copy failed."},
      {"EXE: a file where the working folder goes",
       kExe32,
       {},
       file(WorkFolder(), "not a folder"),
       L"",
       0,
       failed,
       L"CreateDirectory failed"},
      {"MSI: a locked file in the working folder",
       kMsi32,
       {},
       both(folder(WorkFolder()), file(WorkFolder() + L"\\stale.txt", "stale")),
       WorkFolder() + L"\\stale.txt",
       0,
       failed,
       L"Cannot empty the working folder"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testsupport::RemoveTree(server_);
    testsupport::RemoveTree(destination_);
    LayOut(row.omit);
    const int setupType = row.kind == kMsi32 ? kSetupMsi32 : row.kind == kExe64 ? kSetupExe64 : kSetupExe32;
    Choose(kPackageCustom, kPlatformWindows, setupType, kAntivirusNo);
    ASSERT_TRUE(WriteBytes(
        destination_ + L"\\" +
            BuildOutputName(DeriveBuildKind(kPackageCustom, kPlatformWindows, setupType, kAntivirusNo)),
        std::string(123456, 'P')));
    if (row.plant) {
      row.plant();
    }
    auto before = Snapshot();
    for (const std::wstring& path : row.goes) {
      ASSERT_EQ(before.erase(path), 1u) << testing::PrintToString(path);
    }
    fw::UniqueKernelHandle held;
    if (!row.held.empty()) {
      held.reset(
          ::CreateFileW(row.held.c_str(), GENERIC_READ, row.share, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held.valid());
    }
    testsupport::ScriptedBuildUi ui({IDYES});
    ui.password = [&](passwordfile::Password&) {
      return row.then == kNotShown ? PasswordAnswer::kNotShown : PasswordAnswer::kCancelled;
    };
    ui.onShow = [&](const wchar_t* text) {
      if (row.then == kLockWhileAsked && text == kPasswordQuestion) {
        held.reset(::CreateFileW((WorkFolder() + L"\\wsnode.ini").c_str(), GENERIC_READ, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(held.valid());
      }
      if (text == kSetupError && row.then == kLockWhileAsked) {
        held.reset();  // whatever held it lets go once the failure shows
      }
    };
    trace_.Clear();
    const CreateResult result = Create(options_, ui);
    EXPECT_EQ(result.outcome, CreateOutcome::kFailed);
    EXPECT_EQ(result.messageId, uitext::kErrCreateSetup.id);
    EXPECT_EQ(ui.texts(), row.shown);
    EXPECT_TRUE(trace_.Contains(row.traced)) << testing::PrintToString(trace_.Text());
    held.reset();
    const auto after = Snapshot();
    for (const auto& [path, bytes] : before) {
      const auto found = after.find(path);
      EXPECT_TRUE(found != after.end() && found->second == bytes)
          << "changed or gone: " << testing::PrintToString(path);
    }
    for (const auto& [path, bytes] : after) {
      EXPECT_TRUE(before.count(path)) << "left behind: " << testing::PrintToString(path);
    }
  }
}

}  // namespace
