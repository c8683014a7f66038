// The program as its users start it: a program folder with tmrovane.exe and its two server
// libraries, started as a process, its window found and closed the way a user would.

#include <gtest/gtest.h>
// sddl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "handles/handles.h"
#include "layout/server_layout.h"
#include "support/registry_backup.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadUtf16;

constexpr wchar_t kTitle[] = L"Halvane Endpoint Security Client Packager";
constexpr int kCloseButton = 1007;

struct Process {
  fw::UniqueKernelHandle handle;
  DWORD id = 0;

  DWORD WaitExit(DWORD milliseconds = 20000) const {
    if (WaitForSingleObject(handle.get(), milliseconds) != WAIT_OBJECT_0) {
      return STILL_ACTIVE;
    }
    DWORD code = 0;
    GetExitCodeProcess(handle.get(), &code);
    return code;
  }
};

// The program's main window: a dialog of the process with the title and a Close button.
HWND FindMainWindow(DWORD processId) {
  struct Search {
    DWORD processId;
    HWND found;
  } search{processId, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM param) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        wchar_t title[256] = L"";
        GetWindowTextW(hwnd, title, 256);
        if (owner == s->processId && wcscmp(title, kTitle) == 0 &&
            GetDlgItem(hwnd, kCloseButton) != nullptr) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForMainWindow(DWORD processId, DWORD milliseconds = 20000) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  while (GetTickCount64() < deadline) {
    if (HWND hwnd = FindMainWindow(processId)) {
      return hwnd;
    }
    Sleep(50);
  }
  return nullptr;
}

// A message box with the program's title shown by the process, once it appears.
HWND WaitForMessageBox(DWORD processId, DWORD milliseconds = 20000) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  while (GetTickCount64() < deadline) {
    HWND candidate = FindWindowW(L"#32770", kTitle);
    DWORD owner = 0;
    GetWindowThreadProcessId(candidate, &owner);
    if (candidate != nullptr && owner == processId) {
      return candidate;
    }
    Sleep(50);
  }
  return nullptr;
}

std::wstring MessageBoxText(HWND box) {
  wchar_t text[512] = L"";
  GetDlgItemTextW(box, 0xFFFF, text, 512);  // the message text of a message box
  return text;
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { LayOut(std::nullopt); }

  // A registered stand-in server with the program folder inside it. With a product version the
  // layout registers it under the key the version library derives.
  void LayOut(const std::optional<std::wstring>& version, bool successFF = false) {
    registry_.reset();
    registry_.emplace(version ? std::wstring(serverlayout::kAppPathsKey) + L"_" + *version
                              : std::wstring(serverlayout::kAppPathsKey));
    serverlayout::Options options;
    options.serverFolder = dir_ / L"Server";
    options.productVersion = version;
    options.successFF = successFF;
    serverlayout::Result result;
    ASSERT_TRUE(serverlayout::LayOutServer(options, &result));
    folder_ = result.programFolder + L"\\";
  }
  void TearDown() override {
    for (Process& p : started_) {
      if (p.WaitExit(0) == STILL_ACTIVE) {
        TerminateProcess(p.handle.get(), 1);
        p.WaitExit();
      }
    }
  }

  Process& Start() {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring command = L"\"" + folder_ + L"tmrovane.exe\"";
    Process& process = started_.emplace_back();
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(),
                       &startup, &info)) {
      CloseHandle(info.hThread);
      process.handle.reset(info.hProcess);
      process.id = info.dwProcessId;
    }
    return process;
  }

  std::wstring LogPath() const { return folder_ + L"tmrovane.log"; }

  // Starts the program, which must refuse to start: its message box shows `text`, no main window
  // appears, and OK ends it with exit code 0. Gives its log.
  std::wstring StartRefused(const wchar_t* text) {
    Process& process = Start();
    EXPECT_TRUE(process.handle);
    HWND box = process.handle ? WaitForMessageBox(process.id) : nullptr;
    EXPECT_NE(nullptr, box) << "no message box";
    if (box == nullptr) {
      return {};
    }
    EXPECT_EQ(text, MessageBoxText(box));
    EXPECT_EQ(nullptr, FindMainWindow(process.id));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(0u, process.WaitExit());
    return ReadUtf16(LogPath());
  }

  // Runs the console companion with `arguments`; its exit code and what it wrote to standard
  // output and standard error together.
  std::pair<DWORD, std::string> RunConsole(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readRaw = nullptr;
    HANDLE writeRaw = nullptr;
    if (!CreatePipe(&readRaw, &writeRaw, &inherit, 1 << 16)) {
      return {STILL_ACTIVE, "no pipe"};
    }
    fw::UniqueKernelHandle read(readRaw);
    fw::UniqueKernelHandle write(writeRaw);
    SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write.get();
    startup.hStdError = write.get();
    PROCESS_INFORMATION info{};
    std::wstring command = L"\"" + folder_ + L"tmrovane.com\" " + arguments;
    Process process;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       folder_.c_str(), &startup, &info)) {
      CloseHandle(info.hThread);
      process.handle.reset(info.hProcess);
    }
    write.reset();
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (process.handle && ReadFile(read.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
      output.append(buffer, got);
    }
    return {process.handle ? process.WaitExit() : STILL_ACTIVE, output};
  }

  testsupport::TempDir dir_;
  std::optional<testsupport::RegistryPathBackup> registry_;
  std::wstring folder_;
  std::deque<Process> started_;  // references stay valid as processes are added
};

