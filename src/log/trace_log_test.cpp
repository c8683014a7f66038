#include "log/trace_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "handles/handles.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::ReadUtf16;
using testsupport::TempDir;

class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = tracelog::GetSettings();
    path_ = dir_ / L"trace.log";
    tracelog::GetSettings().filePath = path_.c_str();
  }
  void TearDown() override { tracelog::GetSettings() = saved_; }

  std::wstring Log() const { return ReadUtf16(path_); }

  TempDir dir_;
  std::wstring path_;
  tracelog::Settings saved_;
};

// Splits one written line into its prefix fields and checks their fixed widths.
void ExpectLine(const std::wstring& line, const std::wstring& name12, const std::wstring& tagAndText) {
  ASSERT_GE(line.size(), 19u + 1 + 8 + 1 + 12 + 1);
  const std::wstring stamp = line.substr(0, 19);
  int day, month, year, hour, minute, second;
  ASSERT_EQ(6,
            swscanf(stamp.c_str(), L"%2d-%2d-%4d %2d:%2d:%2d", &day, &month, &year, &hour, &minute, &second))
      << "time stamp: " << testing::PrintToString(stamp);
  EXPECT_EQ(L'-', stamp[2]);
  EXPECT_EQ(L'-', stamp[5]);
  EXPECT_EQ(L' ', stamp[10]);
  wchar_t thread[16];
  swprintf(thread, 16, L" %08X ", GetCurrentThreadId());
  EXPECT_EQ(std::wstring(thread), line.substr(19, 10));
  EXPECT_EQ(name12, line.substr(29, 12));
  EXPECT_EQ(L" " + tagAndText + L"\r\n", line.substr(41));
}

TEST_F(TraceLogTest, WritesOneLineInTheFixedFormatWithoutByteOrderMark) {
  TraceLog(1, L"CtmrovaneDlg::OnInitDialog", L"called %s %d", L"with", 42);
  const std::string bytes = ReadBytes(path_);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_NE("\xFF\xFE", bytes.substr(0, 2));
  EXPECT_EQ(0u, bytes.size() % 2);
  ExpectLine(Log(), L"tmrovane.exe", L"CtmrovaneDlg::OnInitDialog called with 42");
}

TEST_F(TraceLogTest, AppendsToAnExistingFileAndKeepsItsContent) {
  ASSERT_TRUE(testsupport::WriteBytes(path_, std::string("x\0y\0", 4)));
  TraceLog(2, L"A", L"one");
  TraceLog(2, L"B", L"two");
  const std::wstring log = Log();
  ASSERT_EQ(L"xy", log.substr(0, 2));
  const size_t firstEnd = log.find(L"\r\n");
  ASSERT_NE(std::wstring::npos, firstEnd);
  ExpectLine(log.substr(2, firstEnd), L"tmrovane.exe", L"A one");
  ExpectLine(log.substr(firstEnd + 2), L"tmrovane.exe", L"B two");
}

TEST_F(TraceLogTest, LevelMaskSelectsLines) {
  TraceLog(4, L"T", L"level four");
  EXPECT_FALSE(FileExists(path_)) << "a level outside the mask must not even create the file";
  TraceLog(1, L"T", L"level one");
  TraceLog(2, L"T", L"level two");
  TraceLog(8, L"T", L"level eight");
  const std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"level one"));
  EXPECT_NE(std::wstring::npos, log.find(L"level two"));
  EXPECT_EQ(std::wstring::npos, log.find(L"eight"));
  tracelog::GetSettings().enabled = false;
  TraceLog(1, L"T", L"disabled");
  EXPECT_EQ(std::wstring::npos, Log().find(L"disabled"));
}

TEST_F(TraceLogTest, MissingTagOrFormatWritesNothingButEmptyTagWritesALine) {
  TraceLog(1, nullptr, L"no tag");
  TraceLog(1, L"T", nullptr);
  EXPECT_FALSE(FileExists(path_));
  TraceLog(1, L"", L"message");
  ExpectLine(Log(), L"tmrovane.exe", L" message");
}

TEST_F(TraceLogTest, MessageOf2047CharactersFitsAnd2048IsReplaced) {
  const std::wstring fits(2047, L'a');
  TraceLog(1, L"T", L"%s", fits.c_str());
  ExpectLine(Log(), L"tmrovane.exe", L"T " + fits);
  ASSERT_TRUE(DeleteFileW(path_.c_str()));
  const std::wstring tooLong(2048, L'b');
  TraceLog(1, L"T", L"%s", tooLong.c_str());
  ExpectLine(Log(), L"tmrovane.exe", L"T LOG ERROR: Insufficient buffer.");
}

TEST_F(TraceLogTest, ProcessNameIsRightAlignedInTwelveColumnsAndNeverCut) {
  tracelog::GetSettings().processName = L"ab.exe";
  TraceLog(1, L"T", L"short");
  ExpectLine(Log(), L"      ab.exe", L"T short");
  ASSERT_TRUE(DeleteFileW(path_.c_str()));
  tracelog::GetSettings().processName = L"averylongname.exe";
  TraceLog(1, L"T", L"long");
  const std::wstring log = Log();
  EXPECT_EQ(L" averylongname.exe T long\r\n", log.substr(28));
}

TEST_F(TraceLogTest, WithoutProcessNameTheModuleFileNameIsUsed) {
  tracelog::GetSettings().processName = nullptr;
  TraceLog(1, L"T", L"x");
  EXPECT_NE(std::wstring::npos, Log().find(L" trace_log_test.exe T x\r\n"));
}

TEST_F(TraceLogTest, WithoutPathTheModuleStemWithLogExtensionIsUsed) {
  tracelog::GetSettings().filePath = nullptr;
  wchar_t module[MAX_PATH];
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring expected(module);
  expected.replace(expected.size() - 4, 4, L".log");
  DeleteFileW(expected.c_str());
  TraceLog(1, L"T", L"beside the program");
  EXPECT_NE(std::wstring::npos, ReadUtf16(expected).find(L"T beside the program\r\n"));
  DeleteFileW(expected.c_str());
}

TEST_F(TraceLogTest, PathThatDoesNotFitFallsBackToCurrentDirectory) {
  const std::wstring longPath = dir_.path() + L"\\" + std::wstring(300, L'n') + L".log";
  tracelog::GetSettings().filePath = longPath.c_str();
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(dir_.path().c_str());
  TraceLog(1, L"T", L"fallback");
  SetCurrentDirectoryW(previous);
  EXPECT_NE(std::wstring::npos, ReadUtf16(dir_ / L"heslog.log").find(L"T fallback\r\n"));
}

// A log held open by another writer without sharing: the line is dropped at once (no wait, no
// retry, nothing kept for later), and the next line after the release is appended as usual.
TEST_F(TraceLogTest, ALockedFileLosesOnlyTheLinesTracedWhileLocked) {
  const std::wstring path = dir_ / L"locked.log";
  tracelog::GetSettings().filePath = path.c_str();
  {
    fw::UniqueKernelHandle lock(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(lock);
    TraceLog(1, L"T", L"lost");
  }
  TraceLog(1, L"T", L"kept");
  const std::wstring text = ReadUtf16(path);
  EXPECT_EQ(std::wstring::npos, text.find(L"lost"));
  EXPECT_NE(std::wstring::npos, text.find(L"T kept\r\n"));
}

}  // namespace
