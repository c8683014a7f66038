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

// The password file's bytes for an ANSI password: zero-filled to 40 bytes, halves exchanged.
std::string Scrambled(std::string bytes) {
  bytes.resize(40, '\0');
  for (char& c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    c = static_cast<char>(((b >> 4) | (b << 4)) & 0xFF);
  }
  return bytes;
}

class SetPwdDialogTest : public ::testing::Test {
 protected:
  ~SetPwdDialogTest() override { DestroyWindow(owner_); }

  // Runs the dialog modally, owned by owner_; whatever is left open afterwards is cancelled.
  INT_PTR Run(std::vector<TimerScript::Step> steps) {
    steps.push_back([&] {
      if (HWND box = dialog_.hwnd() != nullptr ? FindOwnedDialog(dialog_.hwnd()) : nullptr) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return false;
      }
      EXPECT_EQ(nullptr, dialog_.hwnd()) << "the dialog was still open";
      if (dialog_.hwnd() != nullptr) {
        PostMessageW(dialog_.hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      }
      return true;
    });
    TimerScript script(std::move(steps));
    return dialog_.DoModal(owner_);
  }

  // Types both texts; then presses OK, or the given key in the password edit.
  TimerScript::Step Type(const std::wstring& password, const std::wstring& confirmation, UINT key = 0) {
    return Do([this, password, confirmation, key] {
      SetDlgItemTextW(dialog_.hwnd(), IDC_EDIT_PASSWORD, password.c_str());
      SetDlgItemTextW(dialog_.hwnd(), IDC_EDIT_CONFIRM_PASSWORD, confirmation.c_str());
      if (key != 0) {
        PostMessageW(GetDlgItem(dialog_.hwnd(), IDC_EDIT_PASSWORD), WM_KEYDOWN, key, 0);
      } else {
        PostMessageW(dialog_.hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_.hwnd(), IDOK)));
      }
    });
  }

  // Records the message box the dialog shows (caption: text) and answers it.
  TimerScript::Step Answer() {
    return [this] {
      HWND box = FindOwnedDialog(dialog_.hwnd());
      if (box == nullptr) {
        return false;
      }
      wchar_t caption[64] = L"";
      GetWindowTextW(box, caption, 64);
      shown_.push_back(std::wstring(caption) + L": " + testsupport::MessageBoxText(box));
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return true;
    };
  }

  testsupport::TempDir dir_;
  std::wstring file_ = dir_ / L"pwd.dat";
  HWND owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                nullptr, nullptr, nullptr, nullptr);
  CSetPwdDialog dialog_{(dir_.path() + L"\\").c_str()};
  std::vector<std::wstring> shown_;
};

TEST_F(SetPwdDialogTest, IgnoresEnterAndEscapeRefusesEachBrokenRuleAndStoresAValidPassword) {
  // With a single-byte ANSI code page, ā has only a best-fit counterpart (a): storing it would
  // store another password. Where the code page is UTF-8 every character is exact.
  const bool utf8 = GetACP() == CP_UTF8;
  const struct {
    std::wstring password, confirmation, message;
  } rows[] = {
      {L"abcde", L"abcde", L"Password must be between 6 and 18 characters."},
      {std::wstring(19, L'x'), std::wstring(19, L'x'), L"Password must be between 6 and 18 characters."},
      {L"abc def", L"abc def", L"The password can't contain space."},
      {L"abc\tdef", L"other", L"The password can't contain space."},
      {L"p\x0101ssword", L"p\x0101ssword",
       utf8
           ? L""
           : L"The password contains characters that cannot be stored in the password file. Please use other "
             L"characters."},
      {L"abcdef", L"abcdeF", L"The password does not match the confirmation password."},
      {std::wstring(18, L'x'), std::wstring(18, L'x') + L"y",
       L"The password does not match the confirmation password."},
  };
  bool ownerDisabled = false;
  // Either key reaching the dialog would end it (Escape) or accept the password (Enter).
  std::vector<TimerScript::Step> steps = {
      Type(L"abcdef", L"abcdef", VK_RETURN), Type(L"abcdef", L"abcdef", VK_ESCAPE),
      Do([&] { ownerDisabled = !IsWindowEnabled(owner_) && GetWindow(dialog_.hwnd(), GW_OWNER) == owner_; })};
  std::vector<std::wstring> expected;
  for (const auto& row : rows) {
    if (!row.message.empty()) {
      steps.push_back(Type(row.password, row.confirmation));
      steps.push_back(Answer());
      expected.push_back(L"Set Password: " + row.message);
    }
  }
  const std::wstring valid =
      L"p\xE4ss\x20AC"
      L"18charsxxxxx";  // ä and € exist in every Western code page
  steps.push_back(Type(valid, valid));
  EXPECT_EQ(IDOK, Run(std::move(steps)));
  EXPECT_EQ(expected, shown_);
  EXPECT_TRUE(ownerDisabled) << "modal to its owner";
  char ansi[64] = "";
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, valid.c_str(), -1, ansi, 64, nullptr, nullptr), 0);
  EXPECT_EQ(Scrambled(ansi), ReadBytes(file_));
}

TEST_F(SetPwdDialogTest, CloseBoxCancelsWithoutWriting) {
  EXPECT_EQ(IDCANCEL, Run({Do([&] {
              SetDlgItemTextW(dialog_.hwnd(), IDC_EDIT_PASSWORD, L"abcdef");
              SetDlgItemTextW(dialog_.hwnd(), IDC_EDIT_CONFIRM_PASSWORD, L"abcdef");
              PostMessageW(dialog_.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
            })}));
  EXPECT_FALSE(FileExists(file_));
}

TEST_F(SetPwdDialogTest, PasswordFileIsExactlyFortyBytesOrNotThere) {
  EXPECT_TRUE(CSetPwdDialog::SaveEncryptedPasswordToFile(file_.c_str(), L"abc"));
  EXPECT_EQ(std::string("\x16\x26\x36", 3) + std::string(37, '\0'), ReadBytes(file_));
  // A longer earlier file is replaced, not overwritten in part.
  ASSERT_TRUE(testsupport::WriteBytes(file_, std::string(64, 'z')));
  EXPECT_TRUE(CSetPwdDialog::SaveEncryptedPasswordToFile(file_.c_str(), std::wstring(18, L'q').c_str()));
  EXPECT_EQ(Scrambled(std::string(18, 'q')), ReadBytes(file_));

  // Nothing that fails leaves a file: a missing folder, an unpaired surrogate, a password whose
  // converted form does not fit.
  const std::wstring missing = dir_ / L"absent\\pwd.dat";
  EXPECT_FALSE(CSetPwdDialog::SaveEncryptedPasswordToFile(missing.c_str(), L"abcdef"));
  EXPECT_FALSE(FileExists(missing));
  ASSERT_TRUE(DeleteFileW(file_.c_str()));
  EXPECT_FALSE(CSetPwdDialog::SaveEncryptedPasswordToFile(file_.c_str(), L"abc\xD800"));
  EXPECT_FALSE(CSetPwdDialog::SaveEncryptedPasswordToFile(file_.c_str(), std::wstring(40, L'a').c_str()));
  EXPECT_FALSE(FileExists(file_));
}

}  // namespace
