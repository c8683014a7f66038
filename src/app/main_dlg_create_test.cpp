// Create builds what the choices name while the dialog cannot be closed; Escape, Close and a
// missing server folder end or stop things as they should.

#include "app/main_dlg_test_fixture.h"

namespace maindlgtest {
namespace {

// A domain name the ANSI code page cannot hold exactly would reach the settings file as
// look-alikes or "?": every kind refuses it before anything is built (the Linux settings
// template is ANSI, the others are not).
TEST_F(MainDialogTest, DomainNamesOutsideTheAnsiCodePageAreRefusedForEveryKind) {
  if (GetACP() != 1252) {
    GTEST_SKIP() << "needs the Western European ANSI code page, have " << GetACP();
  }
  LayOut();
  WriteConfig("hesinstmode=1\r\n");
  const std::wstring out = dir_ / L"out";
  ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
  Open();
  SetWindowTextW(Item(IDC_EDIT_DESTINATION), out.c_str());
  Click(IDC_CHECK_ALT_CONNECTION);
  Click(IDC_RADIO_DOMAINNAME);
  // U+0142 has no counterpart in code page 1252, which would write it as a plain "l".
  SetWindowTextW(Item(IDC_EDIT_DOMAINNAME), L"hes\u0142srv.example.test");
  for (const int platform : {kPlatformWindows, kPlatformMac, kPlatformLinux}) {
    SCOPED_TRACE(platform);
    Choose(IDC_CMB_OSPLATFORM, platform);
    Choose(IDC_CMB_ANTIVIRUS, kAntivirusNo);
    prompt_.shown.clear();
    Click(IDC_BTN_CREATE);
    ASSERT_EQ(1u, prompt_.shown.size());
    EXPECT_EQ(L"Please specify a valid Domain Name.", prompt_.shown[0].text);
  }
  EXPECT_FALSE(testsupport::FileExists(out + L"\\wsnode32.exe"));
}

// Counts the IDCANCEL commands that reach a dialog: Escape must be swallowed before the dialog
// manager turns it into one.
LRESULT CALLBACK CountCancels(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR count) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    ++*reinterpret_cast<int*>(count);
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

TEST_F(MainDialogTest, EscapeDoesNothingAndTheSystemMenuOpensTheAboutBox) {
  LayOut();
  int cancels = 0;
  bool openAfterEscape = false;
  std::wstring aboutCaption;
  std::wstring aboutTitle;
  std::wstring aboutOwner;
  std::wstring menuText;
  UINT menuId = 0;
  UINT separatorType = 0;
  bool aboutClosed = false;
  const INT_PTR result = RunModal({
      Do([&] {
        HMENU menu = GetSystemMenu(dialog_->hwnd(), FALSE);
        const int count = GetMenuItemCount(menu);
        menuId = GetMenuItemID(menu, count - 1);
        wchar_t text[260] = L"";
        GetMenuStringW(menu, count - 1, text, 260, MF_BYPOSITION);
        menuText = text;
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE;
        GetMenuItemInfoW(menu, count - 2, TRUE, &info);
        separatorType = info.fType;
        SetWindowSubclass(dialog_->hwnd(), CountCancels, 1, reinterpret_cast<DWORD_PTR>(&cancels));
        SetFocus(Item(IDC_EDIT_DESTINATION));
        PostMessageW(Item(IDC_EDIT_DESTINATION), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(Item(IDC_EDIT_DESTINATION), WM_KEYUP, VK_ESCAPE, 0xC0010001);
      }),
      Do([&] {
        openAfterEscape = dialog_->hwnd() != nullptr && IsWindowVisible(dialog_->hwnd());
        RemoveWindowSubclass(dialog_->hwnd(), CountCancels, 1);
        PostMessageW(dialog_->hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
      }),
      [&] {
        HWND about = FindOwnedDialog(dialog_->hwnd());
        if (about == nullptr) {
          return false;
        }
        aboutCaption = testsupport::WindowText(about);
        aboutTitle = testsupport::WindowText(GetDlgItem(about, IDC_ABOUT_TITLE));
        aboutOwner = testsupport::WindowText(GetDlgItem(about, IDC_ABOUT_OWNER));
        PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
      },
      [&] { return aboutClosed = FindOwnedDialog(dialog_->hwnd()) == nullptr; },
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_TRUE(openAfterEscape);
  EXPECT_EQ(0, cancels) << "Escape reached the dialog as IDCANCEL";
  EXPECT_TRUE(leftOpen_);
  EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), menuId);
  EXPECT_EQ(kTitle, menuText);
  EXPECT_EQ(static_cast<UINT>(MFT_SEPARATOR), separatorType);
  EXPECT_EQ(kTitle, aboutCaption);
  EXPECT_EQ(kTitle, aboutTitle);
  EXPECT_EQ(L"Copyright (C) Halvane. All rights reserved.", aboutOwner);
  EXPECT_TRUE(aboutClosed) << "the About box closes with OK";
}

// Without the server's folder Create and Send Mail show the error and do nothing else: no
// working folder under the current drive's root, nothing at the destination, no mail.
TEST_F(MainDialogTest, WithoutTheServersFolderCreateAndSendMailOnlyShowTheError) {
  const struct {
    const char* name;
    std::function<void()> prepare;
  } rows[] = {
      {"not registered", [] { RegDeleteTreeW(HKEY_LOCAL_MACHINE, serverlayout::kAppPathsKey); }},
      // Relative to the current folder it names the laid-out server, and must still not count.
      {"a relative path", [&] { ASSERT_TRUE(registration_.SetRaw(L"Path", L"Server Folder", true)); }},
  };
  testsupport::MapiRecord record;
  LayOut();
  const std::wstring out = dir_ / L"out";
  ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(dir_.path().c_str());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    row.prepare();
    testsupport::TraceCapture trace;
    Open();
    SetWindowTextW(Item(IDC_EDIT_DESTINATION), out.c_str());
    Choose(IDC_CMB_ANTIVIRUS, kAntivirusNo);
    for (const int button : {IDC_BTN_CREATE, IDC_BTN_SENDMAIL}) {
      prompt_.shown.clear();
      ASSERT_TRUE(dialog_->IsEnabled(button));
      Click(button);
      ASSERT_EQ(1u, prompt_.shown.size()) << "button " << button;
      EXPECT_EQ(L"Error in creating setup", prompt_.shown[0].text);
      EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), prompt_.shown[0].style & MB_ICONMASK);
    }
    EXPECT_TRUE(trace.Contains(L"Server installation folder not found"))
        << testing::PrintToString(trace.Text());
    EXPECT_FALSE(testsupport::FileExists(out + L"\\wsnode32.exe"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"\\Tools"))
        << "server folders under the drive's root";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesW((dir_ / L"Server Folder\\Tools\\clPacker\\Build").c_str()));
    EXPECT_TRUE(record.Lines().empty());
    dialog_.reset();
  }
  SetCurrentDirectoryW(previous);
}