// The first copy also removes a password file that a crashed run left; a second copy leaves the
// running copy's alone.
TEST_F(StartupTest, RunsAsOneInstanceAndRemovesItsLogWhenClosed) {
  const std::wstring passwordFile = folder_ + L"pwd.dat";
  ASSERT_TRUE(testsupport::WriteBytes(passwordFile, std::string(40, '\x16')));
  Process& first = Start();
  ASSERT_TRUE(first.handle);
  HWND window = WaitForMainWindow(first.id);
  ASSERT_NE(nullptr, window);
  const std::wstring log = ReadUtf16(LogPath());
  EXPECT_NE(std::wstring::npos, log.find(L" tmrovane.exe InitInstance first instance\r\n"));
  EXPECT_FALSE(FileExists(passwordFile)) << "a crashed run's password file stays";
  EXPECT_NE(std::wstring::npos, log.find(L"RemoveLeftoverPasswordFile Removed the leftover "));
  EXPECT_NE(std::wstring::npos, log.find(L"InitInstance GetMutexNameByVersion failed\r\n"))
      << "without a product version the library answers false";

  ASSERT_TRUE(testsupport::WriteBytes(passwordFile, std::string(40, '\x16')));  // the running copy's build
  Process& second = Start();
  ASSERT_TRUE(second.handle);
  EXPECT_EQ(0u, second.WaitExit()) << "the second copy ends by itself";
  EXPECT_EQ(nullptr, FindMainWindow(second.id));
  EXPECT_TRUE(FileExists(passwordFile)) << "the second copy removed the running copy's password file";
  ASSERT_TRUE(FileExists(LogPath())) << "the running copy's log must survive the second copy";
  EXPECT_NE(std::wstring::npos,
            ReadUtf16(LogPath()).find(L"InitInstance second instance. so exiting...\r\n"));

  PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), first.WaitExit(300)) << "Escape and Cancel do not close it";
  PostMessageW(GetDlgItem(window, kCloseButton), BM_CLICK, 0, 0);
  EXPECT_EQ(0u, first.WaitExit());
  EXPECT_FALSE(FileExists(LogPath()));
}

// A copy in another session holds only the global name: this one must not start beside it.
TEST_F(StartupTest, AGlobalCopyInAnotherSessionCountsAsASecondInstance) {
  fw::UniqueKernelHandle other(CreateMutexW(nullptr, FALSE, L"Global\\ADMIN_CLIENT_PACKER"));
  ASSERT_TRUE(other);
  ASSERT_EQ(nullptr, OpenMutexW(SYNCHRONIZE, FALSE, L"ADMIN_CLIENT_PACKER")) << "the session name is free";
  Process& process = Start();
  ASSERT_TRUE(process.handle);
  EXPECT_EQ(0u, process.WaitExit());
  EXPECT_EQ(nullptr, FindMainWindow(process.id));
  EXPECT_NE(std::wstring::npos,
            ReadUtf16(LogPath()).find(L"InitInstance second instance. so exiting...\r\n"));
}

// A global name that this account may not open (here one only SYSTEM may touch, as a standard
// user's squat or another account's copy would be) is not taken for a second copy silently: the
// program says why it does not start.
TEST_F(StartupTest, ALockThatMayNotBeOpenedIsReportedNotSwallowed) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)", SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  const std::unique_ptr<void, decltype(&LocalFree)> descriptorOwner(descriptor, &LocalFree);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  fw::UniqueKernelHandle squat(CreateMutexW(&attributes, FALSE, L"Global\\ADMIN_CLIENT_PACKER"));
  ASSERT_TRUE(squat);
  ASSERT_EQ(nullptr, OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"Global\\ADMIN_CLIENT_PACKER"));
  ASSERT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError()) << "the name is refused to this account";

  EXPECT_NE(std::wstring::npos,
            StartRefused(L"Another program holds this server's Client Packager lock, and it could not be "
                         L"checked. Close other copies, or ask an administrator to sign out other sessions.")
                .find(L"InitInstance the single-instance lock may not be opened (access denied)\r\n"));
}

// A lock that cannot be made (here: an event holds its global name, so no mutex can have it) is
// neither another copy nor an unknown holder: the program says it failed, with the error code,
// and traces the call that failed.
TEST_F(StartupTest, ALockThatCannotBeMadeIsReportedAsAFailureWithItsErrorCode) {
  fw::UniqueKernelHandle squat(CreateEventW(nullptr, TRUE, FALSE, L"Global\\ADMIN_CLIENT_PACKER"));
  ASSERT_TRUE(squat);
  const std::wstring log = StartRefused(
      L"This server's Client Packager lock could not be created (error 6). Nothing was changed; "
      L"try again, and restart the computer if this persists.");
  EXPECT_NE(std::wstring::npos,
            log.find(L"InitInstance CreateMutexW Global\\ADMIN_CLIENT_PACKER failed (Err -> 6)\r\n"))
      << testing::PrintToString(log);
  EXPECT_EQ(std::wstring::npos, log.find(L"second instance")) << "taken for another copy";
}

