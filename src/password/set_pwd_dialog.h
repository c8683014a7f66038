#pragma once
// The password dialog: asks for a password twice, checks it, and hands it to its caller in
// memory. Nothing is written: the build writes the password file only for the packer's run.
//
// Shown modally, owned by the main dialog:
//   passwordfile::Password password;
//   CSetPwdDialog dialog(password);
//   if (dialog.DoModal(mainDialogHwnd) == IDOK) { ... }
// IDOK once the password was accepted: `password` holds it. IDCANCEL when the administrator
// cancelled: `password` is empty. Every copy of the typed text the dialog makes is wiped.

#include <windows.h>

#include <cstddef>

#include "framework/dialog.h"
#include "password/password_file.h"

class CSetPwdDialog : public fw::Dialog {
 public:
  static constexpr size_t kMinLength = 6;
  static constexpr size_t kMaxLength = 18;

  // `password` receives the accepted password; the dialog clears it first.
  explicit CSetPwdDialog(passwordfile::Password& password);

  // True when `password` holds no white-space character (space, tab, line feed, vertical tab,
  // form feed, carriage return); false for a missing text.
  static bool ValidatePassword(const wchar_t* password);

 protected:
  std::span<const MapEntry> MessageMap() const override;
  BOOL OnInitDialog() override;
  bool PreTranslateMessage(MSG& message) override;

 private:
  INT_PTR OnBnClickedOk(WPARAM, LPARAM);
  void ShowRuleMessage(const wchar_t* text) const;

  passwordfile::Password& password_;
  wchar_t title_[MAX_PATH] = L"";
};