// Answers like a ScriptedPrompt and runs `hook` first, inside the build that asks.
class HookPrompt final : public fw::IUserPrompt {
 public:
  int Show(const wchar_t* text, UINT style) override {
    shown.push_back(text);
    if (hook) {
      hook();
    }
    return (style & MB_YESNO) ? IDNO : IDOK;
  }
  std::vector<std::wstring> shown;
  std::function<void()> hook;
};

TEST_F(MainDialogTest, CreateBuildsTheChosenKindAndEnablesSendMailAfterAgentAndMsiBuilds) {
  LayOut();
  const std::wstring out = dir_ / L"out";
  ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
  const struct {
    const char* name;
    int platform, setupType, antivirus;
    bool blankAlternateIp;
    std::wstring lastShown;
    bool mailEnabled;
  } cases[] = {
      {"MSI 32-bit", 0, kSetupMsi32, kAntivirusYes, false, L"wsnode32.msi has been created successfully.",
       true},
      {"antivirus EXE, No to the question", 0, kSetupExe32, kAntivirusYes, false,
       L"Creating client agent installer including Halvane will take some time.\n Do you wish to continue?",
       false},
      {"Mac agent", 1, 0, kAntivirusNo, false, L"MCWSNODE.TAR has been created successfully at ", true},
      {"Mac with a blank alternate IP", 1, 0, kAntivirusNo, true, L"Please specify a valid IP Address.",
       true},
      {"Linux 64-bit", 2, kSetupLinux64, kAntivirusYes, false,
       L"LINUXWSNO64.TAR has been created successfully at ", false},
  };
  Open();
  SetWindowTextW(Item(IDC_EDIT_DESTINATION), out.c_str());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Choose(IDC_CMB_OSPLATFORM, c.platform);
    Choose(IDC_CMB_SETUPTYPE, c.setupType);
    Choose(IDC_CMB_ANTIVIRUS, c.antivirus);
    if (dialog_->IsChecked(IDC_CHECK_ALT_CONNECTION) != c.blankAlternateIp) {
      Click(IDC_CHECK_ALT_CONNECTION);
    }
    prompt_.shown.clear();
    Click(IDC_BTN_CREATE);
    ASSERT_FALSE(prompt_.shown.empty());
    EXPECT_EQ(0u, prompt_.shown.back().text.rfind(c.lastShown, 0))
        << testing::PrintToString(prompt_.shown.back().text);
    EXPECT_EQ(dialog_->IsEnabled(IDC_BTN_SENDMAIL), c.mailEnabled);
    EXPECT_TRUE(dialog_->IsEnabled(IDC_BTN_CREATE));
    EXPECT_TRUE(dialog_->IsEnabled(IDC_BTN_CLOSE));
  }
  EXPECT_TRUE(testsupport::FileExists(out + L"\\wsnode32.msi"));
  EXPECT_FALSE(testsupport::FileExists(InstallFolder() + L"Tools\\clPacker\\Build"));
}

