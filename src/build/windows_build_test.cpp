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

// Every folder and file below `folder`, but for the stand-in packer's record of its run and the
// libraries' journals: they are the stand-ins' records, not the server's files.
std::map<std::wstring, std::string> FilesBelow(const std::wstring& folder) {
  auto files = testsupport::TreeSnapshot(folder);
  std::erase_if(files, [](const auto& file) {
    const std::wstring name = file.first.substr(file.first.find_last_of(L'\\') + 1);
    return name == L"pack.log" || name.ends_with(L".journal");
  });
  return files;
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
    EXPECT_FALSE(FileExists(WorkFolder()));
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

  testsupport::TempDir dir_;
  serverlayout::Result layout_;
  std::wstring server_;
  std::wstring destination_ = dir_ / L"out";
  testsupport::TraceCapture trace_;
  BuildOptions options_;
};

// Each refusal ends the Create with its message, the first check's when several fail, before
// any file work: nothing below the test's folder changes, not even the file an interrupted run
// left in the working folder. The No to the antivirus question ends it with no message at all.
TEST_F(WindowsBuildTest, RefusalsComeInTheirOrderBeforeAnyFileWork) {
  const std::wstring aFile = dir_ / L"a file";
  ASSERT_TRUE(WriteBytes(aFile, "x"));
  // The longest folder that can be created, and one whose installer and its temporary name just
  // fit.
  const std::wstring longest = FolderOfLength(dir_ / L"long", MAX_PATH - 13);
  const std::wstring fitting = FolderOfLength(dir_ / L"fit", MAX_PATH - 1 - 13 - 4);
  const std::wstring packer = server_ + L"\\Tools\\clPacker";
  ASSERT_TRUE(::CreateDirectoryW(WorkFolder().c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(WorkFolder() + L"\\wsnode.ini", "an interrupted run's settings"));
  constexpr UINT kPath = uitext::kErrInvalidPath.id, kIp = uitext::kErrInvalidIp.id;
  constexpr UINT kDomain = uitext::kErrInvalidDomain.id, kDeclined = uitext::kOwnText;
  const wchar_t* const inBuildFolders = L"lies in the server's build folders";
  const auto at = [](const std::wstring& folder) {
    return [folder](BuildOptions& o) { o.destination = folder; };
  };
  const auto ip = [](const std::wstring& address) {
    return [address](BuildOptions& o) {
      o.alternateConnection = true;
      o.alternateIp = address;
    };
  };
  const auto domain = [](const std::wstring& name) {
    return [name](BuildOptions& o) {
      o.alternateConnection = true;
      o.alternateByDomainName = true;
      o.alternateDomain = name;
    };
  };
  const struct {
    const char* name;
    std::function<void(BuildOptions&)> change;
    UINT refusal;  // the ID of the message that ends the Create; kDeclined: the question's No
    const wchar_t* traced = nullptr;
  } cases[] = {
      {"empty destination before the address",
       [&](BuildOptions& o) {
         ip(L"0.0.0.0")(o);
         o.destination.clear();
       },
       kPath},
      {"missing destination", at(dir_ / L"missing"), kPath},
      {"destination is a file", at(aFile), kPath},
      {"destination and name beyond 259 characters", at(longest), kPath, L"too long"},
      {"destination, name and .tmp at 259 characters", at(fitting), kDeclined},
      {"relative folder", at(L"out"), kPath, L"is not absolute"},
      {"current folder", at(L"."), kPath, L"is not absolute"},
      {"drive-relative folder", at(dir_.path().substr(0, 2) + L"out"), kPath, L"is not absolute"},
      {"folder below the current drive's root", at(dir_.path().substr(2)), kPath, L"is not absolute"},
      {"device path", at(L"\\\\?\\" + dir_.path()), kPath, L"is not absolute"},
      {"the packer folder", at(packer), kPath, inBuildFolders},
      {"the packer folder, short and in lower case", at(CharLowerW(ShortForm(packer).data())), kPath,
       inBuildFolders},
      {"the packer folder reached through ..", at(packer + L"\\64\\..\\"), kPath, inBuildFolders},
      {"the packer folder under a second name", at(SecondName(packer)), kPath, inBuildFolders},
      {"inside the web build folder under a second name", at(SecondName(server_ + L"\\Web\\Build\\cnmac")),
       kPath, inBuildFolders},
      {"the 64-bit packer folder", at(packer + L"\\64"), kPath, inBuildFolders},
      {"the working folder", at(WorkFolder()), kPath, inBuildFolders},
      {"the web build folder", at(server_ + L"\\Web\\Build"), kPath, inBuildFolders},
      {"inside the web build folder", at(server_ + L"\\Web\\Build\\cnmac"), kPath, inBuildFolders},
      {"blank IP address", ip(L"0.0.0.0"), kIp},
      {"empty domain", domain(L""), kDomain},
      {"domain of 256 characters", domain(std::wstring(256, L'h')), kDomain},
      {"domain with a space", domain(L"hes srv.example"), kDomain},
      {"domain with a tab", domain(L"hes\tsrv"), kDomain},
      {"No to the antivirus question", [](BuildOptions& o) { o.setupTypeIndex = kSetupExe64; }, kDeclined},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ScriptedBuildUi ui({IDNO});
    BuildOptions options = options_;
    c.change(options);
    trace_.Clear();
    const auto before = FilesBelow(dir_.path());
    const CreateResult result = Create(options, ui);
    EXPECT_EQ(result.messageId, c.refusal);
    if (c.refusal == kDeclined) {
      EXPECT_EQ(result.outcome, CreateOutcome::kDeclined);
      EXPECT_EQ(ui.questions, std::vector<BuildQuestion>{BuildQuestion::kTakesSomeTime});
      EXPECT_EQ(ui.ids, std::vector<UINT>{});
    } else {
      EXPECT_EQ(result.outcome, CreateOutcome::kRefused);
      EXPECT_EQ(ui.questions, std::vector<BuildQuestion>{});
      EXPECT_EQ(ui.ids, std::vector<UINT>{c.refusal});
      EXPECT_EQ(ui.texts(), std::vector<std::wstring>{result.message}) << "the result says what was shown";
    }
    if (c.traced != nullptr) {
      EXPECT_TRUE(trace_.Contains(c.traced)) << testing::PrintToString(trace_.Text());
    }
    EXPECT_EQ(L"", testsupport::TreeDifferences(before, FilesBelow(dir_.path())));
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
    // The plan as the database was made from it, read when success is shown, and what the
    // success names.
    std::wstring planSetup, planEntry;
    std::vector<std::wstring> named;
    ui.onShow = [&](const BuildMessage& message) {
      named = message.arguments;
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
    EXPECT_EQ(ui.ids, std::vector<UINT>{uitext::kSetupCreated.id});
    EXPECT_EQ(named, std::vector<std::wstring>{output});
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
    const std::wstring settings = testsupport::DecodeUtf16(rows.at(L"wsnode.ini"));
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
// destination: the failure's message, and afterwards every file of the server, the program and
// the destination exactly as before (so no partial installer, no temporary file, nothing left in
// the served folders), except the stale files the build must remove.
TEST_F(WindowsBuildTest, FaultsShowTheirMessageAndLeaveEveryFileAsItWas) {
  // Whether the password question comes before the failure.
  constexpr bool failed = false, asked = true;
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
    bool asksPassword;
    const wchar_t* traced;
    Plant plant = {};  // before the snapshot
    std::vector<std::wstring> omit = {};
    std::wstring held = {};               // opened after the snapshot for the build; empty: none
    DWORD share = 0;                      // of the held file
    std::vector<std::wstring> goes = {};  // planted files the build must remove
    Then then = kNothing;
  } rows[] = {
      // The previous installer cannot be replaced: it stays as it was.
      {"EXE: previous installer held with read and delete sharing",
       kExe32,
       asked,
       L"MoveFileEx failed",
       {},
       {},
       exe,
       FILE_SHARE_READ | FILE_SHARE_DELETE},
      {"MSI: previous installer held with read and delete sharing",
       kMsi32,
       failed,
       L"MoveFileEx failed",
       {},
       {},
       msi,
       FILE_SHARE_READ | FILE_SHARE_DELETE},
      {"EXE: previous installer locked", kExe32, asked, L"MoveFileEx failed", {}, {}, exe},
      {"MSI: previous installer locked", kMsi32, failed, L"MoveFileEx failed", {}, {}, msi},
      {"MSI: a folder where the installer goes", kMsi32, failed, L"MoveFileEx failed", folderForInstaller},
      {"EXE: a crashed run's temporary file locked",
       kExe32,
       failed,
       L"Cannot remove the leftover",
       file(exe + L".tmp", "partial"),
       {},
       exe + L".tmp"},
      {"MSI: a folder where the temporary file goes", kMsi32, failed, L"Cannot remove the leftover",
       folder(msi + L".tmp")},
      // A setup asked to be protected is never made without its password.
      {"EXE: the password dialog cannot be shown",
       kExe32,
       asked,
       L"The password dialog could not be shown",
       {},
       {},
       {},
       0,
       {},
       kNotShown},
      {"EXE: an earlier password file locked",
       kExe32,
       failed,
       L"Deletefile failed for",
       file(password, std::string(40, 'p')),
       {},
       password},
      // A plan that names nothing, or something outside the working folder.
      {"MSI: negative file count", kMsi32, failed, L"FILE_COUNT -1 is negative", entry(L"FILE_COUNT", L"-1")},
      {"MSI: entry naming a folder", kMsi32, failed, L"names no file below the working folder",
       entry(L"3", L"sub\\")},
      {"MSI: entry climbing out of the working folder", kMsi32, failed,
       L"names no file below the working folder", entry(L"3", L"..\\..\\..\\Web\\Build\\tmhostsv.exe")},
      {"MSI: entry with a drive", kMsi32, failed, L"names no file below the working folder",
       entry(L"3", server_ + L"\\Web\\Build\\tmhostsv.exe")},
      // Stale setups in the packer folder never pass for this build's.
      {"EXE: the packer writes nothing, an earlier setup there",
       kExe32,
       asked,
       L"missing or empty after packing",
       both(packsNothing, earlierSetup),
       {},
       {},
       0,
       {packed}},
      {"EXE: the packer writes nothing, an earlier setup locked there",
       kExe32,
       failed,
       L"Cannot delete the earlier setup",
       both(packsNothing, earlierSetup),
       {},
       packed},
      // Failing children.
      {"EXE: packer fails after writing its setup", kExe32, asked, L"pack.exe failed (exit code 5)",
       file(Packer(32) + L"\\pack.fail", "")},
      {"EXE 64-bit: packer fails after writing its setup", kExe64, asked, L"pack.exe failed (exit code 5)",
       file(Packer(64) + L"\\pack.fail", "")},
      {"EXE: packer missing", kExe32, asked, L"ExecFile failed for :", {}, {L"Tools\\clPacker\\pack.exe"}},
      {"EXE: packer's module missing: no setup written",
       kExe32,
       asked,
       L"pack.exe failed (exit code 4)",
       {},
       {L"Tools\\clPacker\\7z.sfx"}},
      {"EXE: 7-Zip leaves out a locked file",
       kExe32,
       asked,
       L"7z failed (exit code 1)",
       {},
       {},
       {},
       0,
       {},
       kLockWhileAsked},
      {"EXE: 7-Zip cannot be written out", kExe32, asked, L"ExtractResourceToDisk(7z.dll) failed",
       noSevenZipFolder},
      // Failing library.
      {"EXE: the data library fails", kExe32, failed, L"CreateRPInfoDatFileForClientPackager failed.",
       file(server_ + L"\\cnsldata.fail", "OpenDatabase\r\n")},
      {"MSI: the data library fails", kMsi32, failed, L"CreateRPInfoDatFileForClientPackager failed.",
       file(server_ + L"\\cnsldata.fail", "GetDataByType\r\n")},
      // Missing server files, and a working folder that cannot be made or emptied.
      {"MSI: payload file missing",
       kMsi32,
       failed,
       L"Copyfile failed for nodesetp",
       {},
       {L"Web\\Build\\NODESETP.EXE"}},
      {"EXE: payload file missing",
       kExe32,
       failed,
       L"Copyfile failed for deploy.exe",
       {},
       {L"Tools\\clPacker\\Deploy.exe"}},
      {"MSI: template database missing",
       kMsi32,
       failed,
       L"File Copy failed.",
       {},
       {L"Tools\\clPacker\\template.msi"}},
      {"MSI: plan missing", kMsi32, failed, L"File Copy failed.", {}, {L"Web\\Build\\pkgplan.ini"}},
      {"EXE: a file where the working folder goes", kExe32, failed, L"CreateDirectory failed",
       file(WorkFolder(), "not a folder")},
      {"MSI: a locked file in the working folder",
       kMsi32,
       failed,
       L"Cannot empty the working folder",
       both(folder(WorkFolder()), file(WorkFolder() + L"\\stale.txt", "stale")),
       {},
       WorkFolder() + L"\\stale.txt"},
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
    auto before = FilesBelow(dir_.path());
    for (const std::wstring& path : row.goes) {
      ASSERT_EQ(before.erase(path.substr(dir_.path().size() + 1)), 1u) << testing::PrintToString(path);
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
    ui.onShow = [&](const BuildMessage& message) {
      if (row.then == kLockWhileAsked && message.id() == uitext::kAskPasswordProtect.id) {
        held.reset(::CreateFileW((WorkFolder() + L"\\wsnode.ini").c_str(), GENERIC_READ, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(held.valid());
      }
      if (row.then == kLockWhileAsked && message.id() == uitext::kErrCreateSetup.id) {
        held.reset();  // whatever held it lets go once the failure shows
      }
    };
    trace_.Clear();
    const CreateResult result = Create(options_, ui);
    EXPECT_EQ(result.outcome, CreateOutcome::kFailed);
    EXPECT_EQ(result.messageId, uitext::kErrCreateSetup.id);
    EXPECT_EQ(ui.ids, std::vector<UINT>{uitext::kErrCreateSetup.id});
    EXPECT_EQ(ui.questions, row.asksPassword ? std::vector<BuildQuestion>{BuildQuestion::kProtectWithPassword}
                                             : std::vector<BuildQuestion>{});
    EXPECT_TRUE(trace_.Contains(row.traced)) << testing::PrintToString(trace_.Text());
    held.reset();
    EXPECT_EQ(L"", testsupport::TreeDifferences(before, FilesBelow(dir_.path())));
  }
}

}  // namespace
