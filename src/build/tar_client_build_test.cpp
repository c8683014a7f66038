#include "build/tar_client_build.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "build/create.h"
#include "build/tar_writer.h"
#include "common/standin_files.h"
#include "handles/handles.h"
#include "layout/server_layout.h"
#include "support/scripted_build_ui.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"
#include "tests/standin_fixture.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

constexpr wchar_t kMacAgentTar[] = L"cnmac\\MCWSNODE.TAR";
constexpr wchar_t kMacAvTar[] = L"cnmac\\MCWSNOAV.TAR";
constexpr wchar_t kLinux32Tar[] = L"heslin32\\LINUXWSNO32.TAR";
constexpr wchar_t kLinux64Tar[] = L"heslin64\\LINUXWSNO64.TAR";
const std::string kPreviousTar = "previous archive";

// Holds a file open without any sharing, as another program may.
fw::UniqueKernelHandle Lock(const std::wstring& path) {
  fw::UniqueKernelHandle handle(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  EXPECT_TRUE(handle.valid()) << "cannot lock " << standin::ToUtf8(path);
  return handle;
}

struct KindFiles {
  BuildKind kind;
  const wchar_t* tar;                  // relative to the web build folder
  const wchar_t* workingFolder;        // relative to the web build folder
  std::vector<std::wstring> borrowed;  // relative to the web build folder
};

const KindFiles& Files(BuildKind kind) {
  static const std::map<BuildKind, KindFiles> files = {
      {BuildKind::MacAv, {BuildKind::MacAv, kMacAvTar, L"MCWSNOAV", {L"MACHOST.DMG", L"MWSNODE.DMG"}}},
      {BuildKind::MacAgent, {BuildKind::MacAgent, kMacAgentTar, L"MCWSNODE", {L"MWSNODE.DMG"}}},
      {BuildKind::Linux32,
       {BuildKind::Linux32, kLinux32Tar, L"heslin32\\LinuxSetup32", {L"heslin32\\heslin32.tar.gz"}}},
      {BuildKind::Linux64,
       {BuildKind::Linux64, kLinux64Tar, L"heslin64\\LinuxSetup64", {L"heslin64\\heslin64.tar.gz"}}},
  };
  return files.at(kind);
}

bool IsMac(BuildKind kind) { return kind == BuildKind::MacAv || kind == BuildKind::MacAgent; }

class TarBuildTest : public standintest::ServerFolderTest {
 public:
  // Lays out the server and points the build's options at it.
  void LayOut(serverlayout::Options options = {}) {
    ServerFolderTest::LayOut(options);
    options_.installFolder = server_ + L"\\";
    options_.webBuildFolder = server_ + L"\\web\\build";
    options_.groupGuid = L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";
    options_.installationMode = 2;
  }

  std::wstring Web(const std::wstring& name) const { return options_.webBuildFolder + L"\\" + name; }

  // Remembers the bytes of every file the build may borrow, to prove none is lost.
  void RememberBorrowable() {
    for (const wchar_t* name :
         {L"MWSNODE.DMG", L"MACHOST.DMG", L"heslin32\\heslin32.tar.gz", L"heslin64\\heslin64.tar.gz"}) {
      if (FileExists(Web(name))) {
        borrowable_[name] = ReadBytes(Web(name));
      }
    }
  }
  void ExpectBorrowableBack(const std::vector<std::wstring>& consumed = {}) const {
    for (const auto& [name, bytes] : borrowable_) {
      const bool gone = std::find(consumed.begin(), consumed.end(), name) != consumed.end();
      if (gone) {
        EXPECT_FALSE(FileExists(Web(name))) << standin::ToUtf8(name) << " was not consumed";
      } else {
        EXPECT_TRUE(ReadBytes(Web(name)) == bytes) << standin::ToUtf8(name) << " is not back as it was";
      }
    }
  }

  bool Run(BuildKind kind, std::deque<int> answers = {}) {
    options_.platformIndex = IsMac(kind) ? kPlatformMac : kPlatformLinux;
    options_.antivirusIndex = kind == BuildKind::MacAv ? kAntivirusYes : kAntivirusNo;
    options_.setupTypeIndex = kind == BuildKind::Linux32 ? kSetupLinux32 : kSetupLinux64;
    prompt_ = testsupport::ScriptedBuildUi(std::move(answers));
    return RunCreate(options_, prompt_, nullptr, L"TarBuildTest").outcome == CreateOutcome::kBuilt;
  }

  // What the build said: the questions it asked, and the IDs of the messages it showed.
  void ExpectSaid(const std::vector<BuildQuestion>& questions, const std::vector<UINT>& ids) const {
    EXPECT_TRUE(questions == prompt_.questions) << prompt_.questions.size() << " question(s) asked";
    EXPECT_EQ(ids, prompt_.ids);
  }

  testsupport::TraceCapture trace_;
  BuildOptions options_;
  testsupport::ScriptedBuildUi prompt_;
  std::map<std::wstring, std::string> borrowable_;
};

TEST_F(TarBuildTest, EveryKindBuildsItsArchiveAndReportsWhereItIs) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  for (BuildKind kind : {BuildKind::MacAv, BuildKind::MacAgent, BuildKind::Linux32, BuildKind::Linux64}) {
    const KindFiles& files = Files(kind);
    SCOPED_TRACE(standin::ToUtf8(files.tar));
    RememberBorrowable();
    ASSERT_TRUE(Run(kind));

    const std::wstring tarRelative = files.tar;
    const size_t slash = tarRelative.find(L'\\');
    ExpectSaid({}, {uitext::kTarCreatedAt.id});
    EXPECT_EQ(
        TableMessage(uitext::kTarCreatedAt, {tarRelative.substr(slash + 1),
                                             options_.webBuildFolder + L"\\" + tarRelative.substr(0, slash)})
            .Format(),
        prompt_.shown().at(0).text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), prompt_.shown().at(0).style & MB_ICONMASK);
    // The Linux build carries no server-info record.
    std::vector<std::pair<BuildStage, bool>> stages = {
        {BuildStage::kGatherPayload, true}, {BuildStage::kGatherPayload, false},
        {BuildStage::kWriteTar, true},      {BuildStage::kWriteTar, false},
        {BuildStage::kCommit, true},        {BuildStage::kCommit, false}};
    if (IsMac(kind)) {
      stages.insert(stages.begin(), {{BuildStage::kWriteRecord, true}, {BuildStage::kWriteRecord, false}});
    }
    EXPECT_TRUE(prompt_.stages == stages) << "stages in their order, each started and ended";
    const std::wstring working = files.workingFolder;
    const std::string folderEntry = standin::ToUtf8(working.substr(working.find_last_of(L'\\') + 1)) + "/";
    EXPECT_EQ(folderEntry, ReadBytes(Web(files.tar)).substr(0, folderEntry.size()));
    EXPECT_FALSE(FileExists(Web(files.tar) + kTemporaryTarSuffix));
    EXPECT_FALSE(FileExists(Web(files.workingFolder)));
    // Disk images go back; the Linux package archive now lives only inside the archive.
    ExpectBorrowableBack(IsMac(kind) ? std::vector<std::wstring>{} : files.borrowed);
    borrowable_.clear();
  }
}

