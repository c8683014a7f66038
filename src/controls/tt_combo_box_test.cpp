#include "controls/tt_combo_box.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>

#include "controls/testdata/test_dialog.h"

namespace {

using namespace controlstest;

constexpr wchar_t kCustomTip[] = L"Installation will NOT require an internet connection if AV is included";
constexpr wchar_t kMinimalTip[] =
    L"Installation will require an internet connection to download Agent and AV";
constexpr wchar_t kLongEntry[] = L"An entry whose text is far wider than the list it is shown in";
constexpr int kCustom = 0, kMinimal = 1, kLong = 2, kShort = 3;

HWND TipWindow() { return FindWindowW(CTTComboBox::kTipWindowClass, nullptr); }
bool TipVisible() { return IsWindowVisible(TipWindow()) != FALSE; }
bool TipShows(const wchar_t* text) { return TipVisible() && testsupport::WindowText(TipWindow()) == text; }
RECT TipRect() {
  RECT rect;
  GetWindowRect(TipWindow(), &rect);
  return rect;
}

// Counts the texts given to the tip window: one per tip shown.
LRESULT CALLBACK CountTexts(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                            DWORD_PTR count) {
  *reinterpret_cast<int*>(count) += message == WM_SETTEXT;
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

struct ComboTest : ::testing::Test {
  void SetUp() override {
    MoveMouse(FarAway());
    combo.SetItemTip(kShort, L"set before attaching: dropped");
    ASSERT_TRUE(dialog.Open([this](HWND hwnd) {
      for (const wchar_t* text : {L"Custom", L"Minimal", kLongEntry, L"Short"}) {
        SendDlgItemMessageW(hwnd, IDC_TEST_COMBO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
      }
      EXPECT_TRUE(combo.Attach(hwnd, IDC_TEST_COMBO));
      combo.SetItemTip(kCustom, kCustomTip);
      combo.SetItemTip(kMinimal, kMinimalTip);
      combo.SetItemTip(kLong, L"removed again");
      combo.SetItemTip(kLong, nullptr);
    }));
    box = dialog.Item(IDC_TEST_COMBO);
    COMBOBOXINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetComboBoxInfo(box, &info));
    list = info.hwndList;
    SetWindowSubclass(TipWindow(), &CountTexts, 1, reinterpret_cast<DWORD_PTR>(&tipsShown));
  }
  void TearDown() override { RemoveWindowSubclass(TipWindow(), &CountTexts, 1); }

  void Drop() {
    SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(list) != FALSE; }, 500));
  }
  RECT EntryOnScreen(int index) const {
    RECT entry{};
    SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&entry));
    MapWindowPoints(list, HWND_DESKTOP, reinterpret_cast<POINT*>(&entry), 2);
    return entry;
  }

  TestDialog dialog;
  CTTComboBox combo;
  HWND box = nullptr;
  HWND list = nullptr;
  int tipsShown = 0;
};

TEST_F(ComboTest, OpenListShowsOwnTipsAndFullTextsOverTheEntries) {
  Drop();
  const struct {
    const char* name;
    int entry;
    const wchar_t* tip;  // null: none
    int shown;           // tips shown so far
  } rows[] = {
      {"Custom has its own tip although it fits", kCustom, kCustomTip, 1},
      {"moving within the entry keeps its tip", kCustom, kCustomTip, 1},
      {"Minimal replaces it with its own", kMinimal, kMinimalTip, 2},
      {"a wide entry shows its full text", kLong, kLongEntry, 3},
      {"a short entry without tip shows none", kShort, nullptr, 3},
      {"back to Custom", kCustom, kCustomTip, 4},
  };
  int nudge = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const RECT entry = EntryOnScreen(row.entry);
    MoveMouse({Middle(entry).x + (nudge += 7), Middle(entry).y});
    EXPECT_TRUE(PumpUntil([&] { return row.tip != nullptr ? TipShows(row.tip) : !TipVisible(); }, 500));
    EXPECT_EQ(row.shown, tipsShown);
    if (row.tip != nullptr) {
      EXPECT_EQ(entry.left - 2, TipRect().left) << "the tip lies over the entry";
      EXPECT_EQ(entry.top - 2, TipRect().top);
      EXPECT_GT(TipRect().right, entry.right);
    }
  }
  // Resting on the entry: the tip goes after its display time and does not come back.
  const ULONGLONG restedAt = GetTickCount64();
  EXPECT_TRUE(PumpUntil([] { return !TipVisible(); }, CTTComboBox::kTipDisplayTime + 2000));
  const ULONGLONG rested = GetTickCount64() - restedAt;
  EXPECT_GE(rested, CTTComboBox::kTipDisplayTime - 200u) << "hidden too early";
  EXPECT_LE(rested, CTTComboBox::kTipDisplayTime + 1000u) << "hidden too late";
  PumpFor(300);
  EXPECT_EQ(4, tipsShown);
}