TEST_F(MainDialogTest, WhileCreateRunsTheDialogCannotBeClosed) {
  LayOut();
  const std::wstring out = dir_ / L"out";
  ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
  HookPrompt prompt;
  dialog_ = std::make_unique<CtmrovaneDlg>(GetModuleHandleW(nullptr), prompt);
  ASSERT_TRUE(testsupport::WindowCreated([&] { return dialog_->Create(nullptr); }, IDD_TMROVANE_DIALOG));
  const HWND window = dialog_->hwnd();
  SetWindowTextW(Item(IDC_EDIT_DESTINATION), out.c_str());
  bool buttonsDisabled = false;
  bool openAfterCloses = false;
  prompt.hook = [&] {
    buttonsDisabled = !dialog_->IsEnabled(IDC_BTN_CREATE) && !dialog_->IsEnabled(IDC_BTN_CLOSE) &&
                      !dialog_->IsEnabled(IDC_BTN_SENDMAIL);
    SendMessageW(window, WM_CLOSE, 0, 0);
    SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    openAfterCloses = IsWindow(window) != FALSE;
  };
  Click(IDC_BTN_CREATE);  // the antivirus question, answered No
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_TRUE(buttonsDisabled);
  EXPECT_TRUE(openAfterCloses);
  EXPECT_TRUE(IsWindow(window)) << "the closes during the build were ignored";
  prompt.hook = nullptr;
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window)) << "after the build the dialog closes again";
}

TEST_F(MainDialogTest, DuringASlowPackerTheDialogRepaintsAndIgnoresCloses) {
  LayOut();
  const std::wstring out = dir_ / L"out";
  ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
  // The packer is written into the program folder's clPacker sub-folder: here the test's own folder.
  wchar_t module[MAX_PATH];
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::wstring programFolder = std::wstring(module).substr(0, std::wstring(module).find_last_of(L'\\'));
  CreateDirectoryW((programFolder + L"\\clPacker").c_str(), nullptr);
  const std::wstring packer = InstallFolder() + L"Tools\\clPacker";
  ASSERT_TRUE(testsupport::WriteBytes(packer + L"\\pack.delay", "4000"));
  Open();
  const HWND window = dialog_->hwnd();
  SetWindowTextW(Item(IDC_EDIT_DESTINATION), out.c_str());
  Choose(IDC_CMB_ANTIVIRUS, kAntivirusNo);

  // Another thread watches for the packer (the archive is there, the packer's record is not
  // yet), then asks the dialog to close and dirties it. The closes arrive as sent messages,
  // which the dialog's thread takes in when it wakes to paint: so once it is painted again the
  // closes have been handled, inside the build.
  bool painted = false;
  bool packerStillRunning = false;
  bool openAfterCloses = false;
  std::thread watcher([&] {
    const ULONGLONG deadline = GetTickCount64() + 120000;
    while (!testsupport::FileExists(packer + L"\\root.7z") && GetTickCount64() < deadline) {
      Sleep(20);
    }
    SendNotifyMessageW(window, WM_CLOSE, 0, 0);
    SendNotifyMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    InvalidateRect(window, nullptr, TRUE);
    for (int i = 0; i < 100 && !painted; ++i) {
      painted = IsWindow(window) && GetUpdateRect(window, nullptr, FALSE) == FALSE;
      Sleep(20);
    }
    openAfterCloses = IsWindow(window) != FALSE;
    packerStillRunning = !testsupport::FileExists(packer + L"\\pack.log");
  });
  DeleteFileW((packer + L"\\pack.log").c_str());
  Click(IDC_BTN_CREATE);
  watcher.join();
  EXPECT_TRUE(painted);
  EXPECT_TRUE(openAfterCloses);
  EXPECT_TRUE(packerStillRunning) << "the checks ran while the packer was waiting";
  ASSERT_FALSE(prompt_.shown.empty());
  EXPECT_EQ(prompt_.shown.back().text, L"wsnode32.exe has been created successfully.");
  EXPECT_TRUE(testsupport::FileExists(out + L"\\wsnode32.exe"));
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(dialog_->IsEnabled(IDC_BTN_SENDMAIL)) << "after an agent-only build";
}

}  // namespace
}  // namespace maindlgtest
