#pragma once
// Probes for tests that drive a real dialog through its controls as the administrator would,
// and read back what it shows. What a control says of itself (shown, enabled, checked, its
// selection and text) the dialog's own helpers tell.

#include <windows.h>

#include <string>
#include <type_traits>
#include <vector>

namespace testsupport {

inline std::wstring WindowText(HWND window) {
  wchar_t text[2048] = L"";
  GetWindowTextW(window, text, 2048);
  return text;
}

// The entries of a combo box, in list order.
inline std::vector<std::wstring> ComboItems(HWND combo) {
  std::vector<std::wstring> items;
  const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t text[64] = L"";
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    items.push_back(text);
  }
  return items;
}

// Where a control lies in the client area of `dialog`.
inline RECT PlacementIn(HWND dialog, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Picks entry `index` of combo box `id` and tells the dialog, as a pick with the mouse does.
inline void ChooseItem(HWND dialog, int id, int index) {
  HWND combo = GetDlgItem(dialog, id);
  SendMessageW(combo, CB_SETCURSEL, index, 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

// Clicks button `id` and returns once the dialog handled the click.
inline void ClickButton(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// Queues a click of button `id`, for a dialog whose own loop must take it in.
inline void PressButton(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

// How many lines of `text` are exactly `line` (lines end with "\n" or "\r\n").
template <typename String>
size_t CountLines(const String& text, const std::type_identity_t<String>& line) {
  size_t count = 0;
  for (size_t at = text.find(line); at != String::npos; at = text.find(line, at + 1)) {
    const size_t end = at + line.size();
    count +=
        (at == 0 || text[at - 1] == '\n') && (end == text.size() || text[end] == '\r' || text[end] == '\n');
  }
  return count;
}

}  // namespace testsupport
