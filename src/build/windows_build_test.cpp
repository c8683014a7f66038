// Windows builds on a stand-in server laid out in a temporary folder whose name has spaces and
// parentheses, with the window side scripted.

#include "build/windows_build.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "uitext/ui_text.h"
#include "framework/handles.h"
#include "layout/server_layout.h"
#include "serverinfo/rpinfo_file.h"
#include "support/msi_rows.h"
#include "support/scripted_build_ui.h"
#include "support/temp_dir.h"

namespace {

using testsupport::BinaryRows;
using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

const std::wstring kPathError = L"Please specify a valid path.";
const std::wstring kSetupError = L"Error in creating setup";
const std::wstring kIpError = L"Please specify a valid IP Address.";
const std::wstring kDomainError = L"Please specify a valid Domain Name.";

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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

  bool Build() {
    BuildOptions options = options_;
    PrepareCreate(options);
    return CreateClientSetupExe(options, ui_, (layout_.programFolder + L"\\").c_str());
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

  testsupport::TempDir dir_;
  serverlayout::Result layout_;
  std::wstring server_;
  std::wstring destination_ = dir_ / L"out";
  BuildOptions options_;
  testsupport::ScriptedBuildUi ui_;
};

TEST_F(WindowsBuildTest, RefusalsComeInTheirOrderBeforeAnyFileWork) {
  const std::wstring aFile = dir_ / L"a file";
  ASSERT_TRUE(WriteBytes(aFile, "x"));
  const struct {
    const char* name;
    std::function<void(BuildOptions&)> change;
    std::vector<std::wstring> shown;
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
      {"destination and name beyond 259 characters",
       [&](BuildOptions& o) { o.destination = L"C:\\" + std::wstring(243, L'd'); },
       {kPathError}},
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
    PrepareCreate(options);
    EXPECT_FALSE(CreateClientSetupExe(options, ui, (layout_.programFolder + L"\\").c_str()));
    EXPECT_EQ(ui.texts(), c.shown);
    ExpectNothingLeft();
  }
}

TEST_F(WindowsBuildTest, AddressesAcceptedAtTheirLimits) {
  BuildOptions options = options_;
  options.alternateConnection = true;
  options.alternateByDomainName = true;
  options.alternateDomain = std::wstring(255, L'h');
  EXPECT_EQ(PrepareCreate(options), nullptr);
  EXPECT_EQ(options.alternateAddress, options.alternateDomain);
  options.alternateByDomainName = false;
  options.alternateIp = L"10.1.2.3";
  EXPECT_EQ(PrepareCreate(options), nullptr);
  EXPECT_EQ(options.alternateAddress, L"10.1.2.3");
  options.alternateConnection = false;
  options.alternateIp = L"0.0.0.0";
  EXPECT_EQ(PrepareCreate(options), nullptr);
  EXPECT_EQ(options.alternateAddress, L"");
}

TEST_F(WindowsBuildTest, MsiBuildsHoldThePlanFilesAndSettings) {
  for (const int bits : {32, 64}) {
    SCOPED_TRACE(bits);
    const std::wstring output = bits == 64 ? L"wsnode64.msi" : L"wsnode32.msi";
    testsupport::ScriptedBuildUi ui;
    // A working folder left by an interrupted run, and an older installer at the destination.
    ::CreateDirectoryW(WorkFolder().c_str(), nullptr);
    ::CreateDirectoryW((WorkFolder() + L"\\stale").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(WorkFolder() + L"\\stale\\old.txt", "old"));
    ASSERT_TRUE(WriteBytes(destination_ + L"\\" + output, "older installer"));
    Choose(kPackageCustom, kPlatformWindows, bits == 64 ? kSetupMsi64 : kSetupMsi32, kAntivirusYes);
    options_.alternateConnection = true;
    options_.alternateIp = L"10.1.2.3";
    options_.destination = destination_ + L"\\";
    BuildOptions options = options_;
    PrepareCreate(options);
    ASSERT_TRUE(CreateClientSetupExe(options, ui, (layout_.programFolder + L"\\").c_str()));
    EXPECT_EQ(ui.texts(), std::vector<std::wstring>{output + L" has been created successfully."});
    ExpectNothingLeft({output});

    const auto rows = BinaryRows(destination_ + L"\\" + output);
    const std::wstring setup = bits == 64 ? L"NDSETP64.EXE" : L"NODESETP.EXE";
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

TEST_F(WindowsBuildTest, FaultsShowTheErrorAndLeaveNothing) {
  const struct {
    const char* name;
    std::vector<std::wstring> omit;
    bool lockDestination;
  } cases[] = {
      {"payload file missing", {L"Web\\Build\\NODESETP.EXE"}, false},
      {"template database missing", {L"Tools\\clPacker\\template.msi"}, false},
      {"plan missing", {L"Web\\Build\\pkgplan.ini"}, false},
      {"destination file locked", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::RemoveTree(server_);
    LayOut(c.omit);
    Choose(kPackageCustom, kPlatformWindows, kSetupMsi32, kAntivirusNo);
    testsupport::ScriptedBuildUi ui;
    const std::wstring held = destination_ + L"\\wsnode32.msi";
    fw::UniqueKernelHandle lock;
    if (c.lockDestination) {
      ASSERT_TRUE(WriteBytes(held, "held"));
      lock.reset(::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(lock.valid());
    }
    BuildOptions options = options_;
    PrepareCreate(options);
    EXPECT_FALSE(CreateClientSetupExe(options, ui, (layout_.programFolder + L"\\").c_str()));
    EXPECT_EQ(ui.texts(), std::vector<std::wstring>{kSetupError});
    lock.reset();
    if (c.lockDestination) {
      EXPECT_EQ(ReadBytes(held), "held");
      ::DeleteFileW(held.c_str());
    }
    ExpectNothingLeft();
  }
}

TEST_F(WindowsBuildTest, PackingFaultsShowTheErrorAndLeaveNothing) {
  const std::wstring question = L"Do you want to create password protected setup?";
  const struct {
    const char* name;
    std::vector<std::wstring> omit;
    const wchar_t* switchFile;  // beside the packer
  } cases[] = {
      {"packer fails after writing its setup", {}, L"pack.fail"},
      {"packer missing", {L"Tools\\clPacker\\pack.exe"}, nullptr},
      {"packer's module missing: no setup written", {L"Tools\\clPacker\\7z.sfx"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::RemoveTree(server_);
    LayOut(c.omit);
    if (c.switchFile != nullptr) {
      ASSERT_TRUE(WriteBytes(Packer(32) + L"\\" + c.switchFile, ""));
    }
    // An installer of an earlier build must not be taken for this one's.
    ASSERT_TRUE(WriteBytes(Packer(32) + L"\\wsnode32.exe", "earlier setup"));
    Choose(kPackageCustom, kPlatformWindows, kSetupExe32, kAntivirusNo);
    testsupport::ScriptedBuildUi ui;
    BuildOptions options = options_;
    PrepareCreate(options);
    EXPECT_FALSE(CreateClientSetupExe(options, ui, (layout_.programFolder + L"\\").c_str()));
    EXPECT_EQ(ui.texts(), (std::vector<std::wstring>{question, kSetupError}));
    EXPECT_FALSE(FileExists(Packer(32) + L"\\wsnode32.exe"));
    ExpectNothingLeft();
  }
}

}  // namespace
