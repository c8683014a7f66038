// The archive and pack step on a stand-in server whose folders hold spaces and parentheses,
// with the stand-in packer's record of what it received.

#include "build/archive_pack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/standin_files.h"
#include "handles/handles.h"
#include "layout/server_layout.h"
#include "password/password_file.h"
#include "support/scripted_prompt.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

using standin::ToUtf8;
using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

constexpr wchar_t kQuestion[] = L"Do you want to create password protected setup?";
constexpr wchar_t kFailed[] = L"Error in creating setup";
enum class Password { kCancel, kSet, kSetButEmpty, kNotShown };
// 17 characters; the é is one byte in Western code pages, two where the code page is UTF-8.
constexpr wchar_t kPassword[] =
    L"S\xE9"
    L"cret-Pass-w0rd!";
constexpr char kPasswordHash[] = "5d24a6144624ed19";  // FNV-1a 64 of its UTF-8 bytes

// Answers the question from a script and stands in for the password dialog: OK with the
// password, OK without one, Cancel, or a dialog that cannot be shown.
class ScriptedBuildUi final : public IBuildUi {
 public:
  ScriptedBuildUi(int answer, Password password) : prompt_({answer}), password_(password) {}
  void Show(const BuildMessage& message) override { Record(message); }
  bool Ask(BuildQuestion question) override { return Record(QuestionMessage(question)) == IDYES; }
  PasswordAnswer AskPassword(passwordfile::Password& password) override {
    switch (password_) {
      case Password::kSet:
        EXPECT_TRUE(password.Assign(kPassword));
        return PasswordAnswer::kSet;
      case Password::kSetButEmpty:
        return PasswordAnswer::kSet;
      case Password::kCancel:
        return PasswordAnswer::kCancelled;
      case Password::kNotShown:
        break;
    }
    return PasswordAnswer::kNotShown;
  }
  std::vector<std::wstring> shown;
  std::function<void()> onFailure;

 private:
  int Record(const BuildMessage& message) {
    const std::wstring text = message.Format();
    if (text == kFailed && onFailure) {
      onFailure();
    }
    shown.push_back(text);
    return prompt_.Show(text.c_str(), message.style);
  }

  testsupport::ScriptedPrompt prompt_;
  Password password_;
};

// The password file's 40 bytes for `password`: its ANSI form with the terminator, zero-filled,
// each byte's halves exchanged.
std::string Ansi(const wchar_t* text) {
  char ansi[64] = "";
  EXPECT_GT(WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi, nullptr, nullptr), 0);
  return ansi;
}

std::string StoredForm(const wchar_t* password) {
  std::string bytes = Ansi(password);
  bytes.resize(40, '\0');
  for (char& c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    c = static_cast<char>(((b >> 4) | (b << 4)) & 0xFF);
  }
  return bytes;
}

// Every run of digits in the messages of a trace: each line without its time stamp, thread and
// process name.
std::set<std::wstring> NumbersInMessages(const std::wstring& trace) {
  std::set<std::wstring> numbers;
  size_t start = 0;
  while (start < trace.size()) {
    const size_t end = std::min(trace.find(L'\n', start), trace.size());
    std::wstring line = trace.substr(start, end - start);
    start = end + 1;
    // "dd-mm-yyyy hh:mm:ss TTTTTTTT <process> <tag> <text>"
    const size_t name = line.find_first_not_of(L' ', std::min<size_t>(29, line.size()));
    line = name == std::wstring::npos ? L"" : line.substr(std::min(line.find(L' ', name), line.size()));
    for (size_t at = line.find_first_of(L"0123456789"); at != std::wstring::npos;) {
      const size_t after = std::min(line.find_first_not_of(L"0123456789", at), line.size());
      numbers.insert(line.substr(at, after - at));
      at = line.find_first_of(L"0123456789", after);
    }
  }
  return numbers;
}

class ArchivePackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    serverlayout::Options options;
    options.serverFolder = dir_ / L"Program Files (x86)\\Halvane (test)";
    options.programFolder = dir_ / L"Program Files (x86)\\Client Packager (x86)";
    options.registration = serverlayout::Registration::kNone;
    serverlayout::Result layout;
    ASSERT_TRUE(serverlayout::LayOutServer(options, &layout)) << ToUtf8(layout.error);
    packer_ = layout.serverFolder + L"\\Tools\\clPacker";
    program_ = layout.programFolder + L"\\";
    work_ = packer_ + L"\\Build";
  }

  void FillWorkFolder() const {
    CreateDirectoryW(work_.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(work_ + L"\\payload.bin", std::string(300000, 'p')));
    ASSERT_TRUE(WriteBytes(work_ + L"\\wsnode.ini", "[SETTING]\r\n"));
  }

  // Password file and 7-Zip must never stay, whatever the outcome.
  void ExpectNoStepFiles() const {
    for (const std::wstring& path :
         {program_ + L"pwd.dat", program_ + L"clPacker\\7z.dll", program_ + L"clPacker\\7z.exe"}) {
      EXPECT_FALSE(FileExists(path)) << ToUtf8(path);
    }
  }

  // Neither the trace nor any file the step leaves shows the password, its stored form or its
  // length, whichever the encoding.
  void ExpectNoTraceOfThePassword() const {
    const std::wstring trace = trace_.Text();
    const std::string ansi = Ansi(kPassword), stored = StoredForm(kPassword);
    const std::wstring asciiPart = L"cret-Pass-w0rd!";
    for (const std::wstring& form : {std::wstring(kPassword), asciiPart}) {
      EXPECT_EQ(std::wstring::npos, trace.find(form)) << "traced: " << ToUtf8(form);
    }
    const std::set<std::wstring> numbers = NumbersInMessages(trace);
    for (const size_t length : {wcslen(kPassword), ansi.size(), ansi.size() + 1}) {
      EXPECT_EQ(0u, numbers.count(std::to_wstring(length))) << "the length " << length << " is traced";
    }
    const std::string utf16(reinterpret_cast<const char*>(kPassword), wcslen(kPassword) * sizeof(wchar_t));
    for (const auto& [path, bytes] : testsupport::TreeSnapshot(dir_.path())) {
      for (const std::string& form : {ToUtf8(kPassword), ansi, utf16, stored.substr(0, ansi.size())}) {
        EXPECT_EQ(std::string::npos, bytes.find(form)) << "the password in " << ToUtf8(path);
      }
    }
  }

  testsupport::TempDir dir_;
  testsupport::TraceCapture trace_;
  std::wstring packer_, program_, work_;
};

// The machine field of a PE file's header (0x14C x86, 0x8664 x64); 0 when it is no PE file.
unsigned PeMachine(const std::wstring& path) {
  const std::string bytes = ReadBytes(path);
  if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) {
    return 0;
  }
  const uint32_t header = *reinterpret_cast<const uint32_t*>(bytes.data() + 0x3C);
  if (bytes.size() < header + 6 || bytes.compare(header, 4, std::string("PE\0\0", 4)) != 0) {
    return 0;
  }
  return static_cast<unsigned char>(bytes[header + 4]) | static_cast<unsigned char>(bytes[header + 5]) << 8;
}

std::wstring ShortPath(const std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = L"";
  EXPECT_GT(GetShortPathNameW(path.c_str(), shortPath, MAX_PATH), 0u);
  return shortPath;
}

