#include "controls/dialog_font.h"

#include <gtest/gtest.h>

#include "controls/testdata/test_dialog.h"

namespace {

TEST(DialogFont, HeightFollowsBothResolutions) {
  struct Row {
    int points, dpiX, dpiY;
    LONG height;
  };
  const Row rows[] = {{9, 96, 96, -12},  {9, 120, 120, -12}, {9, 144, 144, -12}, {12, 96, 96, -16},
                      {9, 96, 120, -15}, {9, 120, 96, -9} /* -9.6 truncated toward zero */};
  for (const Row& row : rows) {
    EXPECT_EQ(row.height, controls::DialogFontHeight(row.points, row.dpiX, row.dpiY))
        << row.points << " pt at " << row.dpiX << "x" << row.dpiY;
  }
}

TEST(DialogFont, MadeFromTheGivenSettingAgainstTheWindow) {
  controlstest::TestDialog dialog;
  ASSERT_TRUE(dialog.Open([](HWND) {}));
  HWND control = dialog.Item(IDC_TEST_LINK);
  LOGFONTW font;
  ASSERT_TRUE(controls::MakeDialogFontDescription(control, {L"Courier New", 12, 7}, font));
  EXPECT_STREQ(L"Courier New", font.lfFaceName);
  EXPECT_EQ(-16, font.lfHeight);
  EXPECT_EQ(7, font.lfWidth);
  EXPECT_EQ(FW_NORMAL, font.lfWeight);
  EXPECT_FALSE(
      controls::MakeDialogFontDescription(control, {std::wstring(LF_FACESIZE, L'x').c_str(), 9, 5}, font));

  const fw::UniqueFont made = controls::CreateDialogFont(control, controls::kDefaultFontSetting);
  ASSERT_TRUE(made);
  EXPECT_EQ(reinterpret_cast<LRESULT>(made.get()), SendMessageW(control, WM_GETFONT, 0, 0));
  GetObjectW(made.get(), sizeof(font), &font);
  EXPECT_STREQ(L"Arial", font.lfFaceName);
  EXPECT_EQ(-12, font.lfHeight);
  EXPECT_EQ(5, font.lfWidth);
}

}  // namespace
