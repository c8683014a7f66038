// The password dialog as a real window, driven through its controls.

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
using testsupport::TimerScript;

// pwd.dat beside the running test program.
std::wstring ProgramFolderFile() {
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  EXPECT_TRUE(length > 0 && length < MAX_PATH);
  std::wstring file = path;
  return file.substr(0, file.find_last_of(L'\\') + 1) + passwordfile::kName;
}

class SetPwdDialogTest : public ::testing::Test {
 protected:
  SetPwdDialogTest() { SetCurrentDirectoryW(dir_.path().c_str()); }
  ~SetPwdDialogTest() override { DestroyWindow(owner_); }

  // The dialog wrote nothing, anywhere it might.
  void ExpectNoFileWritten() const {
    EXPECT_TRUE(testsupport::TreeSnapshot(dir_.path()).empty());
    EXPECT_FALSE(FileExists(programFile_));
  }

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

  // The process's current folder: a dialog that still wrote a password file would write it there
  // or in the program's folder.
  testsupport::TempDir dir_;
  std::wstring programFile_ = ProgramFolderFile();
  HWND owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                nullptr, nullptr, nullptr, nullptr);
  passwordfile::Password password_;
  CSetPwdDialog dialog_{password_};
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
  EXPECT_EQ(valid, password_.c_str()) << "handed back in memory";
  ExpectNoFileWritten();
}

TEST_F(SetPwdDialogTest, ARefusedConfirmationThenCancelHandsBackNothing) {
  EXPECT_EQ(IDCANCEL, Run({Type(L"abcdef", L"abcdeF"), Answer(), Do([&] {
                             PostMessageW(dialog_.hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                           })}));
  EXPECT_EQ(
      std::vector<std::wstring>{L"Set Password: The password does not match the confirmation password."},
      shown_);
  EXPECT_TRUE(password_.empty()) << "the refused password is kept";
  ExpectNoFileWritten();
}

TEST_F(SetPwdDialogTest, CloseBoxCancelsWithoutWriting) {
  EXPECT_EQ(IDCANCEL, Run({Do([&] {
              SetDlgItemTextW(dialog_.hwnd(), IDC_EDIT_PASSWORD, L"abcdef");
              SetDlgItemTextW(dialog_.hwnd(), IDC_EDIT_CONFIRM_PASSWORD, L"abcdef");
              PostMessageW(dialog_.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
            })}));
  EXPECT_TRUE(password_.empty());
  ExpectNoFileWritten();
}

}  // namespace
