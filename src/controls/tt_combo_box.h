#pragma once
// A drop-down combo box that shows a tip window over its entries: over an entry of the open
// list, and over the closed box for the current selection. An entry gets a tip when it has a
// tip text of its own (shown instead of the entry), or when its text is wider than the space it
// is shown in (the tip then shows the full text).
//
// The object attaches to an existing combo box of a dialog by ID and subclasses the combo box,
// its drop-down list and, when the combo box reports one, its item window. One tip window
// serves every instance of the process: it exists while at least one instance is attached.

#include <windows.h>

#include <map>
#include <string>

class CTTComboBox {
 public:
  // Window class of the shared tip window.
  static constexpr wchar_t kTipWindowClass[] = L"CTTComboBoxTip";
  // How long a tip stays up while the mouse stands still, in milliseconds.
  static constexpr UINT kTipDisplayTime = 9000;

  CTTComboBox() = default;
  CTTComboBox(const CTTComboBox&) = delete;
  CTTComboBox& operator=(const CTTComboBox&) = delete;
  ~CTTComboBox();

  // Attaches to combo box `id` of `dialog`. False when there is no such combo box, its parts
  // cannot be read, the tip window cannot be made, or this object is already attached.
  bool Attach(HWND dialog, int id);

  // Gives entry `index` its own tip text; null removes it. Has no effect before Attach.
  void SetItemTip(int index, const wchar_t* text);

  HWND hwnd() const { return combo_; }

 private:
  static LRESULT CALLBACK ComboProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR self);
  static LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR self);
  static LRESULT CALLBACK ItemProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR self);
  // The entry's own tip text, or null.
  const std::wstring* FindTip(int index) const;
  void ShowListEntryTip(POINT point);
  void ShowClosedBoxTip();
  void ShowItemWindowTip();
  void Detach();

  HWND combo_ = nullptr;  // not owned: a control of the dialog
  COMBOBOXINFO info_{};   // its list and item windows belong to the combo box
  RECT buttonRect_{};
  std::map<int, std::wstring> tips_;
  bool holdsTipWindow_ = false;
};
