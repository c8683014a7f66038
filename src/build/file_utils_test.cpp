#include "build/file_utils.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "handles/handles.h"
#include "log/trace_log.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

using testsupport::FileExists;
using testsupport::WriteBytes;

// Sends the trace log into the test's temporary folder so that lines can be checked.
class FileUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = tracelog::GetSettings();
    tracelog::GetSettings().filePath = logPath_.c_str();
  }
  void TearDown() override { tracelog::GetSettings() = saved_; }
  bool Logged(const std::wstring& text) const {
    return testsupport::ReadUtf16(logPath_).find(text) != std::wstring::npos;
  }

  testsupport::TempDir dir_;
  std::wstring logPath_ = dir_ / L"trace.log";
  tracelog::Settings saved_;
};

// Chosen answers of the two free-space queries (a real full drive is checked by
// full_drive_test.sh).
struct FakeDisk {
  bool exAnswers;
  unsigned long long exTotalFree;
  bool clustersAnswer;
  DWORD sectorsPerCluster, bytesPerSector, freeClusters;
} g_disk;

BOOL WINAPI FakeEx(LPCWSTR, PULARGE_INTEGER callerFree, PULARGE_INTEGER total, PULARGE_INTEGER totalFree) {
  ::SetLastError(ERROR_NOT_READY);
  callerFree->QuadPart = 1;  // a caller's quota below the volume's free space is not what counts
  total->QuadPart = ~0ull;
  totalFree->QuadPart = g_disk.exTotalFree;
  return g_disk.exAnswers;
}

BOOL WINAPI FakeClusters(LPCWSTR, LPDWORD sectors, LPDWORD bytes, LPDWORD freeClusters, LPDWORD total) {
  ::SetLastError(ERROR_NOT_READY);
  *sectors = g_disk.sectorsPerCluster;
  *bytes = g_disk.bytesPerSector;
  *freeClusters = *total = g_disk.freeClusters;
  return g_disk.clustersAnswer;
}