TEST_F(ArchivePackTest, PacksWithTheAnsweredPasswordAndQuotesOnlyPathsWithSpaces) {
  const std::wstring shortPacker = ShortPath(packer_), shortProgram = ShortPath(program_);
  ASSERT_EQ(std::wstring::npos, (shortPacker + shortProgram).find(L' '));
  const std::wstring quotedPack = L"\"" + packer_ + L"\\pack.exe\" root.7z ";
  const std::string password = "password_fnv1a64=" + std::string(kPasswordHash) + "\r\npassword_file=";
  // One row runs the 32-bit 7-Zip where the tests are 32-bit programs, the others the 64-bit
  // one. The tests are 64-bit programs only where the host runs 32-bit code emulated (about 45 s
  // a process start); there that row runs the 64-bit 7-Zip as well.
  constexpr SevenZipRelease kFirstRelease =
      sizeof(void*) == 4 ? SevenZipRelease::kIa32 : SevenZipRelease::kX64;
  const struct {
    const char* name;
    int answer;
    Password password;
    bool shortPaths;
    uint32_t packSize;
    SevenZipRelease sevenZip;
    std::wstring output, commandLine;  // as traced
    std::string record;                // as the packer received it, after "archive=root.7z\r\n"
    bool staleWhileArchiving = false;  // another password file turns up while 7-Zip runs
  } rows[] = {
      {"No", IDNO, Password::kSet, false, 15, kFirstRelease, L"wsnode32.exe", quotedPack + L"wsnode32.exe 15",
       "output=wsnode32.exe\r\nsize=15\r\n"},
      {"Yes, another password file turning up meanwhile", IDYES, Password::kSet, false, 21,
       SevenZipRelease::kX64, L"wsnoav64.exe",
       quotedPack + L"wsnoav64.exe /PWD=\"" + program_ + L"pwd.dat\" 21",
       "output=wsnoav64.exe\r\nsize=21\r\n" + password + ToUtf8(program_) + "pwd.dat\r\n", true},
      {"Yes then Cancel", IDYES, Password::kCancel, false, 15, SevenZipRelease::kX64, L"rmtsetup.exe",
       quotedPack + L"rmtsetup.exe 15", "output=rmtsetup.exe\r\nsize=15\r\n"},
      {"short paths, pack size 0", IDYES, Password::kSet, true, 0, SevenZipRelease::kX64, L"wsnode64.exe",
       shortPacker + L"\\pack.exe root.7z wsnode64.exe /PWD=" + shortProgram + L"pwd.dat ",
       "output=wsnode64.exe\r\nsize=\r\n" + password + ToUtf8(shortProgram) + "pwd.dat\r\n"},
  };
  const std::string module = ReadBytes(packer_ + L"\\7z.sfx");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    trace_.Clear();
    FillWorkFolder();
    // Left by an interrupted run: updating it instead of replacing it would make 7-Zip fail.
    ASSERT_TRUE(WriteBytes(packer_ + L"\\root.7z", "not an archive"));
    ScriptedBuildUi ui(row.answer, row.password);
    unsigned machine = 0;
    const ArchivePackInputs inputs{
        work_,
        row.shortPaths ? shortPacker : packer_,
        row.shortPaths ? shortProgram : program_,
        row.output,
        row.packSize,
        row.sevenZip,
        [&](const std::wstring& exe) {
          machine = PeMachine(exe);
          EXPECT_FALSE(FileExists(program_ + L"pwd.dat")) << "on disk before the packer";
          if (row.staleWhileArchiving) {
            ASSERT_TRUE(WriteBytes(program_ + L"pwd.dat", StoredForm(L"earlier7")));
          }
        }};
    EXPECT_TRUE(ArchiveAndPack(inputs, ui));
    EXPECT_EQ(row.sevenZip == SevenZipRelease::kX64 ? 0x8664u : 0x14Cu, machine) << "the 7z.exe that ran";
    EXPECT_EQ(std::vector<std::wstring>{kQuestion}, ui.shown);
    EXPECT_TRUE(trace_.Contains(L"pack parameters: " + row.commandLine + L"\r\n")) << ToUtf8(trace_.Text());
    EXPECT_EQ("archive=root.7z\r\n" + row.record + "exit=0\r\n", ReadBytes(packer_ + L"\\pack.log"));
    // The setup is the packer's module followed by this run's 7z archive.
    const std::string archive = ReadBytes(packer_ + L"\\root.7z");
    EXPECT_EQ("7z\xBC\xAF\x27\x1C", archive.substr(0, 6));
    EXPECT_TRUE(ReadBytes(packer_ + L"\\" + row.output) == module + archive);
    ExpectNoStepFiles();
    ExpectNoTraceOfThePassword();
  }
}

TEST(SevenZipReleaseTest, SixtyFourBitWindowsGetsTheX64Release) {
  // The suite runs as a 64-bit process or as a 32-bit one under WoW64 in a 64-bit prefix.
  EXPECT_EQ(SevenZipRelease::kX64, NativeSevenZipRelease());
}

