#include "program/program_services.h"

#include <gtest/gtest.h>
// sddl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <memory>
#include <string>

#include "contracts/verkit.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"
#include "uitext/ui_text.h"

namespace {

TEST(TextToInt, TakesLeadingDigitsOnly) {
  EXPECT_EQ(0, TextToInt(L"abc"));
  EXPECT_EQ(9, TextToInt(L"9"));
  EXPECT_EQ(12, TextToInt(L"12px"));
  EXPECT_EQ(7, TextToInt(L"  7"));
  EXPECT_EQ(-3, TextToInt(L"-3"));
  EXPECT_EQ(0, TextToInt(L""));
}

// Once restricted, a library in the current folder is no longer found by its name; by its full
// path it still is.
TEST(RestrictLibrarySearch, TheCurrentFolderIsNoLongerSearched) {
  testsupport::TempDir dir;
  wchar_t source[MAX_PATH];
  GetModuleFileNameW(nullptr, source, MAX_PATH);
  *(wcsrchr(source, L'\\') + 1) = L'\0';
  wcscat_s(source, L"uistr_variant.dll");
  ASSERT_TRUE(CopyFileW(source, (dir / L"planted.dll").c_str(), FALSE));
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(dir.path().c_str());
  HMODULE before = LoadLibraryW(L"planted.dll");
  EXPECT_NE(nullptr, before) << "the current folder is searched by default";
  FreeLibrary(before);
  ASSERT_TRUE(RestrictLibrarySearch());
  HMODULE after = LoadLibraryW(L"planted.dll");
  EXPECT_EQ(nullptr, after) << "a library planted in the current folder was loaded";
  FreeLibrary(after);
  HMODULE byPath = LoadLibraryExW((dir / L"planted.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  EXPECT_NE(nullptr, byPath);
  FreeLibrary(byPath);
  SetCurrentDirectoryW(previous);
}

// A program folder of its own holding the given DLL (from the test's folder) as uistr.dll.
class ProgramTextsTest : public ::testing::Test {
 protected:
  const std::wstring& PrepareFolder(const wchar_t* library) {
    folder_ = dir_.path() + L"\\";
    if (library != nullptr) {
      wchar_t source[MAX_PATH];
      GetModuleFileNameW(nullptr, source, MAX_PATH);
      *(wcsrchr(source, L'\\') + 1) = L'\0';
      wcscat_s(source, library);
      EXPECT_TRUE(CopyFileW(source, (folder_ + L"uistr.dll").c_str(), FALSE));
    }
    return folder_;
  }
  testsupport::TempDir dir_;
  std::wstring folder_;
};

TEST_F(ProgramTextsTest, TitleAndFontComeFromTheLibrary) {
  ProgramServices app(GetModuleHandleW(nullptr), PrepareFolder(L"uistr_variant.dll").c_str());
  app.InitTraceLog();
  app.LoadStringLibraryAndTexts();
  EXPECT_STREQ(L"\u00D6dland Security Client Packager", app.title());
  EXPECT_STREQ(L"Arial", app.fontFace()) << "missing from the library: fallback";
  EXPECT_EQ(0, app.fontSize()) << "\"abc\" converts to 0";
  EXPECT_EQ(12, app.fontWidth());
  EXPECT_NE(nullptr, app.stringLibrary());
  EXPECT_EQ(app.stringLibrary(), GetUiTextLibrary());
}

TEST_F(ProgramTextsTest, DialogFontSettingFollowsTheProgramOnceItsTextsAreLoaded) {
  ProgramServices app(GetModuleHandleW(nullptr), PrepareFolder(L"uistr_variant.dll").c_str());
  EXPECT_STREQ(L"Arial", DialogFontSetting().face) << "before its texts are loaded: the default";
  EXPECT_EQ(9, DialogFontSetting().points);
  app.InitTraceLog();
  app.LoadStringLibraryAndTexts();
  EXPECT_EQ(app.fontFace(), DialogFontSetting().face);
  EXPECT_EQ(12, DialogFontSetting().width);
}

TEST_F(ProgramTextsTest, WithoutLibraryEverythingTakesItsFallbackAndTheFailureIsTraced) {
  ProgramServices app(GetModuleHandleW(nullptr), PrepareFolder(nullptr).c_str());
  app.InitTraceLog();
  app.LoadStringLibraryAndTexts();
  EXPECT_STREQ(L"Halvane Endpoint Security Client Packager", app.title());
  EXPECT_STREQ(L"Arial", app.fontFace());
  EXPECT_EQ(9, app.fontSize());
  EXPECT_EQ(5, app.fontWidth());
  const std::wstring log = testsupport::ReadUtf16(app.logFilePath());
  EXPECT_NE(std::wstring::npos, log.find(L"CtmrovaneApp::InitInstance Load Resource dll failed\r\n"));
  EXPECT_NE(std::wstring::npos, log.find(L"Library Path: " + folder_ + L"uistr.dll"));
  app.ExitInstance();
  EXPECT_FALSE(testsupport::FileExists(app.logFilePath())) << "a normal exit removes the log";
}

// The lock's session name for a base name, as the version library makes it (the base name
// itself when the library knows no product version).
std::wstring LockName(const std::wstring& base) {
  wchar_t name[kVerkitNameCapacity] = {};
  return GetMutexNameByVersion(base.c_str(), name, kVerkitNameCapacity) != 0 ? name : base;
}

// What already holds one of the lock's two names decides what the lock finds. Only a name
// taken by a mutex means a copy; a mutex that may not be opened is an unknown holder; any other
// failure to make the lock is a failure, with the system's error code, never "another copy".
// Each row uses a base name of its own, so that no other program's lock is touched.
TEST(SingleInstanceLock, OnlyAMutexUnderEitherNameIsAnotherCopy) {
  using Lock = ProgramServices::InstanceLock;
  struct Row {
    const char* name;
    enum { kNothing, kMutex, kDeniedMutex, kEvent } holder;
    bool global;  // the holder has the Global name, else the session name
    Lock expected;
    DWORD error;
    const wchar_t* traced;
  };
  const Row rows[] = {
      {"both names free", Row::kNothing, false, Lock::kAcquired, 0, L"first instance"},
      {"a copy in this session", Row::kMutex, false, Lock::kOtherCopy, 0, L"second instance"},
      {"a copy in another session", Row::kMutex, true, Lock::kOtherCopy, 0, L"second instance"},
      {"a mutex that may not be opened", Row::kDeniedMutex, true, Lock::kDenied, 0, L"(access denied)"},
      {"an event with the session name", Row::kEvent, false, Lock::kFailed, ERROR_INVALID_HANDLE,
       L"(Err -> 6)"},
      {"an event with the Global name", Row::kEvent, true, Lock::kFailed, ERROR_INVALID_HANDLE,
       L"(Err -> 6)"},
  };
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)", SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  const std::unique_ptr<void, decltype(&LocalFree)> descriptorOwner(descriptor, &LocalFree);
  SECURITY_ATTRIBUTES denied{sizeof(denied), descriptor, FALSE};
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::wstring base =
        L"LOCK_TEST_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(index++);
    const std::wstring name = (row.global ? L"Global\\" : L"") + LockName(base);
    fw::UniqueKernelHandle holder;
    switch (row.holder) {
      case Row::kNothing:
        break;
      case Row::kMutex:
        holder.reset(CreateMutexW(nullptr, FALSE, name.c_str()));
        break;
      case Row::kDeniedMutex:
        holder.reset(CreateMutexW(&denied, FALSE, name.c_str()));
        break;
      case Row::kEvent:
        holder.reset(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        break;
    }
    ASSERT_EQ(row.holder != Row::kNothing, static_cast<bool>(holder));
    testsupport::TraceCapture trace;
    ProgramServices program(GetModuleHandleW(nullptr));
    EXPECT_EQ(row.expected, program.AcquireSingleInstance(base.c_str()));
    EXPECT_EQ(row.error, program.lockError());
    EXPECT_TRUE(trace.Contains(row.traced)) << testing::PrintToString(trace.Text());
    if (row.expected == Lock::kAcquired) {
      for (const std::wstring& held : {LockName(base), L"Global\\" + LockName(base)}) {
        fw::UniqueKernelHandle opened(OpenMutexW(SYNCHRONIZE, FALSE, held.c_str()));
        EXPECT_TRUE(opened) << "not held: " << testing::PrintToString(held);
      }
    }
  }
}

}  // namespace
