#include "program/program_services.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
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

}  // namespace
