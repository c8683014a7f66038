#include "controls/tree_ctrl_ex.h"

#include <windowsx.h>

#include <cwchar>

#include "framework/gdi_scope.h"
#include "handles/handles.h"

namespace {

constexpr UINT_PTR kSubclassId = 1;
// Item texts are read into a buffer of this many characters for the overlay.
constexpr int kTextCapacity = MAX_PATH;
// The overlay text starts this far inside the item's text rectangle.
constexpr int kTextOffsetX = 2;
constexpr int kTextOffsetY = 1;

Color_Font EmptyEntry() {
  Color_Font entry{};
  entry.color = CTreeCtrlEx::kNoColor;
  return entry;
}

}  // namespace

CTreeCtrlEx::~CTreeCtrlEx() { Detach(); }

bool CTreeCtrlEx::Attach(HWND dialog, int id) {
  if (tree_ != nullptr) {
    return false;
  }
  HWND tree = ::GetDlgItem(dialog, id);
  if (tree == nullptr ||
      !::SetWindowSubclass(tree, &CTreeCtrlEx::TreeProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  tree_ = tree;
  return true;
}

void CTreeCtrlEx::Detach() {
  if (tree_ != nullptr) {
    ::RemoveWindowSubclass(tree_, &CTreeCtrlEx::TreeProc, kSubclassId);
    tree_ = nullptr;
  }
  styles_.clear();
}

Color_Font& CTreeCtrlEx::EntryFor(HTREEITEM item) {
  return styles_.try_emplace(item, EmptyEntry()).first->second;
}

void CTreeCtrlEx::SetItemColor(HTREEITEM item, COLORREF color) { EntryFor(item).color = color; }

void CTreeCtrlEx::SetItemFont(HTREEITEM item, const LOGFONTW& logfont) { EntryFor(item).logfont = logfont; }

void CTreeCtrlEx::SetItemBold(HTREEITEM item, bool bold) {
  TVITEMW change{};
  change.mask = TVIF_STATE;
  change.hItem = item;
  change.stateMask = TVIS_BOLD;
  change.state = bold ? TVIS_BOLD : 0;
  ::SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change));
}

COLORREF CTreeCtrlEx::GetItemColor(HTREEITEM item) const {
  const auto found = styles_.find(item);
  return found != styles_.end() ? found->second.color : kNoColor;
}

bool CTreeCtrlEx::GetItemFont(HTREEITEM item, LOGFONTW& logfont) const {
  const auto found = styles_.find(item);
  if (found == styles_.end() || found->second.logfont.lfFaceName[0] == L'\0') {
    return false;
  }
  logfont = found->second.logfont;
  return true;
}

BOOL CTreeCtrlEx::GetItemBold(HTREEITEM item) const { return ItemState(item, TVIS_BOLD) != 0; }

UINT CTreeCtrlEx::ItemState(HTREEITEM item, UINT mask) const {
  return static_cast<UINT>(::SendMessageW(tree_, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), mask));
}

LRESULT CALLBACK CTreeCtrlEx::TreeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
  auto* tree = reinterpret_cast<CTreeCtrlEx*>(self);
  switch (message) {
    case WM_PAINT:
      tree->OnPaint();
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
      if (tree->IsInertClick(message, lParam)) {
        return 0;
      }
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(hwnd, &CTreeCtrlEx::TreeProc, kSubclassId);
      tree->tree_ = nullptr;
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

bool CTreeCtrlEx::IsInertClick(UINT message, LPARAM lParam) const {
  HTREEITEM root = TreeView_GetRoot(tree_);
  RECT area;
  if (root == nullptr || !TreeView_GetItemRect(tree_, root, &area, TRUE)) {
    return false;
  }
  if (message == WM_LBUTTONDOWN) {
    area.right += kRootClickSlack;
  } else if (message == WM_RBUTTONDOWN) {
    RECT client;
    ::GetClientRect(tree_, &client);
    area.right = client.right;
  }
  const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  return ::PtInRect(&area, point) != FALSE;
}

void CTreeCtrlEx::OnPaint() {
  const fw::ScopedPaint paint(tree_);
  HDC dc = paint.dc();
  if (dc == nullptr) {
    return;
  }
  RECT client;
  ::GetClientRect(tree_, &client);
  // Declared in this order so that the bitmap is deselected, then the context deleted, then the
  // bitmap: nothing of a paint outlives it.
  const fw::UniqueBitmap bitmap(::CreateCompatibleBitmap(dc, client.right, client.bottom));
  const fw::UniqueMemoryDc memory(::CreateCompatibleDC(dc));
  if (!bitmap || !memory) {
    ::DefSubclassProc(tree_, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);  // unbuffered, unstyled
    return;
  }
  const fw::ScopedSelectObject selectedBitmap(memory.get(), bitmap.get());

  RECT clip;
  ::GetClipBox(dc, &clip);
  if (const fw::UniqueRegion region(::CreateRectRgnIndirect(&clip)); region) {
    ::SelectClipRgn(memory.get(), region.get());
  }
  ::DefSubclassProc(tree_, WM_PAINT, reinterpret_cast<WPARAM>(memory.get()), 0);
  DrawStyledItems(memory.get());
  ::BitBlt(dc, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, memory.get(), clip.left,
           clip.top, SRCCOPY);
}

void CTreeCtrlEx::DrawStyledItems(HDC dc) const {
  const bool focused = ::GetFocus() == tree_;
  // The visible count leaves out a partly visible last item; it is drawn too.
  const UINT limit = TreeView_GetVisibleCount(tree_) + 1;
  HTREEITEM item = TreeView_GetFirstVisible(tree_);
  for (UINT drawn = 0; item != nullptr && drawn < limit;
       ++drawn, item = TreeView_GetNextVisible(tree_, item)) {
    if (focused && ItemState(item, TVIS_SELECTED | TVIS_DROPHILITED) != 0) {
      continue;  // the control's highlight stays
    }
    const auto found = styles_.find(item);
    RECT area;
    if (found == styles_.end() || !TreeView_GetItemRect(tree_, item, &area, TRUE)) {
      continue;
    }
    const Color_Font& style = found->second;

    LOGFONTW logfont{};
    if (style.logfont.lfFaceName[0] != L'\0') {
      logfont = style.logfont;
    } else {
      auto own = reinterpret_cast<HFONT>(::SendMessageW(tree_, WM_GETFONT, 0, 0));
      if (own == nullptr) {
        own = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
      }
      ::GetObjectW(own, sizeof(logfont), &logfont);
    }
    if (ItemState(item, TVIS_BOLD) != 0) {
      logfont.lfWeight = FW_BOLD;
    }
    const fw::UniqueFont font(::CreateFontIndirectW(&logfont));
    const fw::ScopedSelectObject selectedFont(dc, font.get());

    wchar_t text[kTextCapacity] = L"";
    TVITEMW read{};
    read.mask = TVIF_TEXT;
    read.hItem = item;
    read.pszText = text;
    read.cchTextMax = kTextCapacity;
    ::SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read));

    ::SetTextColor(dc, style.color == kNoColor ? ::GetSysColor(COLOR_WINDOWTEXT) : style.color);
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    ::SetBkMode(dc, OPAQUE);
    ::TextOutW(dc, area.left + kTextOffsetX, area.top + kTextOffsetY, text, static_cast<int>(wcslen(text)));
  }
}
