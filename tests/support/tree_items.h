#pragma once
// Reads a tree view control's items for tests, without expanding anything.

#include <commctrl.h>
#include <windows.h>

#include <functional>
#include <string>

namespace testsupport {

inline std::wstring TreeItemText(HWND tree, HTREEITEM item) {
  wchar_t text[MAX_PATH] = L"";
  TVITEMW read{};
  read.mask = TVIF_TEXT;
  read.hItem = item;
  read.pszText = text;
  read.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read));
  return text;
}

inline LPARAM TreeItemData(HWND tree, HTREEITEM item) {
  TVITEMW read{};
  read.mask = TVIF_PARAM;
  read.hItem = item;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read));
  return read.lParam;
}

// Calls `visit(item, depth)` for every item, collapsed branches included, in display order.
inline void ForEachTreeItem(HWND tree, const std::function<void(HTREEITEM, int)>& visit,
                            HTREEITEM first = nullptr, int depth = 0) {
  for (HTREEITEM item = first != nullptr ? first : TreeView_GetRoot(tree); item != nullptr;
       item = TreeView_GetNextSibling(tree, item)) {
    visit(item, depth);
    if (HTREEITEM child = TreeView_GetChild(tree, item)) {
      ForEachTreeItem(tree, visit, child, depth + 1);
    }
  }
}

// The items as lines of text, indented by two blanks a level.
inline std::wstring TreeOutline(HWND tree) {
  std::wstring outline;
  ForEachTreeItem(tree, [&](HTREEITEM item, int depth) {
    outline += std::wstring(static_cast<size_t>(depth) * 2, L' ') + TreeItemText(tree, item) + L"\n";
  });
  return outline;
}

// The first item with this text, in display order; null when there is none.
inline HTREEITEM FindTreeItem(HWND tree, const std::wstring& text) {
  HTREEITEM found = nullptr;
  ForEachTreeItem(tree, [&](HTREEITEM item, int) {
    if (found == nullptr && TreeItemText(tree, item) == text) {
      found = item;
    }
  });
  return found;
}

}  // namespace testsupport
