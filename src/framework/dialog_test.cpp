#include "framework/dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "framework/testdata/dialog_test.h"
#include "support/window_report.h"

namespace {

constexpr UINT kFinish = WM_APP + 1;
constexpr UINT kThrow = WM_APP + 2;
// A notification code of the test's own: the dialog passes on whatever the control reports.
constexpr UINT kTestNotification = 1;

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

// Records what its control reported and answers with `answer` when it takes the message.
class RecordingTarget final : public fw::ReflectTarget {
 public:
  bool OnReflected(UINT message, WPARAM, LPARAM, LRESULT& result) override {
    seen.push_back(message);
    result = answer;
    return takes;
  }
  std::vector<UINT> seen;
  bool takes = true;
  LRESULT answer = 0;
};

TEST(Dialog, ChildMessagesGoToTheChildsReflectTargetBeforeTheMap) {
  RecordingDialog dialog;
  ASSERT_TRUE(testsupport::WindowCreated([&] { return dialog.Create(nullptr); }, IDD_FRAMEWORK_TEST));
  HWND title = dialog.Item(IDC_TEST_TITLE);
  HWND ok = dialog.Item(IDOK);
  const auto brush = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  RecordingTarget target;
  RecordingTarget replaced;
  dialog.AddReflectTarget(title, replaced);
  dialog.AddReflectTarget(title, target);  // one target per child: the later one

  NMHDR header{title, IDC_TEST_TITLE, kTestNotification};
  NMHDR fromOk{ok, IDOK, kTestNotification};
  HDC dc = CreateCompatibleDC(nullptr);
  const struct {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool takes;
    LRESULT answer;
    LRESULT expected;
    bool targetSees;
    bool mapSees;
  } rows[] = {
      {"click taken", WM_COMMAND, MAKEWPARAM(IDC_TEST_TITLE, STN_CLICKED), reinterpret_cast<LPARAM>(title),
       true, 0, 0, true, false},
      {"click declined", WM_COMMAND, MAKEWPARAM(IDC_TEST_TITLE, STN_CLICKED), reinterpret_cast<LPARAM>(title),
       false, 0, 0, true, true},
      {"command without a sender", WM_COMMAND, MAKEWPARAM(IDC_TEST_TITLE, STN_CLICKED), 0, true, 0, 0, false,
       true},
      {"colour taken", WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(title), true,
       brush, brush, true, false},
      {"notification answered through the message result", WM_NOTIFY, IDC_TEST_TITLE,
       reinterpret_cast<LPARAM>(&header), true, 7, 7, true, false},
      {"notification of a control without a target", WM_NOTIFY, IDOK, reinterpret_cast<LPARAM>(&fromOk), true,
       7, 0, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    target.seen.clear();
    target.takes = row.takes;
    target.answer = row.answer;
    dialog.events.clear();
    EXPECT_EQ(row.expected, SendMessageW(dialog.hwnd(), row.message, row.wParam, row.lParam));
    EXPECT_EQ(row.targetSees ? std::vector<UINT>{row.message} : std::vector<UINT>{}, target.seen);
    EXPECT_EQ(row.mapSees ? std::vector<std::wstring>{L"title clicked"} : std::vector<std::wstring>{},
              dialog.events);
  }
  DeleteDC(dc);
  EXPECT_TRUE(replaced.seen.empty());

  target.seen.clear();
  dialog.RemoveReflectTarget(target);
  SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST_TITLE, STN_CLICKED),
               reinterpret_cast<LPARAM>(title));
  EXPECT_TRUE(target.seen.empty()) << "a removed target sees nothing";

  // A registration ends with the window: the next window of the same object starts without it.
  dialog.AddReflectTarget(title, target);
  dialog.EndDialog(IDOK);
  ASSERT_TRUE(testsupport::WindowCreated([&] { return dialog.Create(nullptr); }, IDD_FRAMEWORK_TEST));
  title = dialog.Item(IDC_TEST_TITLE);
  SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST_TITLE, STN_CLICKED),
               reinterpret_cast<LPARAM>(title));
  EXPECT_TRUE(target.seen.empty());
}

}  // namespace
