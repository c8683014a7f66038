#include "controls/tree_ctrl_ex.h"

#include <gtest/gtest.h>

#include "controls/testdata/test_dialog.h"
#include "support/screen_capture.h"

namespace {

using namespace controlstest;

constexpr COLORREF kRed = RGB(255, 0, 0);

struct TreeTest : ::testing::Test {
  void SetUp() override {
    MoveMouse(FarAway());
    ASSERT_TRUE(dialog.Open([this](HWND hwnd) {
      control = GetDlgItem(hwnd, IDC_TEST_TREE);
      // Installed before the tree's own subclass, so it sees the paints the tree passes down.
      SetWindowSubclass(control, &TreeTest::Spy, 1, reinterpret_cast<DWORD_PTR>(this));
      EXPECT_TRUE(tree.Attach(hwnd, IDC_TEST_TREE));
    }));
    root = Insert(TVI_ROOT, L"Root item");
    plain = Insert(root, L"Plain item");
    coloured = Insert(root, L"Coloured item");
    TreeView_Expand(control, root, TVE_EXPAND);
    tree.SetItemColor(root, kRed);
    tree.SetItemColor(coloured, kRed);
    SetFocus(dialog.Item(IDC_TEST_COMBO));
    Repaint();
  }

  HTREEITEM Insert(HTREEITEM parent, const wchar_t* text) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = const_cast<wchar_t*>(text);
    return TreeView_InsertItem(control, &insert);
  }

  void Repaint() {
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    PumpFor(100);
  }

  RECT TextRect(HTREEITEM item) const {
    RECT rect{};
    TreeView_GetItemRect(control, item, &rect, TRUE);
    return rect;
  }
  size_t RedPixels(HTREEITEM item) const { return testsupport::CountColour(control, TextRect(item), kRed); }

  POINT OnScreen(int x, int y) const {
    POINT point{x, y};
    ClientToScreen(control, &point);
    return point;
  }

  static LRESULT CALLBACK Spy(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR self) {
    if (message == WM_PAINT && wParam != 0) {
      auto* test = reinterpret_cast<TreeTest*>(self);
      test->paintBitmap = static_cast<HBITMAP>(GetCurrentObject(reinterpret_cast<HDC>(wParam), OBJ_BITMAP));
      ++test->bufferedPaints;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }

  TestDialog dialog;
  CTreeCtrlEx tree;
  HWND control = nullptr;
  HTREEITEM root = nullptr, plain = nullptr, coloured = nullptr;
  HBITMAP paintBitmap = nullptr;
  int bufferedPaints = 0;
};

TEST_F(TreeTest, EveryPaintGoesThroughABitmapThatIsDeletedAfterwards) {
  for (int round = 0; round < 3; ++round) {
    const int before = bufferedPaints;
    paintBitmap = nullptr;
    Repaint();
    EXPECT_GT(bufferedPaints, before) << "the control paints into the off-screen context";
    ASSERT_NE(nullptr, paintBitmap);
    EXPECT_EQ(0u, GetObjectType(paintBitmap)) << "round " << round << ": the paint's bitmap outlived it";
  }
}

TEST_F(TreeTest, StyledItemsAreDrawnInTheirColourUnlessSelectedWithFocus) {
  EXPECT_EQ(kRed, tree.GetItemColor(coloured));
  EXPECT_EQ(CTreeCtrlEx::kNoColor, tree.GetItemColor(plain));
  EXPECT_GT(RedPixels(coloured), 0u);
  EXPECT_EQ(0u, RedPixels(plain));

  tree.SetItemBold(coloured, true);
  EXPECT_TRUE(tree.GetItemBold(coloured));
  Repaint();
  EXPECT_GT(RedPixels(coloured), 0u) << "bold keeps the colour";

  TreeView_SelectItem(control, coloured);
  SetFocus(control);
  Repaint();
  EXPECT_EQ(0u, RedPixels(coloured)) << "the focused selection keeps the control's highlight";
  SetFocus(dialog.Item(IDC_TEST_COMBO));
  Repaint();
  EXPECT_GT(RedPixels(coloured), 0u) << "without focus the selection is drawn in its colour";
}

TEST_F(TreeTest, RootTextIgnoresClicksButItsButtonAndOtherItemsDoNot) {
  SetFocus(dialog.Item(IDC_TEST_COMBO));
  const RECT text = TextRect(root);
  const int middle = (text.top + text.bottom) / 2;
  for (const int x : {text.left + 2, text.right + 4}) {
    ClickMouse(OnScreen(x, middle));
    EXPECT_EQ(nullptr, TreeView_GetSelection(control)) << "x " << x;
    EXPECT_NE(control, GetFocus()) << "x " << x;
  }
  ClickMouse(OnScreen(TextRect(plain).left + 2, (TextRect(plain).top + TextRect(plain).bottom) / 2));
  EXPECT_EQ(plain, TreeView_GetSelection(control));

  TVHITTESTINFO hit{};
  hit.pt.y = middle;
  for (hit.pt.x = 0; hit.pt.x < text.left; ++hit.pt.x) {
    if (TreeView_HitTest(control, &hit) != nullptr && (hit.flags & TVHT_ONITEMBUTTON) != 0) {
      break;
    }
  }
  ASSERT_LT(hit.pt.x, text.left) << "the root has an expand button";
  ClickMouse(OnScreen(hit.pt.x, middle));
  EXPECT_EQ(0u, TreeView_GetItemState(control, root, TVIS_EXPANDED) & TVIS_EXPANDED)
      << "the button collapses";
}

}  // namespace
