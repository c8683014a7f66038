#include "app/main_dlg.h"

#include "app/app.h"
#include "app/resource.h"
#include "log/trace_log.h"

CtmrovaneDlg::CtmrovaneDlg(HINSTANCE instance) : fw::Dialog(instance, IDD_TMROVANE_DIALOG) {}

std::span<const fw::Dialog::MapEntry> CtmrovaneDlg::MessageMap() const {
  static const MapEntry kMap[] = {
      {WM_COMMAND, IDC_BTN_CLOSE, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedBtnClose)},
      {WM_CLOSE, 0, 0, Bind(&CtmrovaneDlg::OnClose)},
  };
  return kMap;
}

BOOL CtmrovaneDlg::OnInitDialog() {
  TraceLog(tracelog::kLevelError, L"CtmrovaneDlg::OnInitDialog", L"called");
  if (const CtmrovaneApp* app = CtmrovaneApp::Current()) {
    ::SetWindowTextW(hwnd(), app->title());
  }
  TraceLog(tracelog::kLevelError, L"CtmrovaneDlg::OnInitDialog", L"success");
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnBnClickedBtnClose(WPARAM, LPARAM) {
  EndDialog(IDCANCEL);
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnClose(WPARAM, LPARAM) {
  EndDialog(IDCANCEL);
  return TRUE;
}