TEST_F(FileUtilsTest, DiskSpaceComparesFreeBytesWithTheRequiredMegabytes) {
  constexpr unsigned long long kMb = 1048576ull;
  const struct {
    const char* name;
    bool haveEx;
    FakeDisk disk;
    DWORD requiredMb;
    bool expected;
  } rows[] = {
      {"exactly the required bytes", true, {true, 700 * kMb, false, 0, 0, 0}, 700, true},
      {"one byte less", true, {true, 700 * kMb - 1, false, 0, 0, 0}, 700, false},
      {"nothing required, nothing free", true, {true, 0, false, 0, 0, 0}, 0, true},
      {"4096 MB is 2^32 bytes", true, {true, 4096 * kMb - 1, false, 0, 0, 0}, 4096, false},
      {"largest requirement", true, {true, 0xFFFFFFFFull * kMb, false, 0, 0, 0}, 0xFFFFFFFF, true},
      // 8 x 512 x 2,000,000 = 8,192,000,000 bytes: right only when multiplied in 64 bits.
      {"fallback above 4 GB", false, {false, 0, true, 8, 512, 2000000}, 7812, true},
      {"fallback one sector short", false, {false, 0, true, 1, 512, 10239}, 5, false},
      {"failed extended query falls back", true, {false, 0, true, 1, 512, 10240}, 5, true},
      {"both queries fail", true, {false, 0, false, 0, 0, 0}, 0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    g_disk = row.disk;
    const DiskSpaceQueries queries{row.haveEx ? &FakeEx : nullptr, &FakeClusters};
    EXPECT_EQ(row.expected, IsDiskSpaceAvailable(L"C:\\", row.requiredMb, queries));
  }
  EXPECT_TRUE(Logged(L"GetDiskFreeSpaceEx failed Err: (21)."));
  EXPECT_TRUE(Logged(L"Obtaining Disk free space Failed"));
  EXPECT_FALSE(IsDiskSpaceAvailable(nullptr, 0));
}

TEST_F(FileUtilsTest, CleanFolderDeletesMarkedFilesAndKeepsSubFolders) {
  const std::wstring work = dir_ / L"work";
  ASSERT_TRUE(::CreateDirectoryW(work.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((work + L"\\sub").c_str(), nullptr));
  for (const wchar_t* name : {L"plain.txt", L"readonly.dat", L"hidden.ini", L"sub\\inner.txt"}) {
    ASSERT_TRUE(WriteBytes(work + L"\\" + name, "x"));
  }
  ASSERT_TRUE(::SetFileAttributesW((work + L"\\readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(::SetFileAttributesW((work + L"\\hidden.ini").c_str(), FILE_ATTRIBUTE_HIDDEN));

  EXPECT_TRUE(CleanFolder(work.c_str()));
  for (const wchar_t* name : {L"plain.txt", L"readonly.dat", L"hidden.ini"}) {
    EXPECT_FALSE(FileExists(work + L"\\" + name)) << testing::PrintToString(name);
  }
  EXPECT_TRUE(FileExists(work + L"\\sub\\inner.txt"));
  EXPECT_TRUE(CleanFolder((dir_ / L"absent").c_str()));
  EXPECT_FALSE(CleanFolder(nullptr));
  EXPECT_FALSE(CleanFolder(std::wstring(MAX_PATH, L'a').c_str()));
}

TEST_F(FileUtilsTest, CleanFolderStopsAtAFileItCannotDelete) {
  const std::wstring busy = dir_ / L"busy.bin";
  ASSERT_TRUE(WriteBytes(busy, "x"));
  {
    fw::UniqueKernelHandle open(::CreateFileW(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                              nullptr));  // no delete sharing
    ASSERT_TRUE(open.valid());
    EXPECT_FALSE(CleanFolder(dir_.path().c_str()));
    EXPECT_TRUE(Logged(L"Deletefile failed for " + busy + L" (Err -> 32)"));
  }
  EXPECT_TRUE(FileExists(busy));
}

TEST_F(FileUtilsTest, ExecFileWaitsAndHandsBackTheExitCode) {
  wchar_t system[MAX_PATH];
  ::GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring marker = dir_ / L"marker.txt";
  const std::wstring cmd =
      L"\"" + std::wstring(system) + L"\\cmd.exe\" /c echo x>\"" + marker + L"\"& exit 7";
  DWORD exitCode = 0;
  EXPECT_TRUE(ExecFile(cmd.c_str(), SW_HIDE, true, &exitCode));
  EXPECT_EQ(7u, exitCode);
  EXPECT_TRUE(FileExists(marker)) << "returns after the child has ended";

  // 2,999 characters run; one more is refused rather than cut short.
  std::wstring longest = cmd + L" & rem ";
  longest.append(kExecCommandCapacity - 1 - longest.size(), L'x');
  ASSERT_TRUE(::DeleteFileW(marker.c_str()));
  EXPECT_TRUE(ExecFile(longest.c_str(), SW_HIDE, true, &exitCode));
  ASSERT_TRUE(::DeleteFileW(marker.c_str()));
  EXPECT_FALSE(ExecFile((longest + L"x").c_str(), SW_HIDE, true, &exitCode));
  EXPECT_FALSE(FileExists(marker));

  EXPECT_FALSE(ExecFile((L"\"" + (dir_ / L"missing.exe") + L"\"").c_str(), SW_HIDE, true, &exitCode));
  EXPECT_EQ(0xFFFFFFFFu, exitCode);
  EXPECT_TRUE(Logged(L"CreateProcess failed.Error(2)"));
}

// A program held open without read sharing, as a scanner holds one it is checking, cannot be
// started until it is let go: the start is tried again after each pause, and only a lasting
// reason ends the tries at once.
TEST_F(FileUtilsTest, StartProcessTriesAgainWhileTheProgramIsHeld) {
  wchar_t self[MAX_PATH];
  ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  const std::wstring program = dir_ / L"child.exe";
  ASSERT_TRUE(::CopyFileW(self, program.c_str(), TRUE));
  const std::vector<DWORD> allPauses(std::begin(kStartRetryPausesMs), std::end(kStartRetryPausesMs));
  const struct {
    const char* name;
    std::wstring file;
    size_t heldForTries;  // the pause after this many tries lets go of the program
    bool starts;
    DWORD error;
    std::vector<DWORD> pauses;
  } rows[] = {
      {"held for the first try", program, 1, true, 0, {allPauses[0]}},
      {"held throughout", program, SIZE_MAX, false, ERROR_SHARING_VIOLATION, allPauses},
      {"missing", dir_ / L"missing.exe", 0, false, ERROR_FILE_NOT_FOUND, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fw::UniqueKernelHandle held(
        ::CreateFileW(program.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    std::vector<DWORD> pauses;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    DWORD error = 0;
    const bool started = StartProcess((L"\"" + row.file + L"\" --gtest_filter=None").c_str(), FALSE, 0,
                                      startup, info, error, [&](DWORD milliseconds) {
                                        pauses.push_back(milliseconds);
                                        if (pauses.size() == row.heldForTries) {
                                          held.reset();
                                        }
                                      });
    EXPECT_EQ(row.starts, started);
    EXPECT_EQ(row.pauses, pauses);
    if (started) {
      const fw::UniqueKernelHandle process(info.hProcess);
      const fw::UniqueKernelHandle thread(info.hThread);
      EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 60000));
    } else {
      EXPECT_EQ(row.error, error);
    }
  }
  DWORD code = 0;
  EXPECT_EQ(ChildRun::kNotStarted, ExecFileReading((L"\"" + (dir_ / L"missing.exe") + L"\"").c_str(),
                                                   [](const char*, size_t) {}, code));
  EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, code) << "a child that never started hands back why";
}

TEST_F(FileUtilsTest, EmptyFolderTreeRemovesFilesAndSubFolders) {
  const std::wstring work = dir_ / L"work";
  ASSERT_TRUE(::CreateDirectoryW(work.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((work + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((work + L"\\sub\\deeper").c_str(), nullptr));
  for (const wchar_t* name : {L"top.txt", L"sub\\inner.txt", L"sub\\deeper\\deepest.txt"}) {
    ASSERT_TRUE(WriteBytes(work + L"\\" + name, "x"));
  }
  EXPECT_TRUE(EmptyFolderTree(work.c_str()));
  EXPECT_TRUE(::RemoveDirectoryW(work.c_str())) << "the folder is left empty";
  EXPECT_TRUE(EmptyFolderTree((dir_ / L"absent").c_str()));

  // A file that cannot go stops it.
  ASSERT_TRUE(::CreateDirectoryW(work.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((work + L"\\sub").c_str(), nullptr));
  const std::wstring busy = work + L"\\sub\\busy.bin";
  ASSERT_TRUE(WriteBytes(busy, "x"));
  fw::UniqueKernelHandle open(
      ::CreateFileW(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(EmptyFolderTree(work.c_str()));
}

// The guard removes its folder with whatever is in it when it goes; kept, or never armed, it
// leaves the folder as it is; one it cannot empty stays.
TEST_F(FileUtilsTest, WorkingFolderGuardRemovesItsFolderUnlessKept) {
  testsupport::TraceCapture trace;
  const std::wstring work = dir_ / L"work";
  const auto fill = [&] {
    ASSERT_TRUE(::CreateDirectoryW(work.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((work + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(work + L"\\sub\\borrowed.dmg", "image"));
  };
  fill();
  { WorkingFolderGuard guard; }
  EXPECT_TRUE(FileExists(work + L"\\sub\\borrowed.dmg")) << "a guard that was never armed";
  {
    WorkingFolderGuard guard;
    guard.Arm(work.c_str(), L"Test");
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(work.c_str())) << "the armed guard removes it";
  fill();
  {
    WorkingFolderGuard guard;
    guard.Arm(work.c_str(), L"Test");
    guard.Keep();
  }
  EXPECT_TRUE(FileExists(work + L"\\sub\\borrowed.dmg")) << "a kept folder stays whole";
  {
    fw::UniqueKernelHandle open(::CreateFileW((work + L"\\sub\\borrowed.dmg").c_str(), GENERIC_READ, 0,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
    WorkingFolderGuard guard;
    guard.Arm(work.c_str(), L"Test");
  }
  EXPECT_TRUE(FileExists(work + L"\\sub\\borrowed.dmg"));
  EXPECT_TRUE(trace.Contains(L"Test The working folder " + work + L" is kept"))
      << "what could not go is traced";
}

// Counts the paint messages of a window of the test's thread.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    if (auto* count = reinterpret_cast<int*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
      ++*count;
    }
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(FileUtilsTest, ExecFileRepaintsWindowsWhileItWaitsAndLeavesInputQueued) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = CountingProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ExecFilePaintProbe";
  ::RegisterClassW(&windowClass);
  fw::UniqueWindow window(::CreateWindowExW(0, windowClass.lpszClassName, L"probe",
                                            WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                            nullptr, windowClass.hInstance, nullptr));
  ASSERT_TRUE(window.valid());
  int paints = 0;
  ::SetWindowLongPtrW(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&paints));
  ::UpdateWindow(window.get());
  paints = 0;
  ::InvalidateRect(window.get(), nullptr, TRUE);
  ::PostMessageW(window.get(), WM_USER + 7, 0, 0);

  // A child that runs for a moment, so that the wait sees the pending paint before the exit.
  wchar_t system[MAX_PATH];
  ::GetSystemDirectoryW(system, MAX_PATH);
  DWORD exitCode = 0;
  EXPECT_TRUE(ExecFile(
      (L"\"" + std::wstring(system) + L"\\cmd.exe\" /c (for /l %i in (1,1,3000) do @cd .) & exit 3").c_str(),
      SW_HIDE, true, &exitCode));
  EXPECT_EQ(3u, exitCode);
  EXPECT_EQ(1, paints);
  MSG message;
  EXPECT_TRUE(::PeekMessageW(&message, window.get(), WM_USER + 7, WM_USER + 7, PM_REMOVE))
      << "input stays queued";
}

TEST_F(FileUtilsTest, ExtractExeToDiskWritesTheWholeResource) {
  // Resource 901 "EXE" holds testdata/resource_blob.bin: byte i is (7i + i / 256) mod 256.
  std::string blob(3000, '\0');
  for (size_t i = 0; i < blob.size(); ++i) {
    blob[i] = static_cast<char>((i * 7 + i / 256) % 256);
  }
  const std::wstring target = dir_ / L"7z.exe";
  ASSERT_TRUE(WriteBytes(target, std::string(10000, 'L')));
  {
    const fw::UniqueKernelHandle held = ExtractExeToDisk(target.c_str(), 901, L"EXE");
    EXPECT_TRUE(held.valid());
    EXPECT_EQ(blob, testsupport::ReadBytes(target)) << "a larger old file is replaced as a whole";
    // Held: readable by all, but neither writable nor deletable by anyone.
    EXPECT_FALSE(
        fw::UniqueKernelHandle(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr)));
    EXPECT_FALSE(DeleteFileW(target.c_str()));
  }
  EXPECT_TRUE(DeleteFileW(target.c_str())) << "let go with its handle";

  EXPECT_FALSE(ExtractExeToDisk((dir_ / L"a.dll").c_str(), 901, L"DLL"));
  EXPECT_TRUE(Logged(L"FindResource failed"));
  EXPECT_FALSE(FileExists(dir_ / L"a.dll"));
  EXPECT_FALSE(ExtractExeToDisk((dir_ / L"absent\\7z.exe").c_str(), 901, L"EXE"));
  EXPECT_TRUE(Logged(L"_open failed"));
}

// The file at the destination is either the whole new one (as the finishing step left it, when
// there is one) or, after any failure, the old one exactly; no temporary file stays either way.
TEST_F(FileUtilsTest, MoveFileIntoPlaceReplacesOnlyWithAWholeFile) {
  const std::wstring source = dir_ / L"new.bin", destination = dir_ / L"setup.exe";
  const std::wstring temporary = destination + kTemporarySuffix;
  // What runs on the temporary file before the rename, as signing does.
  enum class Finish { kNone, kAppends, kFails, kAppendsUnsaid };
  const struct {
    const char* name;
    DWORD heldShare;  // the old file held open with this sharing; ~0u: not held
    bool folderAtDestination, leftover;
    Finish finish;
    bool placed;
  } rows[] = {
      {"replaces the old file", ~0u, false, false, Finish::kNone, true},
      {"a crashed run's temporary file is overwritten", ~0u, false, true, Finish::kNone, true},
      {"old file held with read and delete sharing", FILE_SHARE_READ | FILE_SHARE_DELETE, false, false,
       Finish::kNone, false},
      {"old file locked", 0, false, false, Finish::kNone, false},
      {"a folder at the destination", ~0u, true, false, Finish::kNone, false},
      {"the finishing step appends and says so", ~0u, false, false, Finish::kAppends, true},
      {"the finishing step fails", ~0u, false, false, Finish::kFails, false},
      {"the finishing step appends more than it says", ~0u, false, false, Finish::kAppendsUnsaid, false},
  };
  const auto finishWith = [&](Finish finish) -> FinishTemporary {
    if (finish == Finish::kNone) {
      return nullptr;
    }
    return [&, finish](const wchar_t* path, unsigned long long& bytes) {
      EXPECT_EQ(std::wstring(path), temporary);
      EXPECT_EQ(bytes, 70000u);
      if (finish == Finish::kFails) {
        return false;
      }
      const bool appended = WriteBytes(path, std::string(70000, 'n') + "signature");
      bytes += finish == Finish::kAppends ? 9 : 0;
      return appended;
    };
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(WriteBytes(source, std::string(70000, 'n')));
    if (row.folderAtDestination) {
      ASSERT_TRUE(::CreateDirectoryW(destination.c_str(), nullptr));
    } else {
      ASSERT_TRUE(WriteBytes(destination, "old"));
    }
    if (row.leftover) {
      ASSERT_TRUE(WriteBytes(temporary, "partial"));
    }
    fw::UniqueKernelHandle held;
    if (row.heldShare != ~0u) {
      held.reset(::CreateFileW(destination.c_str(), GENERIC_READ, row.heldShare, nullptr, OPEN_EXISTING, 0,
                               nullptr));
      ASSERT_TRUE(held.valid());
    }
    EXPECT_EQ(MoveFileIntoPlace(source.c_str(), destination.c_str(), finishWith(row.finish)), row.placed);
    held.reset();
    EXPECT_FALSE(FileExists(temporary));
    if (row.folderAtDestination) {
      EXPECT_TRUE(::RemoveDirectoryW(destination.c_str()));
    } else {
      const std::string placed =
          std::string(70000, 'n') + (row.finish == Finish::kAppends ? "signature" : "");
      EXPECT_EQ(testsupport::ReadBytes(destination), row.placed ? placed : "old");
      EXPECT_TRUE(::DeleteFileW(destination.c_str()));
    }
    ::DeleteFileW(source.c_str());
  }

  // A temporary file short of what was written is never put in place.
  ASSERT_TRUE(WriteBytes(destination, "old"));
  ASSERT_TRUE(WriteBytes(temporary, "short"));
  EXPECT_FALSE(CommitTemporaryFile(temporary.c_str(), destination.c_str(), 6));
  EXPECT_FALSE(FileExists(temporary));
  EXPECT_EQ(testsupport::ReadBytes(destination), "old");

  // A leftover is removed; one that cannot be removed is reported; none is no failure.
  ASSERT_TRUE(WriteBytes(temporary, "partial"));
  fw::UniqueKernelHandle locked(
      ::CreateFileW(temporary.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(RemoveLeftoverTemporary(destination.c_str()));
  locked.reset();
  EXPECT_TRUE(RemoveLeftoverTemporary(destination.c_str()));
  EXPECT_FALSE(FileExists(temporary));
  EXPECT_TRUE(RemoveLeftoverTemporary(destination.c_str()));
  EXPECT_FALSE(RemoveLeftoverTemporary((L"C:\\" + std::wstring(MAX_PATH - 6, L'x')).c_str()));
}

TEST(ReplaceToken, ReplacesEveryOccurrenceWithinTheCapacity) {
  const std::wstring longTail = L"%s" + std::wstring(2000, L'r');
  const struct {
    std::wstring text;
    size_t capacity;
    const wchar_t* token;
    const wchar_t* replacement;
    bool ok;
    std::wstring expected;
  } rows[] = {
      {L"%s and %s", 64, L"%s", L"abc", true, L"abc and abc"},
      {L"no token here", 64, L"%s", L"abc", true, L"no token here"},
      {L"<X>", 64, L"X", L"[X]", true, L"<[X]>"},  // a replacement holding the token
      {L"aaa", 64, L"aa", L"b", true, L"ba"},
      {L"a%s", 7, L"%s", L"bcdef", true, L"abcdef"},
      {L"a%s", 6, L"%s", L"bcdef", false, L"a%s"},  // one character short: unchanged
      {longTail, 4096, L"%s", L"<>", true, L"<>" + longTail.substr(2)},
      {L"x", 64, L"", L"y", false, L"x"},
      {L"x", 64, nullptr, L"y", false, L"x"},
      {L"x", 64, L"x", nullptr, false, L"x"},
      {L"%s", 2, L"%s", L"y", false, L"%s"},  // not terminated within the capacity
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.text.substr(0, 20)));
    std::wstring buffer = row.text;
    buffer.resize(4096);
    size_t outLength = 99;
    EXPECT_EQ(row.ok, ReplaceToken(buffer.data(), row.capacity, row.token, row.replacement, &outLength));
    EXPECT_EQ(row.expected, std::wstring(buffer.c_str()));
    EXPECT_EQ(row.ok && row.text != row.expected ? wcslen(row.replacement) : 0u, outLength);
  }
}

}  // namespace
