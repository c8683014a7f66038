#include "app/about_dlg.h"

#include "app/resource.h"
#include "log/trace_log.h"
#include "uitext/ui_text.h"

namespace {
// The tool name part of the title is fetched with a smaller capacity than the product name.
constexpr size_t kToolNameCapacity = 100;
}  // namespace

CAboutDlg::CAboutDlg(HINSTANCE instance) : fw::Dialog(instance, IDD_ABOUTBOX) {}

BOOL CAboutDlg::OnInitDialog() {
  if (GetUiTextLibrary() == nullptr) {
    TraceLog(tracelog::kLevelError, L"Oninitdialog", L"Load Resource dll failed");
  }
  wchar_t title[MAX_PATH];
  LoadAppTitle(title, MAX_PATH, kToolNameCapacity);
  ::SetWindowTextW(hwnd(), title);
  ::SetDlgItemTextW(hwnd(), IDC_ABOUT_TITLE, title);
  wchar_t owner[1024];
  LoadUiText(uitext::kAboutOwnerLine, owner);
  ::SetDlgItemTextW(hwnd(), IDC_ABOUT_OWNER, owner);
  return TRUE;
}
