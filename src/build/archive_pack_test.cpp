// The archive and pack step on a stand-in server whose folders hold spaces and parentheses,
// with the stand-in packer's record of what it received.

#include "build/archive_pack.h"

#include <direct.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "common/standin_files.h"
#include "framework/handles.h"
#include "layout/server_layout.h"
#include "password/set_pwd_dialog.h"
#include "support/scripted_prompt.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

constexpr wchar_t kQuestion[] = L"Do you want to create password protected setup?";
constexpr wchar_t kFailed[] = L"Error in creating setup";

// Answers the questions from a script; the password dialog is stood in for by writing the
// password file as the dialog does, or by not writing it.
class ScriptedBuildUi final : public IBuildUi {
 public:
  enum class Password { kCancel, kWrite, kOkWithoutFile };

  ScriptedBuildUi(std::deque<int> answers, Password password)
      : prompt_(std::move(answers)), password_(password) {}

  int Show(const wchar_t* text, UINT style) override {
    if (onShow) {
      onShow(text);
    }
    return prompt_.Show(text, style);
  }
  bool AskPassword(const wchar_t* programFolder) override {
    if (password_ == Password::kWrite) {
      EXPECT_TRUE(
          CSetPwdDialog::SaveEncryptedPasswordToFile((std::wstring(programFolder) + L"pwd.dat").c_str(),
                                                     L"s\xE9"
                                                     L"cret7"));
    }
    return password_ != Password::kCancel;
  }

  std::vector<std::wstring> Shown() const {
    std::vector<std::wstring> texts;
    for (const auto& shown : prompt_.shown) {
      texts.push_back(shown.text);
    }
    return texts;
  }

  std::function<void(const wchar_t*)> onShow;

 private:
  testsupport::ScriptedPrompt prompt_;
  Password password_;
};

std::wstring ShortPath(const std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = L"";
  const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  EXPECT_TRUE(length > 0 && length < MAX_PATH) << standin::ToUtf8(path);
  return shortPath;
}

class ArchivePackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t current[MAX_PATH] = L"";
    ASSERT_NE(nullptr, _wgetcwd(current, MAX_PATH));
    savedCurrent_ = current;

    serverlayout::Options options;
    options.serverFolder = dir_ / L"Program Files (x86)\\Halvane (test)";
    options.programFolder = dir_ / L"Program Files (x86)\\Client Packager (x86)";
    options.registration = serverlayout::Registration::kNone;
    serverlayout::Result layout;
    ASSERT_TRUE(serverlayout::LayOutServer(options, &layout)) << standin::ToUtf8(layout.error);
    packer_ = layout.serverFolder + L"\\Tools\\clPacker";
    program_ = layout.programFolder + L"\\";
    work_ = packer_ + L"\\Build";
    ASSERT_TRUE(CreateDirectoryW(work_.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(work_ + L"\\payload.bin", std::string(300000, 'p')));
    ASSERT_TRUE(WriteBytes(work_ + L"\\wsnode.ini", "[SETTING]\r\n"));
  }
  void TearDown() override { _wchdir(savedCurrent_.c_str()); }

  ArchivePackInputs Inputs(const wchar_t* output = L"wsnode32.exe", uint32_t packSize = 15) const {
    return {work_, packer_, program_, output, packSize};
  }

  // What the step must never leave behind, whatever the outcome.
  void ExpectNoLeftovers(const char* row) const {
    for (const std::wstring& path :
         {program_ + L"pwd.dat", program_ + L"clPacker\\7z.dll", program_ + L"clPacker\\7z.exe"}) {
      EXPECT_FALSE(FileExists(path)) << row << ": " << standin::ToUtf8(path);
    }
  }
  void ExpectFailureCleanedUp(const char* row, const wchar_t* output) const {
    ExpectNoLeftovers(row);
    EXPECT_FALSE(FileExists(packer_ + L"\\root.7z")) << row;
    EXPECT_FALSE(FileExists(packer_ + L"\\" + output)) << row;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(work_.c_str())) << row << ": working folder left";
  }

  std::string PackRecord() const { return ReadBytes(packer_ + L"\\pack.log"); }

  testsupport::TempDir dir_;
  testsupport::TraceCapture trace_;
  std::wstring savedCurrent_;
  std::wstring packer_, program_, work_;
};