TEST_F(ComboTest, OpenListStaysUsableAroundTips) {
  const struct {
    const char* name;
    int rested;       // entry the mouse rests on before the click
    bool clickEntry;  // click entry Minimal, or a free spot of the dialog
  } rows[] = {
      {"click an entry under its own tip", kMinimal, true},
      {"click an entry after a tip was hidden", kShort, true},
      {"click beside the list while a tip is shown", kMinimal, false},
      {"click beside the list after a tip was hidden", kShort, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SendMessageW(box, CB_SETCURSEL, kCustom, 0);
    Drop();
    MoveMouse(Middle(EntryOnScreen(kCustom)));
    MoveMouse(Middle(EntryOnScreen(row.rested)));
    RECT outside;
    GetWindowRect(dialog.hwnd(), &outside);
    ClickMouse(row.clickEntry ? Middle(EntryOnScreen(kMinimal))
                              : POINT{outside.right - 10, outside.bottom - 10});
    EXPECT_TRUE(PumpUntil([&] { return SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0) == 0; }, 500));
    if (row.clickEntry) {
      EXPECT_EQ(kMinimal, SendMessageW(box, CB_GETCURSEL, 0, 0));
    }
    EXPECT_TRUE(PumpUntil([] { return !TipVisible(); }, 1000)) << "no tip outlives the closed list";
    MoveMouse(FarAway());
    PumpFor(100);
    SendMessageW(box, CB_SETCURSEL, kMinimal, 0);
    MoveMouse(CenterOnScreen(box));
    EXPECT_TRUE(PumpUntil([] { return TipShows(kMinimalTip); }, 2000)) << "closed box tip after list use";
    MoveMouse(FarAway());
    PumpFor(600);
  }
}

TEST_F(ComboTest, ClosedBoxShowsTheSelectionsTipOnHover) {
  const struct {
    int selection;
    const wchar_t* tip;  // null: none
  } rows[] = {{kCustom, kCustomTip}, {kMinimal, kMinimalTip}, {kLong, kLongEntry}, {kShort, nullptr}};
  RECT client;
  GetClientRect(box, &client);
  POINT origin{0, 0};
  ClientToScreen(box, &origin);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.selection);
    SendMessageW(box, CB_SETCURSEL, row.selection, 0);
    MoveMouse({origin.x + 10, origin.y + client.bottom / 2});
    if (row.tip == nullptr) {
      PumpFor(1000);
      EXPECT_FALSE(TipVisible());
    } else {
      ASSERT_TRUE(PumpUntil([&] { return TipShows(row.tip); }, 2000));
      const RECT tip = TipRect();
      EXPECT_EQ(origin.x, tip.left) << "over the box's text area with a margin";
      EXPECT_EQ(origin.y, tip.top);
      EXPECT_EQ(origin.y + client.bottom, tip.bottom);
      EXPECT_GT(tip.right - tip.left, client.right);
      EXPECT_EQ(box, GetCapture()) << "the box keeps the mouse while the tip lies under it";
      PumpFor(50);
      HDC screen = GetDC(nullptr);
      EXPECT_EQ(RGB(0, 0, 0), GetPixel(screen, tip.left, tip.bottom - 1)) << "black frame";
      ReleaseDC(nullptr, screen);
    }
    MoveMouse(FarAway());
    EXPECT_TRUE(PumpUntil([] { return !TipVisible(); }, 500)) << "leaving the box hides the tip";
    EXPECT_EQ(nullptr, GetCapture());
    PumpFor(600);  // the system notices the leave on its hover clock
  }
}

TEST(TTComboBox, EditFieldShowsItsFullTextWhenItDoesNotFit) {
  MoveMouse(FarAway());
  TestDialog dialog;
  CTTComboBox combo;
  ASSERT_TRUE(dialog.Open([&](HWND hwnd) { EXPECT_TRUE(combo.Attach(hwnd, IDC_TEST_EDIT_COMBO)); }));
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetComboBoxInfo(dialog.Item(IDC_TEST_EDIT_COMBO), &info));
  for (const wchar_t* text : {kLongEntry, L"Short", kLongEntry}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
    SetWindowTextW(info.hwndItem, text);
    MoveMouse(CenterOnScreen(info.hwndItem));
    EXPECT_EQ(text == kLongEntry, PumpUntil([&] { return TipShows(text); }, 1500));
    MoveMouse(FarAway());
    PumpFor(600);
  }
}

TEST(TTComboBox, TipWindowLivesWhileAnyControlIsAttached) {
  EXPECT_EQ(nullptr, TipWindow());
  auto dialog = std::make_unique<TestDialog>();
  auto first = std::make_unique<CTTComboBox>();
  auto second = std::make_unique<CTTComboBox>();
  CTTComboBox notACombo;
  ASSERT_TRUE(dialog->Open([&](HWND hwnd) {
    EXPECT_TRUE(first->Attach(hwnd, IDC_TEST_COMBO));
    EXPECT_TRUE(second->Attach(hwnd, IDC_TEST_EDIT_COMBO));
    EXPECT_FALSE(first->Attach(hwnd, IDC_TEST_COMBO)) << "already attached";
    EXPECT_FALSE(notACombo.Attach(hwnd, IDC_TEST_LINK));
  }));
  ASSERT_NE(nullptr, TipWindow());
  first.reset();
  EXPECT_NE(nullptr, TipWindow()) << "the second control still uses it";
  dialog.reset();  // the windows go before the object
  second.reset();
  EXPECT_EQ(nullptr, TipWindow());
}

}  // namespace
