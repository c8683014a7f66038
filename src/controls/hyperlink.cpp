#include "controls/hyperlink.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <cwctype>

#include "controls/dialog_font.h"
#include "log/trace_log.h"
#include "uitext/ui_text.h"

namespace {
// Subclass ID of the control's own procedure.
constexpr UINT_PTR kControlSubclassId = 1;
// How far below the control the leave redraw reaches (descenders of the underlined font).
constexpr LONG kLeaveRedrawExtra = 10;
}  // namespace

CHyperLink::~CHyperLink() { Detach(); }

bool CHyperLink::Attach(fw::Dialog& dialog, int id, fw::IUserPrompt& prompt,
                        const controls::FontSetting& font) {
  if (control_ != nullptr) {
    return false;
  }
  HWND control = dialog.Item(id);
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
  dialog.AddReflectTarget(control, *this);
  control_ = control;
  dialog_ = &dialog;
  prompt_ = &prompt;
  return true;
}

void CHyperLink::Detach() {
  if (dialog_ != nullptr) {
    dialog_->RemoveReflectTarget(*this);
    dialog_ = nullptr;
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
    if (link->dialog_ != nullptr) {
      link->dialog_->RemoveReflectTarget(*link);
      link->dialog_ = nullptr;
    }
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

bool CHyperLink::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
  if (message == WM_CTLCOLORSTATIC) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    ::SetTextColor(dc, visited_ ? kVisitedColor : kLinkColor);
    ::SetBkMode(dc, TRANSPARENT);
    result = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
    return true;
  }
  if (message == WM_COMMAND && HIWORD(wParam) == STN_CLICKED) {
    OnClicked();
    result = 0;
    return true;
  }
  return false;
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
