#include "uitext/ui_text.h"

#include <gtest/gtest.h>

#include <string>

#include "handles/handles.h"

namespace {

struct LibraryScope {
  explicit LibraryScope(const wchar_t* name) : module(LoadLibraryW(name)) { SetUiTextLibrary(module.get()); }
  ~LibraryScope() { SetUiTextLibrary(nullptr); }
  fw::UniqueModule module;
};

struct Entry {
  UINT id;
  const wchar_t* text;
};
constexpr Entry kTable[] = {
#define UI_TEXT(name, id, text) {id, L"" text},
#define OWN_TEXT(name, text)
#include "uitext/ui_texts.def"
#undef OWN_TEXT
#undef UI_TEXT
};

TEST(LoadUiText, WithoutLibraryEveryTextIsItsFallback) {
  wchar_t buffer[1024];
  LoadUiText(uitext::kSetupCreated, buffer);
  EXPECT_STREQ(L"%s has been created successfully.", buffer);
  LoadUiText(4242, L"own fallback", buffer, 1024);
  EXPECT_STREQ(L"own fallback", buffer);
}

TEST(LoadUiText, ServerLibraryHoldsEveryTableTextExactly) {
  LibraryScope scope(L"uistr.dll");
  ASSERT_TRUE(scope.module);
  for (const Entry& entry : kTable) {
    wchar_t buffer[1024] = L"";
    ASSERT_GT(LoadStringW(scope.module.get(), entry.id, buffer, 1024), 0) << "ID " << entry.id;
    EXPECT_STREQ(entry.text, buffer) << "ID " << entry.id;
  }
}

TEST(LoadUiText, VariantLibraryMixesItsTextsWithFallbacks) {
  LibraryScope scope(L"uistr_variant.dll");
  ASSERT_TRUE(scope.module);
  wchar_t buffer[260];
  LoadUiText(uitext::kAppTitleProduct, buffer);
  EXPECT_STREQ(L"\u00D6dland Security", buffer);
  LoadUiText(uitext::kAppTitleTool, buffer);
  EXPECT_STREQ(L"Client Packager", buffer) << "a missing ID takes its fallback";
  // The variant library holds texts under ID 0 and under the ID this text once had; a text of
  // the program's own is never taken from the library.
  ASSERT_GT(LoadStringW(scope.module.get(), 0, buffer, 260), 0);
  ASSERT_GT(LoadStringW(scope.module.get(), 9101, buffer, 260), 0);
  EXPECT_TRUE(FormatUiText(uitext::kErrFileNotReturned, buffer, 260, L"a.dmg", L"C:\\in", L"C:\\work"));
  EXPECT_STREQ(
      L"a.dmg could not be moved back to C:\\in. It is kept in C:\\work; move it back there before "
      L"building again.",
      buffer);
}

TEST(LoadUiText, CutsToCapacityAndAlwaysTerminates) {
  wchar_t buffer[6] = L"zzzzz";
  LoadUiText(uitext::kAppTitleProduct, buffer);
  EXPECT_STREQ(L"Halva", buffer);
  LibraryScope scope(L"uistr.dll");
  LoadUiText(uitext::kAppTitleProduct, buffer);
  EXPECT_STREQ(L"Halva", buffer);
  wchar_t one[1] = {L'q'};
  LoadUiText(uitext::kAppTitleProduct, one);
  EXPECT_EQ(L'\0', one[0]);
}

TEST(LoadAppTitle, JoinsProductAndToolNameAndKeepsWhatFits) {
  const struct {
    const char* name;
    size_t capacity;
    size_t toolCapacity;
    const wchar_t* title;
  } rows[] = {
      {"whole", MAX_PATH, MAX_PATH, L"Halvane Endpoint Security Client Packager"},
      {"tool name cut", MAX_PATH, 4, L"Halvane Endpoint Security Cli"},
      {"tool capacity above the bound", MAX_PATH, 4 * MAX_PATH, L"Halvane Endpoint Security Client Packager"},
      {"title cut", 12, MAX_PATH, L"Halvane End"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    wchar_t title[MAX_PATH] = L"zzz";
    LoadAppTitle(title, row.capacity, row.toolCapacity);
    EXPECT_STREQ(row.title, title);
  }
}

TEST(HasSameConversions, ComparesOnlyPlainStringAndNumberConversions) {
  struct Case {
    const wchar_t* candidate;
    const wchar_t* fallback;
    bool same;
  } cases[] = {
      {L"a %s b %d", L"%s x %d", true},
      {L"100%% %s", L"%s", true},
      {L"%d %s", L"%s %d", false},
      {L"%s", L"%s %s", false},
      {L"%s%s%n", L"%s%s", false},
      {L"%ls", L"%s", false},
      {L"%10s", L"%s", false},
      {L"%x", L"%d", false},
      {L"no conversions", L"none", true},
      {L"trailing %", L"trailing", false},
      {L"%s%s", L"%s and %s", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.same, HasSameConversions(c.candidate, c.fallback))
        << testing::PrintToString(std::wstring(c.candidate)) << " vs "
        << testing::PrintToString(std::wstring(c.fallback));
  }
}

TEST(FormatUiText, LibraryTextIsUsedOnlyWhenItsConversionsMatch) {
  LibraryScope scope(L"uistr_variant.dll");
  wchar_t buffer[1024];
  ASSERT_TRUE(FormatUiText(uitext::kHeadline, buffer, 1024, L"Halvane"));
  EXPECT_STREQ(L"Headline for Halvane, reworded.", buffer);
  // "%s%s%n" must never reach the formatter: the fallback is formatted instead.
  ASSERT_TRUE(FormatUiText(uitext::kIntroNote, buffer, 1024, L"B", L"B"));
  EXPECT_EQ(0, wcsncmp(buffer,
                       L"The installer created using this utility is used to deploy the B Client Agent", 77));
  // "%d done" where "%s ..." is expected.
  ASSERT_TRUE(FormatUiText(uitext::kSetupCreated, buffer, 1024, L"x.exe"));
  EXPECT_STREQ(L"x.exe has been created successfully.", buffer);
}

TEST(FormatUiText, ReportsATextThatDoesNotFit) {
  wchar_t buffer[10];
  EXPECT_FALSE(FormatUiText(uitext::kSetupCreated, buffer, 10, L"name"));
  EXPECT_EQ(9u, wcslen(buffer));
}

}  // namespace
