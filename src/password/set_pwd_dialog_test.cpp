// The password dialog as a real window, driven through its controls, and the password file.

#include "password/set_pwd_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "password/set_pwd_resource.h"
#include "support/temp_dir.h"
#include "support/timer_script.h"

namespace {

using testsupport::Do;
using testsupport::FileExists;
using testsupport::FindOwnedDialog;
using testsupport::ReadBytes;
using testsupport::TimerScript;

constexpr wchar_t kLengthRule[] = L"Password must be between 6 and 18 characters.";
constexpr wchar_t kSpaceRule[] = L"The password can't contain space.";
constexpr wchar_t kMismatch[] = L"The password does not match the confirmation password.";
constexpr wchar_t kNotStorable[] =
    L"The password contains characters that cannot be stored in the password file. Please use other "
    L"characters.";

// The password file's bytes for an ANSI password: zero-filled to 40 bytes, halves exchanged.
std::string Scrambled(const std::string& ansi) {
  std::string bytes = ansi;
  bytes.resize(40, '\0');
  for (char& c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    c = static_cast<char>(((b >> 4) | (b << 4)) & 0xFF);
  }
  return bytes;
}

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = L"";
  GetWindowTextW(window, text, 1024);
  return text;
}

class SetPwdDialogTest : public ::testing::Test {
 protected:
  SetPwdDialogTest() {
    owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                             nullptr, nullptr, nullptr, nullptr);
  }
  ~SetPwdDialogTest() override { DestroyWindow(owner_); }

  std::wstring PasswordFile() const { return dir_ / L"pwd.dat"; }

  // Runs the dialog modally, owned by owner_, with the script's steps; whatever is left open
  // afterwards is cancelled, and counted as a failure.
  INT_PTR Run(CSetPwdDialog& dialog, std::vector<TimerScript::Step> steps) {
    steps.push_back([&] {
      if (HWND box = dialog.hwnd() != nullptr ? FindOwnedDialog(dialog.hwnd()) : nullptr) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return false;
      }
      if (dialog.hwnd() != nullptr) {
        ADD_FAILURE() << "the dialog was still open";
        PostMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      }
      return true;
    });
    TimerScript script(std::move(steps));
    return dialog.DoModal(owner_);
  }

  testsupport::TempDir dir_;
  std::wstring folder_ = dir_.path() + L"\\";
  HWND owner_ = nullptr;
};

// Types both texts and presses OK; the message box it raises is read and answered by the step
// returned by ReadMessage.
TimerScript::Step Enter(CSetPwdDialog& dialog, const std::wstring& password,
                        const std::wstring& confirmation) {
  return Do([&dialog, password, confirmation] {
    SetDlgItemTextW(dialog.hwnd(), IDC_EDIT_PASSWORD, password.c_str());
    SetDlgItemTextW(dialog.hwnd(), IDC_EDIT_CONFIRM_PASSWORD, confirmation.c_str());
    PostMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog.hwnd(), IDOK)));
  });
}

TimerScript::Step ReadMessage(CSetPwdDialog& dialog, std::vector<std::wstring>* shown) {
  return [&dialog, shown] {
    HWND box = FindOwnedDialog(dialog.hwnd());
    if (box == nullptr) {
      return false;
    }
    shown->push_back(WindowText(box) + L": " + testsupport::MessageBoxText(box));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return true;
  };
}

TEST_F(SetPwdDialogTest, RefusesEachBrokenRuleWithItsMessageAndAcceptsAValidPassword) {
  // With a single-byte ANSI code page, ā has only a best-fit counterpart (a): storing it would
  // store another password. Where the code page is UTF-8 every character is exact.
  const bool utf8 = GetACP() == CP_UTF8;
  struct Row {
    const char* name;
    std::wstring password, confirmation;
    std::wstring message;
  } rows[] = {
      {"five characters", L"abcde", L"abcde", kLengthRule},
      {"nineteen characters pasted past the limit", std::wstring(19, L'x'), std::wstring(19, L'x'),
       kLengthRule},
      {"a space", L"abc def", L"abc def", kSpaceRule},
      {"a pasted tab, before the confirmation is compared", L"abc\tdef", L"other", kSpaceRule},
      {"no exact ANSI character", L"p\x0101ssword", L"p\x0101ssword", utf8 ? L"" : kNotStorable},
      {"letter case differs", L"abcdef", L"abcdeF", kMismatch},
      {"confirmation one character longer", std::wstring(18, L'x'), std::wstring(18, L'x') + L"y", kMismatch},
  };
  CSetPwdDialog dialog(folder_.c_str());
  std::vector<TimerScript::Step> steps;
  std::vector<std::wstring> shown;
  for (const Row& row : rows) {
    if (!row.message.empty()) {
      steps.push_back(Enter(dialog, row.password, row.confirmation));
      steps.push_back(ReadMessage(dialog, &shown));
    }
  }
  steps.push_back(Enter(dialog,
                        L"p\xE4ss\x20AC"
                        L"18charsxxxxx",
                        L"p\xE4ss\x20AC"
                        L"18charsxxxxx"));
  EXPECT_EQ(IDOK, Run(dialog, std::move(steps)));

  std::vector<std::wstring> expected;
  for (const Row& row : rows) {
    if (!row.message.empty()) {
      expected.push_back(std::wstring(L"Set Password: ") + row.message);
    }
  }
  EXPECT_EQ(expected, shown);
  // ä and € exist in every Western code page; the file holds them in the ANSI code page.
  char ansi[64] = "";
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0,
                                L"p\xE4ss\x20AC"
                                L"18charsxxxxx",
                                -1, ansi, 64, nullptr, nullptr),
            0);
  EXPECT_EQ(Scrambled(ansi), ReadBytes(PasswordFile()));
}

