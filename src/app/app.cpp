#include "app/app.h"

#include <commctrl.h>

#include "app/main_dlg.h"
#include "password/password_file.h"
#include "uitext/ui_text.h"

bool CtmrovaneApp::InitInstance() {
  InitTraceLog();
  INITCOMMONCONTROLSEX controls{sizeof(controls),
                                ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  switch (AcquireSingleInstance()) {
    case InstanceLock::kAcquired:
      break;
    case InstanceLock::kOtherCopy:
      return false;
    case InstanceLock::kDenied: {
      LoadStringLibraryAndTexts();
      wchar_t text[MAX_PATH * 2];
      LoadUiText(uitext::kErrInstanceLockDenied, text);
      ::MessageBoxW(nullptr, text, title(), MB_OK | MB_ICONERROR);
      return false;
    }
    case InstanceLock::kFailed: {
      LoadStringLibraryAndTexts();
      wchar_t text[MAX_PATH * 2];
      FormatUiText(uitext::kErrInstanceLockFailed, text, ARRAYSIZE(text), static_cast<int>(lockError()));
      ::MessageBoxW(nullptr, text, title(), MB_OK | MB_ICONERROR);
      return false;
    }
  }
  // A password file left by a run that never finished goes now; only the copy that holds the
  // lock may remove it, as another copy's build may be using it.
  passwordfile::RemoveLeftover(programFolder());
  LoadStringLibraryAndTexts();
  CtmrovaneDlg dialog(instance());
  dialog.DoModal(nullptr);
  return false;
}

int CtmrovaneApp::Run() {
  InitInstance();
  return ExitInstance();
}