// No changes nothing but the temporary archives of interrupted builds of either kind of the
// platform: they go whatever the answer, as they are partial and lie where endpoints download from.
TEST_F(TarBuildTest, RebuildQuestionNoChangesNothingAndYesReplacesTheArchive) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const struct {
    BuildKind kind;
    const wchar_t* siblingTar;  // the same platform's other kind
  } rows[] = {
      {BuildKind::MacAgent, kMacAvTar},
      {BuildKind::MacAv, kMacAgentTar},
      {BuildKind::Linux64, kLinux32Tar},
      {BuildKind::Linux32, kLinux64Tar},
  };
  for (const auto& [kind, siblingTar] : rows) {
    const KindFiles& files = Files(kind);
    SCOPED_TRACE(standin::ToUtf8(files.tar));
    ASSERT_NO_FATAL_FAILURE(LayOut());
    ASSERT_TRUE(WriteBytes(Web(files.tar), kPreviousTar));
    // A leftover working folder and stray file stay as they are after No.
    ASSERT_TRUE(::CreateDirectoryW(Web(files.workingFolder).c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(Web(files.workingFolder) + L"\\stray.txt", "stray"));
    const auto served = testsupport::TreeSnapshot(options_.webBuildFolder);
    ASSERT_TRUE(WriteBytes(Web(files.tar) + kTemporaryTarSuffix, "partial"));
    ASSERT_TRUE(WriteBytes(Web(siblingTar) + kTemporaryTarSuffix, "partial"));

    EXPECT_FALSE(Run(kind, {IDNO}));
    ExpectSaid({BuildQuestion::kRebuildTar}, {});
    ASSERT_EQ(1u, prompt_.shown().size());
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), prompt_.shown()[0].style);
    EXPECT_EQ(kPreviousTar, ReadBytes(Web(files.tar)));
    EXPECT_TRUE(served == testsupport::TreeSnapshot(options_.webBuildFolder));

    EXPECT_TRUE(Run(kind, {IDYES}));
    ExpectSaid({BuildQuestion::kRebuildTar}, {uitext::kTarCreatedAt.id});
    EXPECT_NE(kPreviousTar, ReadBytes(Web(files.tar)));
    EXPECT_FALSE(FileExists(Web(files.workingFolder)));
  }
}

