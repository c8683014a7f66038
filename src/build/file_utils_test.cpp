#include "build/file_utils.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/handles.h"
#include "log/trace_log.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// Sends the trace log into the test's temporary folder so that lines can be checked.
class FileUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = tracelog::GetSettings();
    logPath_ = dir_ / L"trace.log";
    tracelog::GetSettings().filePath = logPath_.c_str();
  }
  void TearDown() override { tracelog::GetSettings() = saved_; }

  bool Logged(const std::wstring& text) const {
    return testsupport::ReadUtf16(logPath_).find(text) != std::wstring::npos;
  }

  TempDir dir_;
  std::wstring logPath_;
  tracelog::Settings saved_;
};

// ---- Free space: the arithmetic against chosen answers of the two system queries.

struct FakeDisk {
  bool exAnswers;
  unsigned long long exTotalFree;
  bool clustersAnswer;
  DWORD sectorsPerCluster, bytesPerSector, freeClusters;
};
FakeDisk g_disk;

BOOL WINAPI FakeEx(LPCWSTR, PULARGE_INTEGER callerFree, PULARGE_INTEGER total, PULARGE_INTEGER totalFree) {
  if (!g_disk.exAnswers) {
    ::SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  callerFree->QuadPart = 1;  // a quota below the volume's free space must not be used
  total->QuadPart = ~0ull;
  totalFree->QuadPart = g_disk.exTotalFree;
  return TRUE;
}

BOOL WINAPI FakeClusters(LPCWSTR, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector, LPDWORD freeClusters,
                         LPDWORD totalClusters) {
  if (!g_disk.clustersAnswer) {
    ::SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  *sectorsPerCluster = g_disk.sectorsPerCluster;
  *bytesPerSector = g_disk.bytesPerSector;
  *freeClusters = g_disk.freeClusters;
  *totalClusters = g_disk.freeClusters;
  return TRUE;
}

constexpr unsigned long long kMb = 1048576ull;

TEST_F(FileUtilsTest, DiskSpaceComparesFreeBytesWithTheRequiredMegabytes) {
  struct Row {
    const char* name;
    bool haveEx;
    FakeDisk disk;
    DWORD requiredMb;
    bool expected;
  };
  const Row rows[] = {
      {"exactly the required bytes", true, {true, 700 * kMb, false, 0, 0, 0}, 700, true},
      {"one byte less", true, {true, 700 * kMb - 1, false, 0, 0, 0}, 700, false},
      {"nothing required, nothing free", true, {true, 0, false, 0, 0, 0}, 0, true},
      {"more than 4 GB free", true, {true, 5000 * kMb, false, 0, 0, 0}, 4500, true},
      {"requirement above 4 GB in bytes", true, {true, 4096 * kMb - 1, false, 0, 0, 0}, 4096, false},
      {"largest requirement", true, {true, 0xFFFFFFFFull * kMb, false, 0, 0, 0}, 0xFFFFFFFF, true},
      // 8 x 512 x 2,000,000 = 8,192,000,000 bytes: only right when multiplied in 64 bits.
      {"fallback above 4 GB", false, {false, 0, true, 8, 512, 2000000}, 7812, true},
      {"fallback one sector short", false, {false, 0, true, 1, 512, 10239}, 5, false},
      {"fallback exactly", false, {false, 0, true, 1, 512, 10240}, 5, true},
      {"failed extended query falls back", true, {false, 0, true, 1, 512, 10240}, 5, true},
      {"both queries fail", true, {false, 0, false, 0, 0, 0}, 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    g_disk = row.disk;
    DiskSpaceQueries queries;
    queries.getDiskFreeSpaceEx = row.haveEx ? &FakeEx : nullptr;
    queries.getDiskFreeSpace = &FakeClusters;
    EXPECT_EQ(row.expected, IsDiskSpaceAvailable(L"C:\\", row.requiredMb, queries));
  }
}

TEST_F(FileUtilsTest, DiskSpaceTracesEachRoute) {
  DiskSpaceQueries queries;
  queries.getDiskFreeSpace = &FakeClusters;
  g_disk = {false, 0, true, 1, 512, 2048};  // 1 MB
  EXPECT_TRUE(IsDiskSpaceAvailable(L"C:\\", 1, queries));
  EXPECT_TRUE(Logged(L"Calling GetDiskFreeSpace"));
  EXPECT_TRUE(Logged(L"Free Disk Space = 1 MB, Required Disk Space = 1 MB"));

  queries.getDiskFreeSpaceEx = &FakeEx;
  g_disk.clustersAnswer = false;
  EXPECT_FALSE(IsDiskSpaceAvailable(L"C:\\", 1, queries));
  EXPECT_TRUE(Logged(L"GetDiskFreeSpaceEx failed Err: (21)."));
  EXPECT_TRUE(Logged(L"GetDiskFreeSpace failed: Err: (21)."));
  EXPECT_TRUE(Logged(L"Obtaining Disk free space Failed"));

  EXPECT_FALSE(IsDiskSpaceAvailable(nullptr, 0, queries));
  EXPECT_TRUE(Logged(L"Invalid arguments"));
}

TEST_F(FileUtilsTest, DiskSpaceOfRealDrives) {
  EXPECT_TRUE(IsDiskSpaceAvailable(L"C:\\", 0));
  EXPECT_TRUE(IsDiskSpaceAvailable(L"C:\\", 1));
  EXPECT_FALSE(IsDiskSpaceAvailable(L"C:\\", 0xFFFFFFFF)) << "4 PB free is not plausible";
  EXPECT_FALSE(IsDiskSpaceAvailable(L"Q:\\", 0)) << "a drive that does not exist";
}

// ---- CleanFolder

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
  EXPECT_FALSE(FileExists(work + L"\\plain.txt"));
  EXPECT_FALSE(FileExists(work + L"\\readonly.dat"));
  EXPECT_FALSE(FileExists(work + L"\\hidden.ini"));
  EXPECT_TRUE(FileExists(work + L"\\sub\\inner.txt"));
  EXPECT_TRUE(Logged(L"CleanFolder success"));
}

TEST_F(FileUtilsTest, CleanFolderStopsAtAFileItCannotDelete) {
  const std::wstring work = dir_ / L"work";
  ASSERT_TRUE(::CreateDirectoryW(work.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(work + L"\\busy.bin", "x"));
  {
    // Opened without delete sharing, so the delete fails.
    fw::UniqueKernelHandle busy(
        ::CreateFileW((work + L"\\busy.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy.valid());
    EXPECT_FALSE(CleanFolder(work.c_str()));
    EXPECT_TRUE(FileExists(work + L"\\busy.bin"));
    EXPECT_TRUE(Logged(L"Deletefile failed for " + work + L"\\busy.bin (Err -> 32)"));
  }
  EXPECT_TRUE(CleanFolder(work.c_str()));
  EXPECT_FALSE(FileExists(work + L"\\busy.bin"));
}

TEST_F(FileUtilsTest, CleanFolderOfMissingFolderSucceedsAndOfNoFolderFails) {
  EXPECT_TRUE(CleanFolder((dir_ / L"absent").c_str()));
  EXPECT_FALSE(CleanFolder(nullptr));
  EXPECT_TRUE(Logged(L"Invalid argument"));
  const std::wstring tooLong(MAX_PATH, L'a');
  EXPECT_FALSE(CleanFolder(tooLong.c_str()));
}

// ---- ExecFile

std::wstring SystemCmd() {
  wchar_t folder[MAX_PATH];
  ::GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(L"\"") + folder + L"\\cmd.exe\"";
}

TEST_F(FileUtilsTest, ExecFileWaitsAndHandsBackTheExitCode) {
  const std::wstring marker = dir_ / L"marker.txt";
  DWORD exitCode = 0;
  const std::wstring command = SystemCmd() + L" /c echo done>\"" + marker + L"\"& exit 7";
  EXPECT_TRUE(ExecFile(command.c_str(), SW_HIDE, true, &exitCode));
  EXPECT_EQ(7u, exitCode) << "a child that fails still counts as started; its code tells the caller";
  EXPECT_TRUE(FileExists(marker)) << "waited for the child";
  EXPECT_TRUE(Logged(L"Createprocess success"));

  EXPECT_TRUE(ExecFile((SystemCmd() + L" /c exit 0").c_str(), SW_HIDE, true, &exitCode));
  EXPECT_EQ(0u, exitCode);
}

TEST_F(FileUtilsTest, ExecFileOfAMissingProgramReportsTheSystemError) {
  DWORD exitCode = 0;
  const std::wstring command = L"\"" + (dir_ / L"no such program.exe") + L"\" arg";
  EXPECT_FALSE(ExecFile(command.c_str(), SW_HIDE, true, &exitCode));
  EXPECT_EQ(0xFFFFFFFFu, exitCode);
  EXPECT_TRUE(Logged(L"CreateProcess failed.Error(2)"));
}

TEST_F(FileUtilsTest, ExecFileRefusesACommandLineThatDoesNotFit) {
  const std::wstring marker = dir_ / L"marker.txt";
  std::wstring command = SystemCmd() + L" /c echo x>\"" + marker + L"\" & rem ";
  command.append(kExecCommandCapacity - 1 - command.size(), L'x');
  DWORD exitCode = 0;
  EXPECT_TRUE(ExecFile(command.c_str(), SW_HIDE, true, &exitCode)) << "2,999 characters fit";
  EXPECT_TRUE(::DeleteFileW(marker.c_str()));

  command += L'x';
  EXPECT_FALSE(ExecFile(command.c_str(), SW_HIDE, true, &exitCode));
  EXPECT_FALSE(FileExists(marker)) << "a shortened command line must not run";
  EXPECT_TRUE(Logged(L"Command line too long (3000 characters)"));
}

// ---- ExtractExeToDisk: resource 901 of type "EXE" is 3000 bytes of testdata/resource_blob.bin.

constexpr WORD kTestResource = 901;

std::string ResourceBytes() {
  std::string bytes(3000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>((i * 7 + i / 256) % 256);
  }
  return bytes;
}

TEST_F(FileUtilsTest, ExtractExeToDiskReplacesTheWholeOfALargerFile) {
  const std::wstring target = dir_ / L"7z.exe";
  ASSERT_TRUE(WriteBytes(target, std::string(10000, 'L')));
  ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(ExtractExeToDisk(target.c_str(), kTestResource, L"EXE"));
  EXPECT_EQ(ResourceBytes(), ReadBytes(target));
  EXPECT_TRUE(Logged(L"ExtractExeToDisk called"));
}

TEST_F(FileUtilsTest, ExtractExeToDiskFailures) {
  const std::wstring target = dir_ / L"out.bin";
  EXPECT_FALSE(ExtractExeToDisk(target.c_str(), kTestResource, L"DLL"));
  EXPECT_FALSE(ExtractExeToDisk(target.c_str(), 902, L"EXE"));
  EXPECT_TRUE(Logged(L"FindResource failed"));
  EXPECT_FALSE(FileExists(target)) << "nothing is created for a missing resource";

  const std::wstring inMissingFolder = dir_ / L"absent\\7z.exe";
  EXPECT_FALSE(ExtractExeToDisk(inMissingFolder.c_str(), kTestResource, L"EXE"));
  EXPECT_TRUE(Logged(L"_open failed"));
  EXPECT_FALSE(FileExists(dir_ / L"absent")) << "the target folder is not created";
}

// ---- ReplaceToken

TEST(ReplaceToken, ReplacesEveryOccurrenceWithinTheCapacity) {
  struct Row {
    const wchar_t* text;
    size_t capacity;
    const wchar_t* token;
    const wchar_t* replacement;
    bool ok;
    const wchar_t* expected;
    size_t outLength;
  };
  const Row rows[] = {
      {L"%s and %s", 64, L"%s", L"abc", true, L"abc and abc", 3},
      {L"no token here", 64, L"%s", L"abc", true, L"no token here", 0},
      {L"%N%N%N", 64, L"%N", L"", true, L"", 0},
      {L"<X>", 64, L"X", L"[X]", true, L"<[X]>", 3},  // replacement holding the token
      {L"aaa", 64, L"aa", L"b", true, L"ba", 1},      // occurrences do not overlap
      {L"a%s", 7, L"%s", L"bcdef", true, L"abcdef", 5},
      {L"a%s", 6, L"%s", L"bcdef", false, L"a%s", 0},  // one character short: unchanged
      {L"%s%s", 5, L"%s", L"xyz", false, L"%s%s", 0},
      {L"x", 64, L"", L"y", false, L"x", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(
        testing::PrintToString(std::wstring(row.text) + L" / " + row.token + L" / " + row.replacement));
    wchar_t buffer[64];
    wcscpy(buffer, row.text);
    size_t outLength = 99;
    EXPECT_EQ(row.ok, ReplaceToken(buffer, row.capacity, row.token, row.replacement, &outLength));
    EXPECT_STREQ(row.expected, buffer);
    EXPECT_EQ(row.outLength, outLength);
  }
}

TEST(ReplaceToken, KeepsARemainderLongerThanAThousandCharacters) {
  std::wstring text = L"%s" + std::wstring(2000, L'r') + L"%s";
  std::wstring buffer = text;
  buffer.resize(4096);
  size_t outLength = 0;
  EXPECT_TRUE(ReplaceToken(buffer.data(), buffer.size(), L"%s", L"<>", &outLength));
  EXPECT_EQ(L"<>" + std::wstring(2000, L'r') + L"<>", std::wstring(buffer.c_str()));
}

TEST(ReplaceToken, MissingArgumentsFail) {
  wchar_t text[8] = L"%s";
  size_t outLength = 0;
  EXPECT_FALSE(ReplaceToken(nullptr, 8, L"%s", L"x", &outLength));
  EXPECT_FALSE(ReplaceToken(text, 8, nullptr, L"x", &outLength));
  EXPECT_FALSE(ReplaceToken(text, 8, L"%s", nullptr, &outLength));
  EXPECT_FALSE(ReplaceToken(text, 8, L"%s", L"x", nullptr));
  EXPECT_FALSE(ReplaceToken(text, 2, L"%s", L"x", &outLength)) << "text not terminated within its capacity";
  EXPECT_STREQ(L"%s", text);
}

}  // namespace