// The console companion shares the dialog's lock: while the dialog, a copy in another session or
// an unknown holder has it, "create" refuses with exit code 4 and says why, leaving the holder's
// log alone; with the lock free it builds (here: refuses the destination, exit code 2) and
// removes its log.
TEST_F(StartupTest, TheConsoleCompanionSharesTheSingleInstanceLock) {
  struct Row {
    const char* name;
    enum { kFree, kDialog, kGlobal, kDenied, kEvent } holder;
    DWORD exitCode;
    const char* said;
  };
  const Row rows[] = {
      {"lock free", Row::kFree, 2, "3017: Please specify a valid path."},
      {"the dialog runs", Row::kDialog, 4, "Another copy of the Client Packager is running for this server"},
      {"a copy in another session", Row::kGlobal, 4, "Another copy of the Client Packager is running"},
      {"a squat that may not be opened", Row::kDenied, 4,
       "Another program holds this server's Client Packager lock, and it could not be checked."},
      // No copy holds it: the lock cannot be made, a failure of this copy and said so.
      {"an event under the lock's name", Row::kEvent, 5,
       "This server's Client Packager lock could not be created (error 6). Nothing was changed"},
  };
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)", SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  const std::unique_ptr<void, decltype(&LocalFree)> descriptorOwner(descriptor, &LocalFree);
  SECURITY_ATTRIBUTES denied{sizeof(denied), descriptor, FALSE};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fw::UniqueKernelHandle squat;
    HWND window = nullptr;
    if (row.holder == Row::kDialog) {
      Process& dialog = Start();
      window = WaitForMainWindow(dialog.id);
      ASSERT_NE(nullptr, window);
    } else if (row.holder == Row::kEvent) {
      squat.reset(CreateEventW(nullptr, TRUE, FALSE, L"Global\\ADMIN_CLIENT_PACKER"));
      ASSERT_TRUE(squat);
    } else if (row.holder != Row::kFree) {
      squat.reset(CreateMutexW(row.holder == Row::kDenied ? &denied : nullptr, FALSE,
                               L"Global\\ADMIN_CLIENT_PACKER"));
      ASSERT_TRUE(squat);
    }
    const auto [code, output] =
        RunConsole(L"create --antivirus no --destination \"" + (dir_ / L"nowhere") + L"\"");
    EXPECT_EQ(row.exitCode, code) << output;
    EXPECT_NE(std::string::npos, output.find(row.said)) << output;
    EXPECT_EQ(row.holder == Row::kDialog, FileExists(LogPath())) << "only the dialog's log may remain";
    if (window != nullptr) {
      PostMessageW(GetDlgItem(window, kCloseButton), BM_CLICK, 0, 0);
      EXPECT_EQ(0u, started_.back().WaitExit());
    }
  }
}

TEST_F(StartupTest, TheCloseBoxEndsTheProgramToo) {
  Process& process = Start();
  HWND window = WaitForMainWindow(process.id);
  ASSERT_NE(nullptr, window);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(0u, process.WaitExit());
  EXPECT_FALSE(FileExists(LogPath()));
}

// Any non-zero byte is the library's success: 1 and 0xFF alike.
TEST_F(StartupTest, TheVersionLibraryNamesTheMutexAndTheServerKey) {
  for (const bool successFF : {false, true}) {
    SCOPED_TRACE(successFF ? "success 0xFF" : "success 1");
    LayOut(L"7.2", successFF);
    Process& process = Start();
    HWND window = WaitForMainWindow(process.id);
    ASSERT_NE(nullptr, window);
    fw::UniqueKernelHandle versioned(OpenMutexW(SYNCHRONIZE, FALSE, L"ADMIN_CLIENT_PACKER_7.2"));
    fw::UniqueKernelHandle plain(OpenMutexW(SYNCHRONIZE, FALSE, L"ADMIN_CLIENT_PACKER"));
    EXPECT_TRUE(versioned);
    EXPECT_FALSE(plain);
    const std::wstring log = ReadUtf16(LogPath());
    EXPECT_EQ(std::wstring::npos, log.find(L"GetMutexNameByVersion failed"));
    EXPECT_EQ(std::wstring::npos, log.find(L"Unable to open registry key")) << "the versioned key was used";
    EXPECT_EQ(std::wstring::npos, log.find(L"GetRegValue failed"));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, process.WaitExit());
  }
}

TEST_F(StartupTest, WithoutTheVersionLibraryTheProgramCannotStart) {
  ASSERT_TRUE(DeleteFileW((folder_ + L"verkit.dll").c_str()));
  Process& process = Start();
  if (process.handle) {  // the loader may refuse at once or end the new process
    EXPECT_EQ(0xC0000135u, process.WaitExit());
  }
  EXPECT_FALSE(FileExists(LogPath())) << "nothing of the program ran";
}

}  // namespace