// Each required file missing, with a previous archive and the answer Yes: the message, and the
// previous archive and every other file as they were.
TEST_F(TarBuildTest, MissingRequiredFileStopsBeforeAnythingChanges) {
  const struct {
    BuildKind kind;
    const wchar_t* missing;
    UiText message;
  } rows[] = {
      {BuildKind::MacAv, L"MACHOST.DMG", uitext::kErrMacFilesMissing},
      {BuildKind::MacAv, L"macndef.ini", uitext::kErrMacFilesMissing},
      {BuildKind::MacAv, L"MWSNODE.DMG", uitext::kErrMacFilesMissing},
      {BuildKind::MacAgent, L"MWSNODE.DMG", uitext::kErrMacFilesMissing},
      {BuildKind::Linux32, L"heslin32\\heslin32.tar.gz", uitext::kErrLinuxFilesMissing},
      {BuildKind::Linux32, L"heslin32\\wsnode.ini", uitext::kErrLinuxFilesMissing},
      {BuildKind::Linux64, L"heslin64\\readme.txt", uitext::kErrLinuxFilesMissing},
      {BuildKind::Linux64, L"heslin64\\install", uitext::kErrLinuxFilesMissing},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(standin::ToUtf8(row.missing));
    const KindFiles& files = Files(row.kind);
    ASSERT_NO_FATAL_FAILURE(LayOut());
    ASSERT_TRUE(::DeleteFileW(Web(row.missing).c_str()));
    ASSERT_TRUE(WriteBytes(Web(files.tar), kPreviousTar));
    RememberBorrowable();

    EXPECT_FALSE(Run(row.kind, {IDYES}));
    ExpectSaid({BuildQuestion::kRebuildTar}, {row.message.id});
    EXPECT_EQ(kPreviousTar, ReadBytes(Web(files.tar)));
    EXPECT_FALSE(FileExists(Web(files.workingFolder)));
    ExpectBorrowableBack();
    ::DeleteFileW(Web(files.tar).c_str());
    borrowable_.clear();
  }
}

// Holds a file open with read and delete sharing, as an on-access scanner or a file share serving
// it would: it can be deleted, but not replaced.
fw::UniqueKernelHandle HoldSharingDelete(const std::wstring& path) {
  fw::UniqueKernelHandle handle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(handle.valid()) << "cannot hold " << standin::ToUtf8(path);
  return handle;
}