TEST_F(ArchivePackTest, EveryFailureReportsOnceAndLeavesNothingBehind) {
  enum class Fault {
    kLockedPayload,
    kPackerFails,
    kNoPassword,
    kPasswordNotShown,
    kNoSevenZipFolder,
    kSevenZipHeldForWriting
  };
  const struct {
    const char* name;
    Fault fault;
    const wchar_t* traced;
  } rows[] = {
      {"7-Zip leaves out a locked file", Fault::kLockedPayload, L"7z failed (exit code 1)"},
      {"the packer fails", Fault::kPackerFails, L"pack.exe failed (exit code 5)"},
      {"OK without a password, a password file of an earlier run there", Fault::kNoPassword,
       L"Password file not written: "},
      {"password dialog cannot be shown", Fault::kPasswordNotShown,
       L"The password dialog could not be shown"},
      {"no clPacker sub-folder", Fault::kNoSevenZipFolder, L"ExtractResourceToDisk(7z.dll) failed"},
      // Written into as it stood, the holder could change it after the check.
      {"a 7z.exe left there, held open for writing by another", Fault::kSevenZipHeldForWriting,
       L"ExtractResourceToDisk(7z.exe) failed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    trace_.Clear();
    FillWorkFolder();
    ScriptedBuildUi ui(IDYES, row.fault == Fault::kNoPassword         ? Password::kSetButEmpty
                              : row.fault == Fault::kPasswordNotShown ? Password::kNotShown
                                                                      : Password::kSet);
    if (row.fault == Fault::kNoPassword) {
      // A whole password file of an earlier run must not pass for this run's.
      ASSERT_TRUE(WriteBytes(program_ + L"pwd.dat", StoredForm(L"earlier7")));
    }
    fw::UniqueKernelHandle lock;
    if (row.fault == Fault::kSevenZipHeldForWriting) {
      const std::wstring left = program_ + L"clPacker\\7z.exe";
      ASSERT_TRUE(WriteBytes(left, "left by a crash"));
      lock.reset(CreateFileW(left.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             0, nullptr));
      ASSERT_TRUE(lock.valid());
      ui.onFailure = [&] { lock.reset(); };
    }
    if (row.fault == Fault::kLockedPayload) {
      lock.reset(CreateFileW((work_ + L"\\payload.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr));
      ASSERT_TRUE(lock.valid());
      ui.onFailure = [&] { lock.reset(); };  // whatever held it lets go once the failure shows
    }
    if (row.fault == Fault::kPackerFails) {
      ASSERT_TRUE(WriteBytes(packer_ + L"\\pack.fail", ""));
    }
    if (row.fault == Fault::kNoSevenZipFolder) {
      ASSERT_TRUE(RemoveDirectoryW((program_ + L"clPacker").c_str()));
    }
    ArchivePackInputs inputs;
    inputs.workFolder = work_;
    inputs.packerFolder = packer_;
    inputs.programFolder = program_;
    inputs.outputName = L"wsnode32.exe";
    EXPECT_FALSE(ArchiveAndPack(inputs, ui));
    EXPECT_EQ((std::vector<std::wstring>{kQuestion, kFailed}), ui.shown);
    EXPECT_TRUE(trace_.Contains(row.traced)) << ToUtf8(trace_.Text());
    ExpectNoStepFiles();
    ExpectNoTraceOfThePassword();
    EXPECT_FALSE(FileExists(packer_ + L"\\root.7z"));
    EXPECT_FALSE(FileExists(packer_ + L"\\wsnode32.exe"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(work_.c_str())) << "working folder left";
    DeleteFileW((packer_ + L"\\pack.fail").c_str());
    CreateDirectoryW((program_ + L"clPacker").c_str(), nullptr);
  }
}

// Between their check and the end of the archive run, 7z.exe and 7z.dll can be neither changed,
// deleted nor renamed, nor replaced by another file renamed onto them: the build runs the real
// 7-Zip.
TEST_F(ArchivePackTest, TheWrittenOutSevenZipCannotBeSwappedBeforeItRuns) {
  const std::wstring decoy = dir_ / L"decoy.exe";
  ASSERT_TRUE(WriteBytes(decoy, "not 7-Zip"));
  using Attempt = std::function<bool(const std::wstring& target)>;
  const struct {
    const char* name;
    Attempt attempt;
  } attempts[] = {
      {"opened for writing",
       [](const std::wstring& target) {
         return fw::UniqueKernelHandle(CreateFileW(target.c_str(), GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                   nullptr, OPEN_EXISTING, 0, nullptr))
             .valid();
       }},
      {"deleted", [](const std::wstring& target) { return DeleteFileW(target.c_str()) != FALSE; }},
      {"renamed away",
       [](const std::wstring& target) {
         return MoveFileExW(target.c_str(), (target + L".old").c_str(), 0) != FALSE;
       }},
      {"replaced by a rename",
       [&](const std::wstring& target) {
         return MoveFileExW(decoy.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
       }},
  };
  FillWorkFolder();
  ScriptedBuildUi ui(IDNO, Password::kCancel);
  ArchivePackInputs inputs;
  inputs.workFolder = work_;
  inputs.packerFolder = packer_;
  inputs.programFolder = program_;
  inputs.outputName = L"wsnode64.exe";
  int tried = 0;
  inputs.beforeArchiveRun = [&](const std::wstring& exe) {
    for (const std::wstring& target : {exe, program_ + L"clPacker\\7z.dll"}) {
      for (const auto& attempt : attempts) {
        SCOPED_TRACE(ToUtf8(target) + ": " + attempt.name);
        ++tried;
        EXPECT_FALSE(attempt.attempt(target));
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << "error " << error;
      }
    }
  };
  EXPECT_TRUE(ArchiveAndPack(inputs, ui));
  EXPECT_EQ(2 * static_cast<int>(std::size(attempts)), tried);
  EXPECT_EQ(std::vector<std::wstring>{kQuestion}, ui.shown);
  EXPECT_EQ("7z\xBC\xAF\x27\x1C", ReadBytes(packer_ + L"\\root.7z").substr(0, 6)) << "the real 7-Zip ran";
  EXPECT_EQ("not 7-Zip", ReadBytes(decoy));
  EXPECT_FALSE(FileExists(program_ + L"clPacker\\7z.exe.old"));
  EXPECT_FALSE(FileExists(program_ + L"clPacker\\7z.dll.old"));
  ExpectNoStepFiles();
}

}  // namespace