TEST_F(SetPwdDialogTest, SwallowsEnterAndEscapeAndIsModalToItsOwner) {
  CSetPwdDialog dialog(folder_.c_str());
  std::wstring title, labels, focus;
  LRESULT limit = 0, confirmLimit = 0;
  LONG styles = 0;
  bool ownerDisabled = false;
  HWND owner = nullptr;
  const INT_PTR result =
      Run(dialog, {Do([&] {
                     title = WindowText(dialog.hwnd());
                     labels = WindowText(GetDlgItem(dialog.hwnd(), IDC_STATIC_PASSWORD)) + L"|" +
                              WindowText(GetDlgItem(dialog.hwnd(), IDC_STATIC_CONFIRM_PASSWORD));
                     focus = GetFocus() == GetDlgItem(dialog.hwnd(), IDC_EDIT_PASSWORD) ? L"password"
                                                                                        : L"elsewhere";
                     limit = SendDlgItemMessageW(dialog.hwnd(), IDC_EDIT_PASSWORD, EM_GETLIMITTEXT, 0, 0);
                     confirmLimit =
                         SendDlgItemMessageW(dialog.hwnd(), IDC_EDIT_CONFIRM_PASSWORD, EM_GETLIMITTEXT, 0, 0);
                     styles = GetWindowLongW(GetDlgItem(dialog.hwnd(), IDC_EDIT_PASSWORD), GWL_STYLE) &
                              GetWindowLongW(GetDlgItem(dialog.hwnd(), IDC_EDIT_CONFIRM_PASSWORD), GWL_STYLE);
                     owner = GetWindow(dialog.hwnd(), GW_OWNER);
                     ownerDisabled = !IsWindowEnabled(owner_);
                     SetDlgItemTextW(dialog.hwnd(), IDC_EDIT_PASSWORD, L"abcdef");
                     SetDlgItemTextW(dialog.hwnd(), IDC_EDIT_CONFIRM_PASSWORD, L"abcdef");
                     HWND edit = GetDlgItem(dialog.hwnd(), IDC_EDIT_PASSWORD);
                     PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
                     PostMessageW(edit, WM_KEYUP, VK_RETURN, 0);
                     PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
                     PostMessageW(edit, WM_KEYUP, VK_ESCAPE, 0);
                   }),
                   // Had either key reached the dialog, it would have closed or shown a message.
                   [&] {
                     EXPECT_NE(nullptr, dialog.hwnd());
                     EXPECT_EQ(nullptr, FindOwnedDialog(dialog.hwnd()));
                     PostMessageW(dialog.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
                     return true;
                   }});
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(L"Set Password", title);
  EXPECT_EQ(L"Enter Password|Confirm Password", labels);
  EXPECT_EQ(L"password", focus);
  EXPECT_EQ(18, limit);
  EXPECT_EQ(18, confirmLimit);
  EXPECT_EQ(ES_PASSWORD | ES_AUTOHSCROLL, styles & (ES_PASSWORD | ES_AUTOHSCROLL));
  EXPECT_EQ(owner_, owner);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(owner_));
  EXPECT_FALSE(FileExists(PasswordFile())) << "a closed dialog writes no password";
}

TEST_F(SetPwdDialogTest, PasswordFileIsAlwaysFortyBytesOrNotWritten) {
  // Halves exchanged, zero-filled: abc is 16 26 36 and 37 zero bytes.
  EXPECT_TRUE(CSetPwdDialog::SaveEncryptedPasswordToFile(PasswordFile().c_str(), L"abc"));
  EXPECT_EQ(std::string("\x16\x26\x36", 3) + std::string(37, '\0'), ReadBytes(PasswordFile()));

  // A longer earlier file is replaced, not overwritten in part.
  ASSERT_TRUE(testsupport::WriteBytes(PasswordFile(), std::string(64, 'z')));
  EXPECT_TRUE(
      CSetPwdDialog::SaveEncryptedPasswordToFile(PasswordFile().c_str(), std::wstring(18, L'q').c_str()));
  EXPECT_EQ(Scrambled(std::string(18, 'q')), ReadBytes(PasswordFile()));

  // Nothing that fails leaves a file: a missing folder, a folder in the file's place, a
  // password that does not convert exactly (where a best fit exists) or does not fit.
  const std::wstring missing = dir_ / L"absent\\pwd.dat";
  EXPECT_FALSE(CSetPwdDialog::SaveEncryptedPasswordToFile(missing.c_str(), L"abcdef"));
  EXPECT_FALSE(FileExists(missing));
  const std::wstring folder = dir_ / L"folder";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_FALSE(CSetPwdDialog::SaveEncryptedPasswordToFile(folder.c_str(), L"abcdef"));
  ASSERT_TRUE(DeleteFileW(PasswordFile().c_str()));
  EXPECT_FALSE(CSetPwdDialog::SaveEncryptedPasswordToFile(PasswordFile().c_str(), L"abc\xD800"))
      << "an unpaired surrogate";
  EXPECT_FALSE(
      CSetPwdDialog::SaveEncryptedPasswordToFile(PasswordFile().c_str(), std::wstring(40, L'a').c_str()));
  EXPECT_FALSE(FileExists(PasswordFile()));

  EXPECT_FALSE(CSetPwdDialog::ValidatePassword(nullptr));
  EXPECT_FALSE(CSetPwdDialog::ValidatePassword(L"a\vb"));
}

}  // namespace
