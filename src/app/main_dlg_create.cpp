// The Create button: a snapshot of the options, the derived kind, and the build of that kind.

#include "app/main_dlg.h"
#include "app/resource.h"
#include "build/create.h"
#include "log/trace_log.h"
#include "password/set_pwd_dialog.h"
#include "program/program_folder.h"
#include "uitext/ui_text.h"

// What a build shows or asks, in windows of this dialog.
class CtmrovaneDlg::BuildUi final : public IBuildUi {
 public:
  explicit BuildUi(CtmrovaneDlg& dialog) : dialog_(dialog) {}
  void Show(const BuildMessage& message) override {
    dialog_.Prompt().Show(message.Format().c_str(), message.style);
  }
  bool Ask(BuildQuestion question) override {
    const BuildMessage message = QuestionMessage(question);
    return dialog_.Prompt().Show(message.Format().c_str(), message.style) == IDYES;
  }
  PasswordAnswer AskPassword(passwordfile::Password& password) override {
    CSetPwdDialog dialog(password);
    switch (dialog.DoModal(dialog_.hwnd())) {
      case IDOK:
        return PasswordAnswer::kSet;
      case IDCANCEL:
        return PasswordAnswer::kCancelled;
      default:  // -1 or 0: the dialog was never shown
        return PasswordAnswer::kNotShown;
    }
  }
  void PaintNow() override {
    ::SetFocus(dialog_.hwnd());
    ::UpdateWindow(dialog_.hwnd());
  }

 private:
  CtmrovaneDlg& dialog_;
};

INT_PTR CtmrovaneDlg::OnBnClickedBtnCreate(WPARAM, LPARAM) {
  static const wchar_t kTag[] = L"CtmrovaneDlg::OnBnClickedBtnCreate";
  TraceLog(tracelog::kLevelProgress, kTag, L"called");
  if (!ServerFound(kTag)) {
    return TRUE;
  }
  Enable(IDC_BTN_SENDMAIL, false);
  Enable(IDC_BTN_CLOSE, false);
  Enable(IDC_BTN_CREATE, false);
  creating_ = true;
  const HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));

  BuildOptions options;
  GetBuildOptions(options);
  BuildUi ui(*this);
  wchar_t programFolder[MAX_PATH];
  const CreateResult result =
      RunCreate(options, ui, GetProgramFolder(programFolder) ? programFolder : nullptr, kTag);
  // Send Mail offers what this Create was asked for.
  buildKind_ = result.kind;

  ::SetCursor(previous);
  const BuildKind kind = buildKind_;
  if (kind == BuildKind::WinExeAgent || kind == BuildKind::WinMsi || kind == BuildKind::MacAgent) {
    Enable(IDC_BTN_SENDMAIL, true);
  }
  Enable(IDC_BTN_CLOSE, true);
  Enable(IDC_BTN_CREATE, true);
  creating_ = false;
  return TRUE;
}