TEST_F(ArchivePackTest, PacksWithTheAnsweredPasswordAndQuotesOnlyPathsWithSpaces) {
  const std::wstring shortPacker = ShortPath(packer_);
  const std::wstring shortProgram = ShortPath(program_);
  ASSERT_EQ(std::wstring::npos, (shortPacker + shortProgram).find(L' '));
  const std::string packerUtf8 = standin::ToUtf8(packer_);
  struct Row {
    const char* name;
    ScriptedBuildUi::Password password;
    int answer;
    bool shortPaths;
    uint32_t packSize;
    const wchar_t* output;
    std::wstring commandLine;  // as traced
    std::string record;        // as the packer received it
  } rows[] = {
      {"No", ScriptedBuildUi::Password::kWrite, IDNO, false, 15, L"wsnode32.exe",
       L"\"" + packer_ + L"\\pack.exe\" root.7z wsnode32.exe 15",
       "archive=root.7z\r\noutput=wsnode32.exe\r\nsize=15\r\nexit=0\r\n"},
      {"Yes", ScriptedBuildUi::Password::kWrite, IDYES, false, 21, L"wsnoav64.exe",
       L"\"" + packer_ + L"\\pack.exe\" root.7z wsnoav64.exe /PWD=\"" + program_ + L"pwd.dat\" 21",
       "archive=root.7z\r\noutput=wsnoav64.exe\r\nsize=21\r\npassword=s\xC3\xA9"
       "cret7\r\npassword_file=" +
           standin::ToUtf8(program_) + "pwd.dat\r\nexit=0\r\n"},
      {"Yes then Cancel", ScriptedBuildUi::Password::kCancel, IDYES, false, 15, L"rmtsetup.exe",
       L"\"" + packer_ + L"\\pack.exe\" root.7z rmtsetup.exe 15",
       "archive=root.7z\r\noutput=rmtsetup.exe\r\nsize=15\r\nexit=0\r\n"},
      {"short paths, pack size 0", ScriptedBuildUi::Password::kWrite, IDYES, true, 0, L"wsnode64.exe",
       shortPacker + L"\\pack.exe root.7z wsnode64.exe /PWD=" + shortProgram + L"pwd.dat ",
       "archive=root.7z\r\noutput=wsnode64.exe\r\nsize=\r\npassword=s\xC3\xA9"
       "cret7\r\npassword_file=" +
           standin::ToUtf8(shortProgram) + "pwd.dat\r\nexit=0\r\n"},
  };
  const std::string module = ReadBytes(packer_ + L"\\7z.sfx");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    trace_.Clear();
    // A stale archive of an interrupted run is replaced, not updated (not being a 7z archive,
    // it would make 7-Zip fail).
    ASSERT_TRUE(WriteBytes(packer_ + L"\\root.7z", "left over"));
    ScriptedBuildUi ui({row.answer}, row.password);
    ArchivePackInputs inputs = Inputs(row.output, row.packSize);
    if (row.shortPaths) {
      inputs.packerFolder = shortPacker;
      inputs.programFolder = shortProgram;
    }
    EXPECT_TRUE(ArchiveAndPack(inputs, ui));
    EXPECT_EQ(std::vector<std::wstring>{kQuestion}, ui.Shown());
    EXPECT_TRUE(trace_.Contains(L"pack parameters: " + row.commandLine + L"\r\n"))
        << standin::ToUtf8(trace_.Text());
    EXPECT_EQ(row.record, PackRecord());
    // The setup is the packer's module followed by this run's archive.
    const std::string archive = ReadBytes(packer_ + L"\\root.7z");
    EXPECT_EQ("7z\xBC\xAF\x27\x1C", archive.substr(0, 6));
    EXPECT_TRUE(ReadBytes(packer_ + L"\\" + row.output) == module + archive);
    ExpectNoLeftovers(row.name);
    wchar_t current[MAX_PATH] = L"";
    wchar_t longCurrent[MAX_PATH] = L"";
    ASSERT_NE(nullptr, _wgetcwd(current, MAX_PATH));
    GetLongPathNameW(current, longCurrent, MAX_PATH);
    EXPECT_STREQ(packer_.c_str(), longCurrent) << "the packer ran in the packer folder, which stays current";
    EXPECT_TRUE(FileExists(work_ + L"\\payload.bin")) << "the caller empties the working folder";
  }
}

TEST_F(ArchivePackTest, EveryFailureReportsOnceAndLeavesNothingBehind) {
  enum class Fault { kLockedPayload, kPackerFails, kPasswordNotWritten, kNoSevenZipFolder };
  const struct {
    const char* name;
    Fault fault;
    bool packerRan;
    const wchar_t* traced;
  } rows[] = {
      {"7-Zip leaves out a locked file", Fault::kLockedPayload, false, L"7z failed (exit code 1)"},
      {"the packer fails", Fault::kPackerFails, true, L"pack.exe failed (exit code 5)"},
      {"OK without a password file", Fault::kPasswordNotWritten, false, L"Password file not written: "},
      {"no clPacker sub-folder", Fault::kNoSevenZipFolder, false, L"ExtractResourceToDisk(7z.dll) failed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    trace_.Clear();
    ::DeleteFileW((packer_ + L"\\pack.log").c_str());
    CreateDirectoryW(work_.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(work_ + L"\\payload.bin", std::string(300000, 'p')));
    fw::UniqueKernelHandle lock;
    if (row.fault == Fault::kLockedPayload) {
      lock.reset(CreateFileW((work_ + L"\\payload.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr));
      ASSERT_TRUE(lock.valid());
    }
    if (row.fault == Fault::kPackerFails) {
      ASSERT_TRUE(WriteBytes(packer_ + L"\\pack.fail", ""));
    }
    if (row.fault == Fault::kNoSevenZipFolder) {
      ASSERT_TRUE(RemoveDirectoryW((program_ + L"clPacker").c_str()));
    }
    ScriptedBuildUi ui({IDYES}, row.fault == Fault::kPasswordNotWritten
                                    ? ScriptedBuildUi::Password::kOkWithoutFile
                                    : ScriptedBuildUi::Password::kWrite);
    // The administrator closes whatever held the file once the failure is shown.
    ui.onShow = [&](const wchar_t* text) {
      if (wcscmp(text, kFailed) == 0) {
        lock.reset();
      }
    };
    EXPECT_FALSE(ArchiveAndPack(Inputs(), ui));
    EXPECT_EQ((std::vector<std::wstring>{kQuestion, kFailed}), ui.Shown());
    EXPECT_TRUE(trace_.Contains(row.traced)) << standin::ToUtf8(trace_.Text());
    EXPECT_EQ(row.packerRan, !PackRecord().empty());
    ExpectFailureCleanedUp(row.name, L"wsnode32.exe");
    ::DeleteFileW((packer_ + L"\\pack.fail").c_str());
    CreateDirectoryW((program_ + L"clPacker").c_str(), nullptr);
  }
}

}  // namespace
