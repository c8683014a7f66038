#include "controls/tt_combo_box.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cstddef>

#include "framework/gdi_scope.h"
#include "handles/handles.h"

namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr UINT_PTR kTipTimerId = 1;
// The tip covers the entry or box with this margin on every side.
constexpr int kTipMargin = 2;
// The closed box's text area lies this far inside its client rectangle.
constexpr int kBoxInset = 2;
constexpr UINT kMeasureFlags = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX;
constexpr UINT kPaintFlags = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;

// One tip window and its font for all instances; all use is on the user-interface thread. The
// window lives while `users` is above zero.
struct SharedTip {
  fw::UniqueWindow window;
  fw::UniqueFont font;
  int users = 0;          // attached instances
  int hoveredEntry = -1;  // list entry whose tip is shown
  bool tracking = false;  // a hover/leave request is pending
  // The window that was given the mouse capture for the visible tip, when it did not hold it
  // already; hiding the tip takes the capture back from it and from no other window.
  HWND captureTaken = nullptr;  // not owned
};

SharedTip& Shared() {
  static SharedTip shared;
  return shared;
}

void ReleaseTakenCapture() {
  SharedTip& shared = Shared();
  if (shared.captureTaken != nullptr && ::GetCapture() == shared.captureTaken) {
    ::ReleaseCapture();
  }
  shared.captureTaken = nullptr;
}

LRESULT CALLBACK TipWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      const fw::ScopedPaint paint(hwnd);
      HDC dc = paint.dc();
      RECT client;
      ::GetClientRect(hwnd, &client);
      ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_INFOBK));
      ::FrameRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
      wchar_t text[1024];
      ::GetWindowTextW(hwnd, text, ARRAYSIZE(text));
      const fw::ScopedSelectObject font(dc, Shared().font.get());
      ::SetBkMode(dc, TRANSPARENT);
      ::DrawTextW(dc, text, -1, &client, kPaintFlags);
      return 0;
    }
    case WM_TIMER:
      ::KillTimer(hwnd, wParam);
      ::ShowWindow(hwnd, SW_HIDE);
      return 0;
    case WM_SHOWWINDOW:
      if (!wParam) {
        ReleaseTakenCapture();
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

bool AcquireTipWindow() {
  SharedTip& shared = Shared();
  if (!shared.window) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &TipWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = CTTComboBox::kTipWindowClass;
    if (!::RegisterClassW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      return false;
    }
    if (!shared.font) {
      // The size of the structure before its last field was added: accepted by every version.
      NONCLIENTMETRICSW metrics{};
      metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
      if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        shared.font.reset(::CreateFontIndirectW(&metrics.lfStatusFont));
      }
    }
    shared.window.reset(::CreateWindowExW(WS_EX_TOOLWINDOW, CTTComboBox::kTipWindowClass, L"", WS_POPUP, 0, 0,
                                          0, 0, nullptr, nullptr, instance, nullptr));
    if (!shared.window) {
      return false;
    }
  }
  ++shared.users;
  return true;
}

void ReleaseTipWindow() {
  SharedTip& shared = Shared();
  if (--shared.users > 0) {
    return;
  }
  shared.window.reset();
  shared.font.reset();
  shared.hoveredEntry = -1;
  shared.tracking = false;
  shared.captureTaken = nullptr;
}

void HideTip() { ::ShowWindow(Shared().window.get(), SW_HIDE); }

// The extent of `text` in the tip font, from the top-left corner of `start`.
RECT MeasureText(const std::wstring& text, const RECT& start) {
  RECT measured = start;
  const fw::ScopedGetDC tip(Shared().window.get());
  if (tip.dc() == nullptr) {
    return measured;
  }
  const fw::ScopedSelectObject font(tip.dc(), Shared().font.get());
  ::DrawTextW(tip.dc(), text.c_str(), static_cast<int>(text.size()), &measured, kMeasureFlags);
  return measured;
}

