#include "controls/hyperlink.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <cwctype>

#include "controls/dialog_font.h"
#include "log/trace_log.h"
#include "uitext/ui_text.h"

namespace {
// Subclass ID of the control's own procedure; the dialog's uses the object's address, so that
// several links on one dialog each keep their own.
constexpr UINT_PTR kControlSubclassId = 1;
// How far below the control the leave redraw reaches (descenders of the underlined font).
constexpr LONG kLeaveRedrawExtra = 10;
}  // namespace

CHyperLink::~CHyperLink() { Detach(); }

bool CHyperLink::Attach(HWND dialog, int id, fw::IUserPrompt& prompt, const controls::FontSetting& font) {
  if (control_ != nullptr) {
    return false;
  }
  HWND control = ::GetDlgItem(dialog, id);
  if (control == nullptr) {
    return false;
  }
  ::SetWindowLongPtrW(control, GWL_STYLE, ::GetWindowLongPtrW(control, GWL_STYLE) | SS_NOTIFY);

  LOGFONTW description;
  if (controls::MakeDialogFontDescription(control, font, description)) {
    normalFont_.reset(::CreateFontIndirectW(&description));
    description.lfUnderline = TRUE;
    underlinedFont_.reset(::CreateFontIndirectW(&description));
  }
  if (normalFont_) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_.get()), TRUE);
  }
  if (cursor_ == nullptr) {
    cursor_ = ::LoadCursorW(nullptr, IDC_HAND);
  }

  if (!::SetWindowSubclass(control, &CHyperLink::ControlProc, kControlSubclassId,
                           reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  if (!::SetWindowSubclass(dialog, &CHyperLink::ParentProc, reinterpret_cast<UINT_PTR>(this),
                           reinterpret_cast<DWORD_PTR>(this))) {
    ::RemoveWindowSubclass(control, &CHyperLink::ControlProc, kControlSubclassId);
    return false;
  }
  control_ = control;
  parent_ = dialog;
  prompt_ = &prompt;
  return true;
}

void CHyperLink::Detach() {
  if (parent_ != nullptr) {
    ::RemoveWindowSubclass(parent_, &CHyperLink::ParentProc, reinterpret_cast<UINT_PTR>(this));
    parent_ = nullptr;
  }
  if (control_ != nullptr) {
    ::KillTimer(control_, timerId_);
    ::RemoveWindowSubclass(control_, &CHyperLink::ControlProc, kControlSubclassId);
    // The window outlives this object: it must not keep drawing with fonts deleted below.
    ::SendMessageW(control_, WM_SETFONT, 0, FALSE);
    control_ = nullptr;
  }
}

void CHyperLink::SetURL(const wchar_t* target, TargetKind kind) {
  target_ = target != nullptr ? target : L"";
  targetKind_ = kind;
}

bool CHyperLink::TargetAllowed() const {
  const wchar_t* target = target_.c_str();
  if (targetKind_ == TargetKind::kWebAddress) {
    for (const wchar_t* scheme : {L"http://", L"https://"}) {
      const size_t length = wcslen(scheme);
      if (_wcsnicmp(target, scheme, length) == 0 && target[length] != L'\0') {
        return true;
      }
    }
    return false;
  }
  // "X:\..." on a drive of this machine; a UNC path, a network drive or a file is refused.
  if (!iswalpha(target[0]) || target[1] != L':' || target[2] != L'\\') {
    return false;
  }
  const wchar_t root[] = {target[0], L':', L'\\', L'\0'};
  const UINT drive = ::GetDriveTypeW(root);
  if (drive != DRIVE_FIXED && drive != DRIVE_REMOVABLE && drive != DRIVE_CDROM && drive != DRIVE_RAMDISK) {
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(target);
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void CHyperLink::SetVisited(bool visited) {
  visited_ = visited;
  if (control_ != nullptr) {
    ::InvalidateRect(control_, nullptr, TRUE);
  }
}

LRESULT CALLBACK CHyperLink::ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR self) {
  auto* link = reinterpret_cast<CHyperLink*>(self);
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(hwnd, &CHyperLink::ControlProc, kControlSubclassId);
    link->control_ = nullptr;
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
  }
  return link->OnControlMessage(message, wParam, lParam);
}

LRESULT CHyperLink::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND: {
      RECT client;
      ::GetClientRect(control_, &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, ::GetSysColorBrush(COLOR_BTNFACE));
      return TRUE;
    }
    case WM_SETCURSOR:
      if (cursor_ == nullptr) {
        return FALSE;
      }
      ::SetCursor(cursor_);
      return TRUE;
    case WM_MOUSEMOVE:
      OnMouseMove();
      break;
    case WM_TIMER:
      if (wParam == timerId_) {
        OnTimer();
      }
      break;
    case WM_DESTROY:
      ::KillTimer(control_, timerId_);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(control_, message, wParam, lParam);
}

void CHyperLink::OnMouseMove() {
  if (over_) {
    return;
  }
  over_ = true;
  ::SendMessageW(control_, WM_SETFONT, reinterpret_cast<WPARAM>(underlinedFont_.get()), FALSE);
  ::InvalidateRect(control_, nullptr, TRUE);
  ::SetTimer(control_, timerId_, kTimerPeriod, nullptr);
}

void CHyperLink::OnTimer() {
  const DWORD position = ::GetMessagePos();
  POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
  ::ScreenToClient(control_, &point);
  RECT client;
  ::GetClientRect(control_, &client);
  if (::PtInRect(&client, point)) {
    return;
  }
  over_ = false;
  ::KillTimer(control_, timerId_);
  ::SendMessageW(control_, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_.get()), FALSE);
  client.bottom += kLeaveRedrawExtra;
  ::InvalidateRect(control_, &client, TRUE);
}

LRESULT CALLBACK CHyperLink::ParentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR self) {
  auto* link = reinterpret_cast<CHyperLink*>(self);
  const bool fromLink = link->control_ != nullptr && reinterpret_cast<HWND>(lParam) == link->control_;
  if (message == WM_CTLCOLORSTATIC && fromLink) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    ::SetTextColor(dc, link->visited_ ? link->visitedColor_ : link->linkColor_);
    ::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
  }
  if (message == WM_COMMAND && fromLink && HIWORD(wParam) == STN_CLICKED) {
    link->OnClicked();
    return 0;
  }
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(hwnd, &CHyperLink::ParentProc, id);
    link->parent_ = nullptr;
  }
  return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void CHyperLink::OnClicked() {
  over_ = false;
  if (!TargetAllowed()) {
    TraceLog(tracelog::kLevelError, L"CHyperLink::OnClicked", L"Link target refused: \"%s\"",
             target_.c_str());
    return;
  }
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", target_.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32) {
    visited_ = true;
    ::InvalidateRect(control_, nullptr, TRUE);
    return;
  }
  TraceLog(tracelog::kLevelError, L"CHyperLink::OnClicked", L"ShellExecuteW failed (Err -> %d)",
           static_cast<int>(result));
  wchar_t text[MAX_PATH];
  LoadUiText(uitext::kErrInternal, text);
  prompt_->Show(text, MB_OK | MB_ICONERROR);
}
