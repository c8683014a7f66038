#include "password/set_pwd_dialog.h"

#include <cwchar>

#include "log/trace_log.h"
#include "password/set_pwd_resource.h"
#include "uitext/ui_text.h"

namespace {

// Characters read from each edit: one more than the longest password, so that a longer
// confirmation never compares equal after being cut.
constexpr int kReadCapacity = static_cast<int>(CSetPwdDialog::kMaxLength) + 2;

bool IsWhiteSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

}  // namespace

CSetPwdDialog::CSetPwdDialog(passwordfile::Password& password)
    : fw::Dialog(::GetModuleHandleW(nullptr), IDD_SET_PASSWORD), password_(password) {
  password_.Clear();
}

std::span<const fw::Dialog::MapEntry> CSetPwdDialog::MessageMap() const {
  static const MapEntry kMap[] = {
      {WM_COMMAND, IDOK, BN_CLICKED, Bind(&CSetPwdDialog::OnBnClickedOk)},
  };
  return kMap;
}

BOOL CSetPwdDialog::OnInitDialog() {
  // The icon is a shared resource of the module: it needs no release.
  if (HICON icon = ::LoadIconW(instance(), MAKEINTRESOURCEW(IDI_SET_PASSWORD_ICON))) {
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  }
  LoadUiText(uitext::kPwdDlgTitle, title_);
  ::SetWindowTextW(hwnd(), title_);
  wchar_t label[1024];
  LoadUiText(uitext::kLblEnterPwd, label);
  ::SetDlgItemTextW(hwnd(), IDC_STATIC_PASSWORD, label);
  LoadUiText(uitext::kLblConfirmPwd, label);
  ::SetDlgItemTextW(hwnd(), IDC_STATIC_CONFIRM_PASSWORD, label);
  ::SendMessageW(Item(IDC_EDIT_PASSWORD), EM_LIMITTEXT, kMaxLength, 0);
  ::SendMessageW(Item(IDC_EDIT_CONFIRM_PASSWORD), EM_LIMITTEXT, kMaxLength, 0);
  ::SetFocus(Item(IDC_EDIT_PASSWORD));
  return FALSE;  // the focus is set
}

bool CSetPwdDialog::PreTranslateMessage(MSG& message) {
  // Neither Enter nor Escape ends the dialog; only its buttons and close box do.
  return message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE);
}

void CSetPwdDialog::ShowRuleMessage(const wchar_t* text) const {
  ::MessageBoxW(hwnd(), text, title_, MB_ICONEXCLAMATION | MB_OK);
}

INT_PTR CSetPwdDialog::OnBnClickedOk(WPARAM, LPARAM) {
  static const wchar_t kTag[] = L"CSetPwdDialog::OnBnClickedOk";
  TraceLog(tracelog::kLevelProgress, kTag, L"called.");
  const size_t length = static_cast<size_t>(::GetWindowTextLengthW(Item(IDC_EDIT_PASSWORD)));
  wchar_t text[1024];
  if (length < kMinLength || length > kMaxLength) {
    LoadUiText(uitext::kErrPwdLength, text);
    ShowRuleMessage(text);
  } else {
    wchar_t password[kReadCapacity] = L"";
    wchar_t confirmation[kReadCapacity] = L"";
    ::GetDlgItemTextW(hwnd(), IDC_EDIT_PASSWORD, password, kReadCapacity);
    ::GetDlgItemTextW(hwnd(), IDC_EDIT_CONFIRM_PASSWORD, confirmation, kReadCapacity);
    if (!ValidatePassword(password)) {
      LoadUiText(uitext::kErrPwdHasSpace, text);
      ShowRuleMessage(text);
    } else if (!password_.Assign(password)) {
      LoadUiText(uitext::kErrPwdNotStorable, text);
      ShowRuleMessage(text);
    } else if (wcscmp(password, confirmation) != 0) {
      password_.Clear();
      LoadUiText(uitext::kErrPwdMismatch, text);
      ShowRuleMessage(text);
    } else {
      OnOK();
    }
    SecureZeroMemory(password, sizeof password);
    SecureZeroMemory(confirmation, sizeof confirmation);
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"Exit.");
  return TRUE;
}

bool CSetPwdDialog::ValidatePassword(const wchar_t* password) {
  static const wchar_t kTag[] = L"CSetPwdDialog::ValidatePassword";
  TraceLog(tracelog::kLevelProgress, kTag, L"called.");
  if (password == nullptr) {
    TraceLog(tracelog::kLevelProgress, kTag, L"Password is NULL.Exit.");
    return false;
  }
  for (const wchar_t* c = password; *c != L'\0'; ++c) {
    if (IsWhiteSpace(*c)) {
      TraceLog(tracelog::kLevelProgress, kTag, L"Space in password.Exit.");
      return false;
    }
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"Exit.");
  return true;
}
