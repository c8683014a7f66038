#pragma once
// The password dialog: asks for a password twice, checks it and writes it, scrambled, to the
// password file "pwd.dat" in the program folder, which the packer then reads.
//
// Shown modally, owned by the main dialog:
//   CSetPwdDialog dialog(programFolder);
//   if (dialog.DoModal(mainDialogHwnd) == IDOK) { ... }
// IDOK once the password was accepted and the file written, or its writing attempted: the
// caller checks that the file is there. IDCANCEL when the administrator cancelled.

#include <windows.h>

#include <cstddef>
#include <span>

#include "framework/dialog.h"

class CSetPwdDialog : public fw::Dialog {
 public:
  static constexpr size_t kMinLength = 6;
  static constexpr size_t kMaxLength = 18;
  static constexpr size_t kFileBytes = 40;  // size of the password file
  static constexpr wchar_t kFileName[] = L"pwd.dat";

  // `programFolder` ends with a backslash; the password file is written there.
  explicit CSetPwdDialog(const wchar_t* programFolder);

  // True when `password` holds no white-space character (space, tab, line feed, vertical tab,
  // form feed, carriage return); false for a missing text.
  static bool ValidatePassword(const wchar_t* password);
  // True when every character of `password` has an exact counterpart in the system's ANSI code
  // page (where that code page is UTF-8, every character has one) and the converted password
  // with its terminating zero fits the file, so that the stored password is the one typed.
  static bool CanBeStored(const wchar_t* password);
  // Writes `password` in the system's ANSI code page, zero-filled to exactly 40 bytes and
  // scrambled, to `path`, replacing any earlier content. False when the password cannot be
  // stored exactly or the file cannot be opened or written; a file it began to write is removed.
  static bool SaveEncryptedPasswordToFile(const wchar_t* path, const wchar_t* password);
  // Exchanges the two 4-bit halves of every byte; applying it twice restores the bytes.
  static void EncryptPassword(std::span<unsigned char> bytes);

 protected:
  std::span<const MapEntry> MessageMap() const override;
  BOOL OnInitDialog() override;
  bool PreTranslateMessage(MSG& message) override;

 private:
  INT_PTR OnBnClickedOk(WPARAM, LPARAM);
  void ShowRuleMessage(const wchar_t* text) const;

  wchar_t path_[MAX_PATH] = L"";  // the password file; empty when it does not fit
  wchar_t title_[MAX_PATH] = L"";
};
