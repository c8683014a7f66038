#include "framework/dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "framework/testdata/dialog_test.h"
#include "support/window_report.h"

namespace {

constexpr UINT kFinish = WM_APP + 1;
constexpr UINT kThrow = WM_APP + 2;

// A dialog on its own test template that records what reached its handlers.
class RecordingDialog : public fw::Dialog {
 public:
  RecordingDialog() : fw::Dialog(GetModuleHandleW(nullptr), IDD_FRAMEWORK_TEST) {}
  std::vector<std::wstring> events;
  bool swallowEscape = true;

 protected:
  std::span<const MapEntry> MessageMap() const override {
    static const MapEntry kMap[] = {
        {WM_COMMAND, IDC_TEST_TITLE, STN_CLICKED, Bind(&RecordingDialog::OnTitleClicked)},
        {kFinish, 0, 0, Bind(&RecordingDialog::OnFinish)},
        {kThrow, 0, 0, Bind(&RecordingDialog::OnThrow)},
    };
    return kMap;
  }
  BOOL OnInitDialog() override {
    events.push_back(L"init");
    return TRUE;
  }
  void OnOK() override {
    events.push_back(L"ok");
    fw::Dialog::OnOK();
  }
  void OnCancel() override { events.push_back(L"cancel"); }
  bool PreTranslateMessage(MSG& message) override {
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
      events.push_back(L"escape seen");
      return swallowEscape;
    }
    return false;
  }
  void OnDestroyed() override { events.push_back(L"destroyed"); }

 private:
  INT_PTR OnTitleClicked(WPARAM, LPARAM) {
    events.push_back(L"title clicked");
    return TRUE;
  }
  INT_PTR OnFinish(WPARAM wParam, LPARAM) {
    events.push_back(L"finish");
    EndDialog(static_cast<INT_PTR>(wParam));
    return TRUE;
  }
  INT_PTR OnThrow(WPARAM, LPARAM) { throw std::runtime_error("handler failure"); }
};

TEST(Dialog, ModelessDialogDispatchesThroughItsMap) {
  RecordingDialog dialog;
  ASSERT_TRUE(testsupport::WindowCreated([&] { return dialog.Create(nullptr); }, IDD_FRAMEWORK_TEST));
  SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST_TITLE, STN_CLICKED), 0);
  SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST_TITLE, STN_DBLCLK), 0);  // not mapped
  EXPECT_EQ(0, SendMessageW(dialog.hwnd(), kThrow, 0, 0)) << "an exception must not cross into user32";
  SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_EQ(nullptr, dialog.hwnd());
  EXPECT_EQ((std::vector<std::wstring>{L"init", L"title clicked", L"ok", L"destroyed"}), dialog.events);
}

// Once the modal loop runs, presses Escape in the dialog and then ends it with `result`.
INT_PTR RunPressingEscape(RecordingDialog& dialog, INT_PTR result) {
  static INT_PTR s_result;
  s_result = result;
  struct Poster {
    static void CALLBACK Post(HWND, UINT, UINT_PTR id, DWORD) {
      KillTimer(nullptr, id);
      HWND hwnd = FindWindowW(L"#32770", L"Framework test");
      PostMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
      PostMessageW(hwnd, kFinish, static_cast<WPARAM>(s_result), 0);
    }
  };
  SetTimer(nullptr, 0, 10, &Poster::Post);
  return dialog.DoModal(nullptr);
}

TEST(Dialog, ModalLoopOffersMessagesToPreTranslateFirst) {
  RecordingDialog dialog;
  EXPECT_EQ(42, RunPressingEscape(dialog, 42));
  EXPECT_EQ((std::vector<std::wstring>{L"init", L"escape seen", L"finish", L"destroyed"}), dialog.events);
}

TEST(Dialog, UnswallowedEscapeReachesCancel) {
  RecordingDialog dialog;
  dialog.swallowEscape = false;
  EXPECT_EQ(7, RunPressingEscape(dialog, 7));
  EXPECT_EQ((std::vector<std::wstring>{L"init", L"escape seen", L"cancel", L"finish", L"destroyed"}),
            dialog.events);
}

}  // namespace