// Shows the tip with `text` over `area` (client coordinates of `owner`), which then holds the
// mouse capture so that it keeps seeing the mouse while the tip lies under it.
void ShowTip(HWND owner, RECT area, const std::wstring& text) {
  HWND tip = Shared().window.get();
  ::InflateRect(&area, kTipMargin, kTipMargin);
  ::MapWindowPoints(owner, HWND_DESKTOP, reinterpret_cast<POINT*>(&area), 2);
  ::SetWindowTextW(tip, text.c_str());
  ::ShowWindow(tip, SW_HIDE);
  if (::GetCapture() != owner) {
    ::SetCapture(owner);
    Shared().captureTaken = owner;
  }
  ::SetWindowPos(tip, HWND_TOPMOST, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
  ::SetTimer(tip, kTipTimerId, CTTComboBox::kTipDisplayTime, nullptr);
}

void RequestHoverAndLeave(HWND hwnd) {
  SharedTip& shared = Shared();
  if (shared.tracking) {
    return;
  }
  TRACKMOUSEEVENT request{sizeof(request), TME_HOVER | TME_LEAVE, hwnd, HOVER_DEFAULT};
  ::TrackMouseEvent(&request);
  shared.tracking = true;
}

// Sends WM_MOUSELEAVE to `hwnd` when the mouse message's point lies outside its client area.
void LeaveWhenOutside(HWND hwnd, LPARAM lParam) {
  const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  RECT client;
  ::GetClientRect(hwnd, &client);
  if (!::PtInRect(&client, point)) {
    ::SendMessageW(hwnd, WM_MOUSELEAVE, 0, 0);
  }
}

void OnLeave() {
  SharedTip& shared = Shared();
  shared.hoveredEntry = -1;
  shared.tracking = false;
  HideTip();
}

std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

CTTComboBox::~CTTComboBox() { Detach(); }

bool CTTComboBox::Attach(HWND dialog, int id) {
  if (combo_ != nullptr) {
    return false;
  }
  HWND combo = ::GetDlgItem(dialog, id);
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  if (combo == nullptr || !::GetComboBoxInfo(combo, &info) || !AcquireTipWindow()) {
    return false;
  }
  holdsTipWindow_ = true;
  const auto self = reinterpret_cast<DWORD_PTR>(this);
  if (!::SetWindowSubclass(combo, &CTTComboBox::ComboProc, kSubclassId, self)) {
    Detach();
    return false;
  }
  combo_ = combo;
  info_ = info;
  buttonRect_ = info.rcButton;
  if (info_.hwndList != nullptr &&
      !::SetWindowSubclass(info_.hwndList, &CTTComboBox::ListProc, kSubclassId, self)) {
    info_.hwndList = nullptr;
  }
  if (info_.hwndItem != nullptr &&
      !::SetWindowSubclass(info_.hwndItem, &CTTComboBox::ItemProc, kSubclassId, self)) {
    info_.hwndItem = nullptr;
  }
  return true;
}

void CTTComboBox::Detach() {
  if (info_.hwndItem != nullptr) {
    ::RemoveWindowSubclass(info_.hwndItem, &CTTComboBox::ItemProc, kSubclassId);
    info_.hwndItem = nullptr;
  }
  if (info_.hwndList != nullptr) {
    ::RemoveWindowSubclass(info_.hwndList, &CTTComboBox::ListProc, kSubclassId);
    info_.hwndList = nullptr;
  }
  if (combo_ != nullptr) {
    ::RemoveWindowSubclass(combo_, &CTTComboBox::ComboProc, kSubclassId);
    combo_ = nullptr;
  }
  if (holdsTipWindow_) {
    holdsTipWindow_ = false;
    ReleaseTipWindow();
  }
}

void CTTComboBox::SetItemTip(int index, const wchar_t* text) {
  if (info_.hwndList == nullptr) {
    return;
  }
  if (text != nullptr) {
    tips_[index] = text;
  } else {
    tips_.erase(index);
  }
}

const std::wstring* CTTComboBox::FindTip(int index) const {
  const auto found = tips_.find(index);
  return found != tips_.end() ? &found->second : nullptr;
}

LRESULT CALLBACK CTTComboBox::ComboProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR self) {
  auto* box = reinterpret_cast<CTTComboBox*>(self);
  switch (message) {
    case WM_MOUSEMOVE:
      LeaveWhenOutside(hwnd, lParam);
      RequestHoverAndLeave(hwnd);
      break;
    case WM_MOUSEHOVER:
      box->ShowClosedBoxTip();
      return 0;
    case WM_MOUSELEAVE:
      Shared().tracking = false;
      HideTip();
      return 0;
    case WM_LBUTTONDOWN:
      if (::IsWindowVisible(Shared().window.get())) {
        ReleaseTakenCapture();
      }
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(hwnd, &CTTComboBox::ComboProc, kSubclassId);
      box->combo_ = nullptr;
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK CTTComboBox::ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
  auto* box = reinterpret_cast<CTTComboBox*>(self);
  switch (message) {
    case WM_MOUSEMOVE: {
      const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      RECT client;
      ::GetClientRect(hwnd, &client);
      if (::PtInRect(&client, point)) {
        box->ShowListEntryTip(point);
      } else {
        ::SendMessageW(hwnd, WM_MOUSELEAVE, 0, 0);
      }
      RequestHoverAndLeave(hwnd);
      break;
    }
    case WM_MOUSELEAVE:
      OnLeave();
      break;
    case WM_CAPTURECHANGED:
      // Losing the capture to the tip handling must not end the list's own tracking.
      return 1;
    case WM_SHOWWINDOW:
      if (wParam) {
        POINT origin{0, 0};
        ::ClientToScreen(hwnd, &origin);
        ::SetWindowPos(hwnd, nullptr, origin.x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(hwnd, &CTTComboBox::ListProc, kSubclassId);
      box->info_.hwndList = nullptr;
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK CTTComboBox::ItemProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
  auto* box = reinterpret_cast<CTTComboBox*>(self);
  switch (message) {
    case WM_MOUSEMOVE:
      LeaveWhenOutside(hwnd, lParam);
      RequestHoverAndLeave(hwnd);
      break;
    case WM_MOUSEHOVER:
      box->ShowItemWindowTip();
      break;
    case WM_MOUSELEAVE:
      OnLeave();
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(hwnd, &CTTComboBox::ItemProc, kSubclassId);
      box->info_.hwndItem = nullptr;
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void CTTComboBox::ShowListEntryTip(POINT point) {
  HWND list = info_.hwndList;
  const LRESULT hit = ::SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(point.x, point.y));
  if (HIWORD(hit) != 0) {
    return;  // outside every entry
  }
  const int index = LOWORD(hit);
  const LRESULT count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
  SharedTip& shared = Shared();
  if (count == LB_ERR || index >= count || index == shared.hoveredEntry) {
    return;
  }
  shared.hoveredEntry = index;

  const std::wstring* ownTip = FindTip(index);
  std::wstring text = ownTip != nullptr ? *ownTip : std::wstring();
  if (text.empty()) {
    const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length > 0) {
      text.assign(static_cast<size_t>(length) + 1, L'\0');
      const LRESULT copied = ::SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
      text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    }
  }
  RECT entry;
  if (::SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&entry)) == LB_ERR) {
    return;
  }
  const RECT measured = MeasureText(text, entry);
  if (ownTip != nullptr || measured.right > entry.right) {
    ShowTip(list, measured, text);
  } else {
    HideTip();
  }
}

void CTTComboBox::ShowClosedBoxTip() {
  RECT area;
  ::GetClientRect(combo_, &area);
  ::InflateRect(&area, -kBoxInset, -kBoxInset);
  area.right -= buttonRect_.right - buttonRect_.left;

  const int selection = static_cast<int>(::SendMessageW(combo_, CB_GETCURSEL, 0, 0));
  const std::wstring* ownTip = selection >= 0 ? FindTip(selection) : nullptr;
  std::wstring text = ownTip != nullptr ? *ownTip : std::wstring();
  if (text.empty()) {
    text = WindowText(combo_);
  }
  RECT measured = MeasureText(text, area);
  if (ownTip != nullptr || measured.right > area.right) {
    measured.bottom = area.bottom;
    ShowTip(combo_, measured, text);
  } else {
    HideTip();
  }
}

void CTTComboBox::ShowItemWindowTip() {
  HWND item = info_.hwndItem;
  RECT area;
  ::GetClientRect(item, &area);
  const std::wstring text = WindowText(item);
  RECT measured = MeasureText(text, area);
  if (measured.right > area.right) {
    measured.bottom = area.bottom;
    ShowTip(item, measured, text);
  } else {
    HideTip();
  }
}
