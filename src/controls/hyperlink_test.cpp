#include "controls/hyperlink.h"

#include <gtest/gtest.h>

#include "controls/testdata/test_dialog.h"
#include "support/scripted_prompt.h"
#include "support/temp_dir.h"

namespace {

using namespace controlstest;

struct LinkTest : ::testing::Test {
  void SetUp() override {
    MoveMouse(FarAway());
    ASSERT_TRUE(dialog.Open([this](HWND) {
      EXPECT_TRUE(link.Attach(dialog, IDC_TEST_LINK, prompt, controls::kDefaultFontSetting));
    }));
    control = dialog.Item(IDC_TEST_LINK);
  }

  LOGFONTW Font() const {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font;
  }
  bool Underlined() const { return Font().lfUnderline != 0; }

  // The colour the dialog gives the control when it paints (transparent, hollow background).
  COLORREF TextColour() const {
    HDC dc = CreateCompatibleDC(nullptr);
    const LRESULT brush = SendMessageW(dialog.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(control));
    EXPECT_EQ(reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)), brush);
    EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
    const COLORREF colour = GetTextColor(dc);
    DeleteDC(dc);
    return colour;
  }

  testsupport::ScriptedPrompt prompt;
  CHyperLink link;
  TestDialog dialog;
  HWND control = nullptr;
};

TEST_F(LinkTest, LinkFontUnderlinedOnlyWhileHovered) {
  EXPECT_TRUE(GetWindowLongPtrW(control, GWL_STYLE) & SS_NOTIFY) << "the static must report clicks";
  EXPECT_STREQ(L"Arial", Font().lfFaceName);
  EXPECT_EQ(-12, Font().lfHeight);
  EXPECT_EQ(5, Font().lfWidth);
  EXPECT_FALSE(link.Attach(dialog, IDC_TEST_LINK, prompt, controls::kDefaultFontSetting))
      << "already attached";
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    EXPECT_FALSE(Underlined());
    MoveMouse(CenterOnScreen(control));
    EXPECT_TRUE(PumpUntil([&] { return Underlined(); }, 100)) << "the first move over the link underlines it";
    EXPECT_EQ(LoadCursorW(nullptr, IDC_HAND), GetCursor());
    EXPECT_EQ(CHyperLink::kLinkColor, TextColour());
    const ULONGLONG leftAt = GetTickCount64();
    MoveMouse(FarAway());
    EXPECT_TRUE(PumpUntil([&] { return !Underlined(); }, 1000));
    EXPECT_LE(GetTickCount64() - leftAt, 500u) << "the underline must go soon after leaving";
  }
}

TEST_F(LinkTest, ClickOpensAnAllowedTargetRefusesOthersAndReportsShellFailures) {
  testsupport::TempDir folder;
  using Kind = CHyperLink::TargetKind;
  enum Outcome { kRefused, kShellFails, kOpens };
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  const struct {
    const char* name;
    std::wstring target;
    Kind kind;
    bool visitedBefore;
    Outcome outcome;
  } rows[] = {
      {"missing folder", folder / L"no-such-folder", Kind::kLocalFolder, false, kShellFails},
      {"failure after a visit keeps the visited colour", folder / L"gone", Kind::kLocalFolder, true,
       kShellFails},
      {"empty target", L"", Kind::kLocalFolder, false, kRefused},
      {"a program is a file, not a folder", program, Kind::kLocalFolder, false, kRefused},
      {"UNC path", L"\\\\server\\share", Kind::kLocalFolder, false, kRefused},
      {"a path as a download address", folder.path(), Kind::kWebAddress, false, kRefused},
      {"another scheme", L"file:///c:/windows", Kind::kWebAddress, false, kRefused},
      {"a bare scheme", L"https://", Kind::kWebAddress, false, kRefused},
      {"existing folder", folder.path(), Kind::kLocalFolder, false, kOpens},
  };
  RECT area;
  GetWindowRect(control, &area);
  int x = area.left + 5;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    link.SetVisited(row.visitedBefore);
    link.SetURL(row.target.c_str(), row.kind);
    prompt.shown.clear();
    ClickMouse({x += 20, (area.top + area.bottom) / 2});  // never twice on one spot: no double click
    const bool visited = row.visitedBefore || row.outcome == kOpens;
    EXPECT_EQ(visited, link.visited());
    EXPECT_EQ(visited ? CHyperLink::kVisitedColor : CHyperLink::kLinkColor, TextColour());
    EXPECT_TRUE(IsWindowVisible(control));
    if (row.outcome == kRefused) {
      EXPECT_TRUE(prompt.shown.empty()) << "a refused target shows nothing";
      continue;
    }
    if (row.outcome == kShellFails) {
      ASSERT_EQ(1u, prompt.shown.size());
      EXPECT_EQ(L"Internal Error", prompt.shown[0].text);
      EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), prompt.shown[0].style & MB_ICONMASK);
      continue;
    }
    EXPECT_TRUE(prompt.shown.empty());
    // The shell shows the folder in a window titled with its name; close it again.
    const std::wstring name = row.target.substr(row.target.find_last_of(L'\\') + 1);
    HWND shown = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (shown = FindWindowW(nullptr, name.c_str())) != nullptr; }, 5000));
    PostMessageW(shown, WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(shown); }, 5000));
  }
}

TEST(Hyperlink, WindowOutlivingTheObjectKeepsNoDeletedFont) {
  testsupport::ScriptedPrompt prompt;
  TestDialog dialog;
  {
    CHyperLink link;
    ASSERT_TRUE(dialog.Open(
        [&](HWND) { link.Attach(dialog, IDC_TEST_LINK, prompt, controls::kDefaultFontSetting); }));
  }
  HWND control = dialog.Item(IDC_TEST_LINK);
  EXPECT_EQ(0, SendMessageW(control, WM_GETFONT, 0, 0));
  ClickMouse(CenterOnScreen(control));
  EXPECT_TRUE(prompt.shown.empty()) << "a detached link no longer reacts";
}

}  // namespace