// One fault per row, for each family. Whatever fails, the served folders (the whole web build
// tree: every borrowed file, the previous archive, no temporary archive, no working folder) are
// byte for byte as they were before the build, and the message is 3018, after the rebuild
// question or alone when the build stops before asking.
TEST_F(TarBuildTest, FaultsLoseNoBorrowedFileAndKeepThePreviousArchive) {
  // `change` alters the layout before the served folders are recorded; `hold` keeps a file open
  // while the build runs.
  using Change = std::function<void(TarBuildTest&)>;
  using Hold = std::function<fw::UniqueKernelHandle(TarBuildTest&)>;
  const auto lock = [](const wchar_t* name) { return [name](TarBuildTest& t) { return Lock(t.Web(name)); }; };
  const auto lockTemporaryTar = [](const wchar_t* tar) {
    return [tar](TarBuildTest& t) { return Lock(t.Web(tar) + kTemporaryTarSuffix); };
  };
  const auto plantTemporaryTar = [](const wchar_t* tar) {
    return [tar](TarBuildTest& t) { EXPECT_TRUE(WriteBytes(t.Web(tar) + kTemporaryTarSuffix, "partial")); };
  };
  // A stale file in a leftover working folder, held open: the folder cannot be emptied.
  const auto plantStale = [](const wchar_t* workingFolder) {
    return [workingFolder](TarBuildTest& t) {
      EXPECT_TRUE(::CreateDirectoryW(t.Web(workingFolder).c_str(), nullptr));
      EXPECT_TRUE(WriteBytes(t.Web(workingFolder) + L"\\stale.txt", "stale"));
    };
  };
  const auto lockStale = [](const wchar_t* workingFolder) {
    return [workingFolder](TarBuildTest& t) { return Lock(t.Web(workingFolder) + L"\\stale.txt"); };
  };
  const auto fileAt = [](const wchar_t* name) {
    return [name](TarBuildTest& t) { EXPECT_TRUE(WriteBytes(t.Web(name), "not a folder")); };
  };
  const auto folderAtTar = [](const wchar_t* tar) {
    return [tar](TarBuildTest& t) {
      EXPECT_TRUE(::DeleteFileW(t.Web(tar).c_str()));
      EXPECT_TRUE(::CreateDirectoryW(t.Web(tar).c_str(), nullptr));
    };
  };
  const struct {
    const char* name;
    BuildKind kind;
    const char* failingDataCall;  // null: none
    const wchar_t* dataLibrary;
    Change change;
    Hold hold;
    const wchar_t* trace;
    bool keepsPreviousTar;  // false: the row removes or replaces the previous archive on purpose
    bool asked;             // the rebuild question comes before the failure
  } rows[] = {
      {"Mac, failing data library", BuildKind::MacAv, "GetDataByType", L"", nullptr, nullptr,
       L"CreateRPInfoDatFileForClientPackager failed.", true, true},
      {"Mac, data library without an export", BuildKind::MacAgent, nullptr,
       L"cnsldata_no_GetHesBuildInfo.dll", nullptr, nullptr, L"CreateRPInfoDatFileForClientPackager failed.",
       true, true},
      {"Mac, no cnmac folder", BuildKind::MacAv, nullptr, L"",
       [](TarBuildTest& t) {
         EXPECT_TRUE(::DeleteFileW(t.Web(kMacAvTar).c_str()));
         EXPECT_TRUE(::RemoveDirectoryW(t.Web(L"cnmac").c_str()));
       },
       nullptr, L"CreateTarFile failed for Mac build. Error = 0)", false, false},
      {"Mac, a file where the cnmac folder should be", BuildKind::MacAgent, nullptr, L"",
       [](TarBuildTest& t) {
         EXPECT_TRUE(::DeleteFileW(t.Web(kMacAgentTar).c_str()));
         EXPECT_TRUE(::RemoveDirectoryW(t.Web(L"cnmac").c_str()));
         EXPECT_TRUE(WriteBytes(t.Web(L"cnmac"), "not a folder"));
       },
       nullptr, L"CreateTarFile failed for Mac build. Error = 0)", false, false},
      {"Mac, a folder where the previous archive should be", BuildKind::MacAgent, nullptr, L"",
       folderAtTar(kMacAgentTar), nullptr, L"Replacing", false, true},
      {"Mac, agent image locked after the antivirus image moved", BuildKind::MacAv, nullptr, L"", nullptr,
       lock(L"MWSNODE.DMG"), L"MoveFileEx FAILED For Mac build", true, true},
      {"Mac, macndef.ini locked", BuildKind::MacAv, nullptr, L"", nullptr, lock(L"macndef.ini"),
       L"CopyFile FAILED For macndef.ini", true, true},
      {"Mac, the settings template locked", BuildKind::MacAgent, nullptr, L"", nullptr, lock(L"wsnode.ini"),
       L"CopyFile FAILED For Mac INI file", true, true},
      {"Mac, previous archive locked", BuildKind::MacAv, nullptr, L"", nullptr, lock(kMacAvTar), L"Replacing",
       true, true},
      {"Mac, previous archive held with delete sharing", BuildKind::MacAgent, nullptr, L"", nullptr,
       [](TarBuildTest& t) { return HoldSharingDelete(t.Web(kMacAgentTar)); }, L"Replacing", true, true},
      {"Mac, leftover temporary archive held open", BuildKind::MacAv, nullptr, L"",
       plantTemporaryTar(kMacAvTar), lockTemporaryTar(kMacAvTar), L"Cannot remove the temporary TAR", true,
       false},
      {"Mac, a file held open in the leftover working folder", BuildKind::MacAgent, nullptr, L"",
       plantStale(L"MCWSNODE"), lockStale(L"MCWSNODE"), L"Cannot empty the working folder", true, true},
      {"Mac, a file where the working folder should be", BuildKind::MacAv, nullptr, L"", fileAt(L"MCWSNOAV"),
       nullptr, L"is not a folder", true, true},
      {"Linux, failing data library", BuildKind::Linux32, "OpenDatabase", L"", nullptr, nullptr,
       L"GetRPDatFileInfoFromDB failed, Error:0", true, false},
      {"Linux, data library without an export", BuildKind::Linux64, nullptr,
       L"cnsldata_no_GetGenericData.dll", nullptr, nullptr, L"GetRPDatFileInfoFromDB failed, Error:0", true,
       false},
      {"Linux, a folder where the previous archive should be", BuildKind::Linux32, nullptr, L"",
       folderAtTar(kLinux32Tar), nullptr, L"Replacing", false, true},
      {"Linux, install script locked", BuildKind::Linux64, nullptr, L"", nullptr, lock(L"heslin64\\install"),
       L"CopyFile FAILED For Linux install file", true, true},
      {"Linux, previous archive locked", BuildKind::Linux32, nullptr, L"", nullptr, lock(kLinux32Tar),
       L"Replacing", true, true},
      {"Linux, previous archive held with delete sharing", BuildKind::Linux64, nullptr, L"", nullptr,
       [](TarBuildTest& t) { return HoldSharingDelete(t.Web(kLinux64Tar)); }, L"Replacing", true, true},
      {"Linux, leftover temporary archive held open", BuildKind::Linux64, nullptr, L"",
       plantTemporaryTar(kLinux64Tar), lockTemporaryTar(kLinux64Tar), L"Cannot remove the temporary TAR",
       true, false},
      {"Linux, a file held open in the leftover working folder", BuildKind::Linux32, nullptr, L"",
       plantStale(L"heslin32\\LinuxSetup32"), lockStale(L"heslin32\\LinuxSetup32"),
       L"Cannot empty the working folder", true, true},
      {"Linux, a file where the working folder should be", BuildKind::Linux64, nullptr, L"",
       fileAt(L"heslin64\\LinuxSetup64"), nullptr, L"is not a folder", true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const KindFiles& files = Files(row.kind);
    serverlayout::Options layout;
    if (row.failingDataCall != nullptr) {
      layout.failingDataCalls = {row.failingDataCall};
    }
    if (*row.dataLibrary != L'\0') {
      layout.cnsldataLibrary = row.dataLibrary;
    }
    ASSERT_NO_FATAL_FAILURE(LayOut(layout));
    ASSERT_TRUE(WriteBytes(Web(files.tar), kPreviousTar));
    if (row.change) {
      row.change(*this);
    }
    const auto served = testsupport::TreeSnapshot(options_.webBuildFolder);
    trace_.Clear();
    {
      const fw::UniqueKernelHandle held = row.hold ? row.hold(*this) : fw::UniqueKernelHandle();
      EXPECT_FALSE(Run(row.kind, {IDYES}));
    }
    ExpectSaid(
        row.asked ? std::vector<BuildQuestion>{BuildQuestion::kRebuildTar} : std::vector<BuildQuestion>{},
        {uitext::kErrCreateSetup.id});
    EXPECT_TRUE(trace_.Contains(row.trace)) << standin::ToUtf8(trace_.Text());
    if (row.keepsPreviousTar) {
      EXPECT_EQ(kPreviousTar, ReadBytes(Web(files.tar)));
    }
    const auto after = testsupport::TreeSnapshot(options_.webBuildFolder);
    for (const auto& [name, bytes] : served) {
      const auto found = after.find(name);
      EXPECT_TRUE(found != after.end() && found->second == bytes)
          << standin::ToUtf8(name) << (found == after.end() ? " is gone" : " changed");
    }
    for (const auto& [name, bytes] : after) {
      EXPECT_TRUE(served.count(name)) << standin::ToUtf8(name) << " was left in the served folders";
    }
    testsupport::RemoveTree(server_);
  }
}

// An interrupted build left both Mac working folders: disk images (the only copies), a stray
// file, a sub-folder and a temporary archive. The images go home, the stray things do not reach
// the new archive, and the temporary archive is gone.
TEST_F(TarBuildTest, LeftoverWorkingFolderIsRecovered) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const std::string agentImage = ReadBytes(Web(L"MWSNODE.DMG"));
  const std::string antivirusImage = ReadBytes(Web(L"MACHOST.DMG"));
  ASSERT_TRUE(::CreateDirectoryW(Web(L"MCWSNODE").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(Web(L"MCWSNODE\\sub").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(Web(L"MCWSNOAV").c_str(), nullptr));
  ASSERT_TRUE(::MoveFileW(Web(L"MWSNODE.DMG").c_str(), Web(L"MCWSNODE\\MWSNODE.DMG").c_str()));
  ASSERT_TRUE(::MoveFileW(Web(L"MACHOST.DMG").c_str(), Web(L"MCWSNOAV\\MACHOST.DMG").c_str()));
  ASSERT_TRUE(WriteBytes(Web(L"MCWSNODE\\stray.txt"), "stray"));
  ASSERT_TRUE(WriteBytes(Web(L"MCWSNODE\\sub\\deeper.txt"), "deeper"));
  ASSERT_TRUE(WriteBytes(Web(kMacAgentTar) + kTemporaryTarSuffix, "partial"));

  ASSERT_TRUE(Run(BuildKind::MacAgent)) << standin::ToUtf8(trace_.Text());
  EXPECT_EQ(agentImage, ReadBytes(Web(L"MWSNODE.DMG")));
  EXPECT_EQ(antivirusImage, ReadBytes(Web(L"MACHOST.DMG")));
  EXPECT_FALSE(FileExists(Web(L"MCWSNODE")));
  EXPECT_FALSE(FileExists(Web(kMacAgentTar) + kTemporaryTarSuffix));
  const std::string tar = ReadBytes(Web(kMacAgentTar));
  EXPECT_EQ(std::string::npos, tar.find("stray")) << "a stale file reached the archive";
  EXPECT_EQ(std::string::npos, tar.find("deeper"));

  // The Linux package archive comes home the same way and then goes into the archive.
  const std::string package = ReadBytes(Web(L"heslin32\\heslin32.tar.gz"));
  ASSERT_TRUE(::CreateDirectoryW(Web(L"heslin32\\LinuxSetup32").c_str(), nullptr));
  ASSERT_TRUE(::MoveFileW(Web(L"heslin32\\heslin32.tar.gz").c_str(),
                          Web(L"heslin32\\LinuxSetup32\\heslin32.tar.gz").c_str()));
  ASSERT_TRUE(Run(BuildKind::Linux32)) << standin::ToUtf8(trace_.Text());
  EXPECT_NE(std::string::npos, ReadBytes(Web(kLinux32Tar)).find(package));
  EXPECT_FALSE(FileExists(Web(L"heslin32\\heslin32.tar.gz")));
}

// A borrowed file that cannot go back (its name was taken in the source folder meanwhile) keeps
// the working folder with the file in it, and the message says where it is; the previous
// archive stays, whether the new archive was written or not.
TEST(TarClientBuildTest, FileThatCannotGoBackKeepsTheWorkingFolder) {
  for (const bool tarFolderExists : {true, false}) {
    SCOPED_TRACE(tarFolderExists ? "archive written" : "archive failed");
    testsupport::TraceCapture trace;
    testsupport::TempDir dir;
    const std::wstring source = dir.path() + L"\\";
    const std::wstring working = dir / L"Work";
    const std::wstring tar = dir / L"out\\A.TAR";
    if (tarFolderExists) {
      ASSERT_TRUE(::CreateDirectoryW((dir / L"out").c_str(), nullptr));
      ASSERT_TRUE(WriteBytes(tar, kPreviousTar));
    }
    ASSERT_TRUE(WriteBytes(dir / L"image.dmg", "the only copy"));
    testsupport::ScriptedBuildUi prompt;
    TarClientBuild build(prompt, L"test");
    TarTarget target;
    target.sourceFolder = source;
    target.workingFolder = working;
    target.tarPath = tar;
    target.siblingTarPath = dir / L"out\\B.TAR";
    ASSERT_TRUE(build.SetPaths(target));
    ASSERT_TRUE(build.PrepareWorkingFolder());
    ASSERT_TRUE(build.MoveIn(L"image.dmg", L"move in failed (%lu)"));
    ASSERT_TRUE(WriteBytes(dir / L"image.dmg", "a new download"));

    EXPECT_FALSE(build.WriteTar({L"image.dmg"}, false, L"archive failed (%lu)"));
    ASSERT_EQ(1u, prompt.shown().size());
    EXPECT_EQ(TableMessage(uitext::kErrFileNotReturned, {L"image.dmg", source, working}).Format(),
              prompt.shown()[0].text);
    EXPECT_EQ("the only copy", ReadBytes(working + L"\\image.dmg"));
    EXPECT_EQ("a new download", ReadBytes(dir / L"image.dmg"));
    EXPECT_TRUE(trace.Contains(L"image.dmg stays in " + working));
    EXPECT_FALSE(FileExists(tar + kTemporaryTarSuffix));
    if (tarFolderExists) {
      EXPECT_EQ(kPreviousTar, ReadBytes(tar));
    }
  }
}

// The check before success: the folder entry, exactly the expected files with their sizes, sound
// headers and the end marker closing the file.
TEST(VerifyTarListingTest, AcceptsOnlyTheFolderEntryAndExactlyTheExpectedFiles) {
  testsupport::TempDir dir;
  ASSERT_TRUE(::CreateDirectoryW((dir / L"F").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(dir / L"F\\a", std::string(10, 'a')));
  ASSERT_TRUE(WriteBytes(dir / L"F\\b", std::string(600, 'b')));
  const std::wstring good = dir / L"good.tar";
  DWORD error = 0;
  ASSERT_TRUE(CreateTarFile((dir / L"F").c_str(), good.c_str(), &error));
  const std::string bytes = ReadBytes(good);
  ASSERT_EQ(512u * 8, bytes.size());  // folder, a, its content, b, two content blocks, end marker
  const size_t aHeader = bytes.find("F/a") != std::string::npos ? bytes.find("F/a") : 0;
  std::string damaged = bytes;
  damaged[aHeader + 2] = 'x';  // the name changes, the checksum does not
  // A name over 100 bytes, found through its long-name entry.
  const std::wstring longName(150, L'n');
  ASSERT_TRUE(::CreateDirectoryW((dir / L"L").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(dir / (L"L\\" + longName), "long"));
  ASSERT_TRUE(CreateTarFile((dir / L"L").c_str(), (dir / L"long.tar").c_str(), &error));
  const std::string longTar = ReadBytes(dir / L"long.tar");

  const std::vector<ExpectedTarFile> both = {{L"a", 10}, {L"b", 600}};
  const struct {
    const char* name;
    std::string archive;
    const wchar_t* folder;
    std::vector<ExpectedTarFile> files;
    bool valid;
  } rows[] = {
      {"exact", bytes, L"F", both, true},
      {"any order", bytes, L"F", {{L"b", 600}, {L"a", 10}}, true},
      {"a file more than expected", bytes, L"F", {{L"a", 10}}, false},
      {"an expected file missing", bytes, L"F", {{L"a", 10}, {L"b", 600}, {L"c", 0}}, false},
      {"a size differs", bytes, L"F", {{L"a", 10}, {L"b", 601}}, false},
      {"another folder", bytes, L"G", both, false},
      {"end marker cut", bytes.substr(0, bytes.size() - 512), L"F", both, false},
      {"a block after the end marker", bytes + std::string(512, '\0'), L"F", both, false},
      {"damaged header", damaged, L"F", both, false},
      {"empty file", "", L"F", both, false},
      {"a long name", longTar, L"L", {{longName, 4}}, true},
      {"a long name differing in its last byte", longTar, L"L", {{longName.substr(1) + L"m", 4}}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::wstring path = dir / L"row.tar";
    ASSERT_TRUE(WriteBytes(path, row.archive));
    EXPECT_EQ(row.valid, VerifyTarListing(path.c_str(), row.folder, row.files));
  }
}

}  // namespace
