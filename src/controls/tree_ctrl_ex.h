#pragma once
// A tree view in which single items carry their own text colour, font and bold state. The
// control keeps the common control's drawing and paints the text of styled items over it; both
// go through one off-screen bitmap per paint, so the overlay never flickers. The tree's first
// root item is inert to mouse clicks on its text (its expand button still works).
//
// The object attaches to an existing tree view of a dialog by ID and subclasses it.

#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#include <unordered_map>

// The style of one item. A colour of kNoColor means the window text colour; a face name
// starting with 0 means the control's own font.
struct Color_Font {
  COLORREF color;
  LOGFONTW logfont;
};

class CTreeCtrlEx {
 public:
  static constexpr COLORREF kNoColor = 0xFFFFFFFF;
  // A left click this many pixels right of the root item's text still counts as on it.
  static constexpr LONG kRootClickSlack = 5;

  CTreeCtrlEx() = default;
  CTreeCtrlEx(const CTreeCtrlEx&) = delete;
  CTreeCtrlEx& operator=(const CTreeCtrlEx&) = delete;
  virtual ~CTreeCtrlEx();

  // Attaches to tree view `id` of `dialog`. False when there is no such control or this object
  // is already attached.
  bool Attach(HWND dialog, int id);
  HWND hwnd() const { return tree_; }

  // The setters take effect at the next paint; they do not repaint.
  void SetItemColor(HTREEITEM item, COLORREF color);
  void SetItemFont(HTREEITEM item, const LOGFONTW& logfont);
  void SetItemBold(HTREEITEM item, bool bold);
  COLORREF GetItemColor(HTREEITEM item) const;
  // False when the item has no font of its own.
  bool GetItemFont(HTREEITEM item, LOGFONTW& logfont) const;
  BOOL GetItemBold(HTREEITEM item) const;

 private:
  static LRESULT CALLBACK TreeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR self);
  void OnPaint();
  // Paints the text of the visible styled items into `dc`.
  void DrawStyledItems(HDC dc) const;
  // Whether a button message at `lParam` falls on the root item and must not reach the control.
  bool IsInertClick(UINT message, LPARAM lParam) const;
  UINT ItemState(HTREEITEM item, UINT mask) const;
  Color_Font& EntryFor(HTREEITEM item);
  void Detach();

  HWND tree_ = nullptr;  // not owned: a control of the dialog
  std::unordered_map<HTREEITEM, Color_Font> styles_;
};
