// The main dialog opens with what the server holds, lays out its controls, and its choices
// constrain each other.

#include "app/main_dlg_test_fixture.h"

namespace maindlgtest {
namespace {

TEST_F(MainDialogTest, OpensWithTheDefaultGroupAndTheServersFolders) {
  options_.registration = serverlayout::Registration::kLongPath;
  options_.trailingBackslash = false;
  LayOut();
  WriteConfig("");
  Open();
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_EQ(kTitle, testsupport::WindowText(dialog_->hwnd()));
  EXPECT_EQ(kInitialWindows, State());

  BuildOptions options;
  dialog_->GetBuildOptions(options);
  EXPECT_EQ(std::wstring(L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}"), options.groupGuid);
  EXPECT_EQ(L"Default", options.groupName);
  EXPECT_EQ(L"Default", dialog_->Text(IDC_EDIT_GROUP));
  EXPECT_EQ(InstallFolder(), options.installFolder) << "a backslash is added to the registered path";
  EXPECT_EQ(layout_.serverFolder + L"\\web\\build", options.webBuildFolder);
  EXPECT_EQ(L"", options.destination);
  EXPECT_EQ(kPackageCustom, options.packageIndex);
  EXPECT_EQ(kPlatformWindows, options.platformIndex);
  EXPECT_EQ(kSetupExe32, options.setupTypeIndex);
  EXPECT_EQ(kAntivirusYes, options.antivirusIndex);
  EXPECT_FALSE(options.validityChecked);
  EXPECT_EQ(0, options.validityIndex);

  EXPECT_EQ(L"http://mac.example.test/one", dialog_->Text(IDC_LINK_MAC_URL1));
  EXPECT_EQ(L"http://mac.example.test/two", dialog_->Text(IDC_LINK_MAC_URL2));
  EXPECT_EQ(options.webBuildFolder, dialog_->Text(IDC_LINK_MAC_FOLDER));
  EXPECT_EQ(L"http://linux.example.test/32/one", dialog_->Text(IDC_LINK_LINUX_URL1));
  EXPECT_EQ(L"http://linux.example.test/32/two", dialog_->Text(IDC_LINK_LINUX_URL2));
  EXPECT_EQ(options.webBuildFolder + L"\\heslin32", dialog_->Text(IDC_LINK_LINUX_FOLDER));

  EXPECT_EQ((std::vector<std::wstring>{L"Custom", L"Minimal"}), Items(IDC_CMB_PACKAGE));
  EXPECT_EQ((std::vector<std::wstring>{L"Windows", L"Mac", L"Linux"}), Items(IDC_CMB_OSPLATFORM));
  EXPECT_EQ((std::vector<std::wstring>{L"EXE/32 bit", L"EXE/64 bit", L"MSI/32 bit", L"MSI/64 bit"}),
            Items(IDC_CMB_SETUPTYPE));
  EXPECT_EQ((std::vector<std::wstring>{L"Yes", L"No"}), Items(IDC_CMB_ANTIVIRUS));
  EXPECT_EQ((std::vector<std::wstring>{L"30", L"60", L"90", L"180"}), Items(IDC_CMB_VALIDITY))
      << "fixed positions, although the list sorts";
  EXPECT_EQ(L"Specify the path to create the Halvane Client Agent installer:",
            dialog_->Text(IDC_STATIC_DESTINATION));
  EXPECT_EQ(L"- Click Create.", dialog_->Text(IDC_STATIC_CLOSING_NOTE));
  EXPECT_EQ(L"- Download Tar file from below link for Linux 32 bit.", dialog_->Text(IDC_STATIC_LINUX_NOTE1));
}

TEST_F(MainDialogTest, InstallationModeDecidesBetweenNotesAndAlternateConnection) {
  struct Row {
    const char* modeLine;
    int mode;
  };
  const Row rows[] = {
      {"", 2},
      {"hesinstmode=2\r\n", 2},
      {"hesinstmode=1\r\n", 1},
      {"hesinstmode=0\r\n", 1},
      {"hesinstmode=3\r\n", 1},
  };
  LayOut();
  for (const Row& row : rows) {
    WriteConfig(row.modeLine);
    Open();
    SCOPED_TRACE(row.modeLine[0] == '\0' ? "hesinstmode absent" : row.modeLine);
    EXPECT_EQ(row.mode, dialog_->installationMode());
    const bool offered = row.mode == 1;
    EXPECT_EQ(!offered, dialog_->IsShown(IDC_STATIC_DISTRIBUTION));
    EXPECT_EQ(!offered, dialog_->IsShown(IDC_STATIC_AV_NOTE));
    for (int id : {IDC_CHECK_ALT_CONNECTION, IDC_RADIO_IPADDRESS, IDC_RADIO_DOMAINNAME, IDC_IPADDRESS,
                   IDC_EDIT_DOMAINNAME, IDC_STATIC_INFO_ICON}) {
      EXPECT_EQ(offered, dialog_->IsShown(id)) << "control " << id;
    }
    if (offered) {
      EXPECT_TRUE(dialog_->IsEnabled(IDC_CHECK_ALT_CONNECTION));
      EXPECT_FALSE(dialog_->IsChecked(IDC_CHECK_ALT_CONNECTION));
      EXPECT_TRUE(dialog_->IsChecked(IDC_RADIO_IPADDRESS));
      EXPECT_FALSE(dialog_->IsEnabled(IDC_RADIO_IPADDRESS));
      EXPECT_FALSE(dialog_->IsEnabled(IDC_RADIO_DOMAINNAME));
      EXPECT_FALSE(dialog_->IsEnabled(IDC_IPADDRESS));
      EXPECT_FALSE(dialog_->IsEnabled(IDC_EDIT_DOMAINNAME));
    }
    EXPECT_EQ(kInitialWindows, State());
    dialog_.reset();
  }
}

// The tooltip control whose tool is control `id`.
HWND FindToolTip(int id) {
  return testsupport::FindThreadWindow([id](HWND window) {
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    TOOLINFOW info{};
    info.cbSize = sizeof(info);
    return wcscmp(className, TOOLTIPS_CLASSW) == 0 &&
           SendMessageW(window, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&info)) &&
           info.uId == static_cast<UINT_PTR>(id);
  });
}

TEST_F(MainDialogTest, TooltipsCarryTheNotesAndTheLinkAddresses) {
  LayOut();
  WriteConfig("hesinstmode=1\r\n");
  Open();
  BuildOptions options;
  dialog_->GetBuildOptions(options);
  const struct {
    int id;
    std::wstring text;
  } rows[] = {
      {IDC_STATIC_INFO_ICON,
       dialog_->Text(IDC_STATIC_DISTRIBUTION) + L"\n" + dialog_->Text(IDC_STATIC_AV_NOTE)},
      {IDC_LINK_MAC_URL1, L"http://mac.example.test/one"},
      {IDC_LINK_MAC_URL2, L"http://mac.example.test/two"},
      {IDC_LINK_MAC_FOLDER, options.webBuildFolder},
  };
  for (const auto& row : rows) {
    HWND tip = FindToolTip(row.id);
    ASSERT_NE(nullptr, tip) << row.id;
    wchar_t text[2048] = L"";
    TOOLINFOW info{};
    info.cbSize = sizeof(info);
    info.hwnd = Item(row.id);
    info.uId = static_cast<UINT_PTR>(row.id);
    info.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 2048, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(row.text, text) << row.id;
  }
  EXPECT_EQ(300, SendMessageW(FindToolTip(IDC_STATIC_INFO_ICON), TTM_GETMAXTIPWIDTH, 0, 0));
}

TEST_F(MainDialogTest, FixedLayoutSetsPositionsSizeAndTabOrder) {
  LayOut();
  Open();
  struct Row {
    int id;
    RECT rect;
  };
  const Row rows[] = {
      {IDC_STATIC_HEADLINE, {15, 13, 474, 49}},
      {IDC_CMB_PACKAGE, {242, 163, 352, 0}},  // a combo's height is its own
      {IDC_EDIT_DESTINATION, {15, 361, 392, 384}},
      {IDC_BTN_CLOSE, {399, 585, 474, 611}},
      {IDC_LINK_LINUX_URL2, {56, 340, 499, 355}},
      {IDC_STATIC_CLOSING_NOTE, {49, 419, 483, 434}},
  };
  for (const Row& row : rows) {
    const RECT rect = Placement(row.id);
    EXPECT_EQ(row.rect.left, rect.left) << row.id;
    EXPECT_EQ(row.rect.top, rect.top) << row.id;
    EXPECT_EQ(row.rect.right, rect.right) << row.id;
    if (row.rect.bottom != 0) {
      EXPECT_EQ(row.rect.bottom, rect.bottom) << row.id;
    }
  }
  RECT window;
  GetWindowRect(dialog_->hwnd(), &window);
  EXPECT_EQ(497, window.right - window.left);
  EXPECT_EQ(628 + GetSystemMetrics(SM_CYCAPTION), window.bottom - window.top);

  const std::vector<int> expected = {IDC_STATIC_HEADLINE,      IDC_STATIC_INTRO,       IDC_STATIC_OPTIONS,
                                     IDC_STATIC_PACKAGE,       IDC_CMB_PACKAGE,        IDC_STATIC_PLATFORM,
                                     IDC_CMB_OSPLATFORM,       IDC_STATIC_SETUPTYPE,   IDC_CMB_SETUPTYPE,
                                     IDC_STATIC_ANTIVIRUS,     IDC_CMB_ANTIVIRUS,      IDC_STATIC_LINUX_NOTE1,
                                     IDC_LINK_LINUX_URL2,      IDC_LINK_LINUX_URL1,    IDC_STATIC_LINUX_NOTE2,
                                     IDC_LINK_LINUX_FOLDER,    IDC_STATIC_GROUP,       IDC_EDIT_GROUP,
                                     IDC_BTN_BROWSEGROUP,      IDC_STATIC_MAC_NOTE1,   IDC_LINK_MAC_URL1,
                                     IDC_LINK_MAC_URL2,        IDC_STATIC_MAC_NOTE2,   IDC_LINK_MAC_FOLDER,
                                     IDC_STATIC_CLOSING_NOTE,  IDC_STATIC_DESTINATION, IDC_EDIT_DESTINATION,
                                     IDC_BTN_BROWSE,           IDC_CHECK_VALIDITY,     IDC_CMB_VALIDITY,
                                     IDC_CHECK_ALT_CONNECTION, IDC_STATIC_INFO_ICON,   IDC_BTN_CREATE,
                                     IDC_BTN_SENDMAIL,         IDC_BTN_CLOSE};
  std::vector<int> order;
  for (HWND child = GetWindow(dialog_->hwnd(), GW_CHILD); child != nullptr && order.size() < expected.size();
       child = GetWindow(child, GW_HWNDNEXT)) {
    order.push_back(GetDlgCtrlID(child));
  }
  EXPECT_EQ(expected, order);
}

// One row per situation: the actions that lead there from the initial state and the state.
TEST_F(MainDialogTest, ChoicesConstrainEachOther) {
  struct Row {
    const char* name;
    std::vector<std::pair<int, int>> choices;  // (control, index); index -1 clicks a button
    std::wstring state;
  };
  // clang-format off
  const Row rows[] = {
      {"Custom, Windows, EXE, antivirus No",
       {{IDC_CMB_ANTIVIRUS, kAntivirusNo}},
       L"platform E:Windows | setup E:EXE/32 bit/4 | antivirus E:No | validity D- D:30 | mail E | "
       L"group shown | destination shown | notes none"},
      {"Custom, Windows, MSI",
       {{IDC_CMB_SETUPTYPE, kSetupMsi32}},
       L"platform E:Windows | setup E:MSI/32 bit/4 | antivirus D:No | validity D- D:30 | mail E | "
       L"group shown | destination shown | notes none"},
      {"Minimal",
       {{IDC_CMB_SETUPTYPE, kSetupExe64}, {IDC_CMB_PACKAGE, kPackageMinimal}},
       L"platform D:Windows | setup D:EXE/32 bit/4 | antivirus D:No | validity E- D:30 | mail E | "
       L"group shown | destination shown | notes none"},
      {"Minimal with validity",
       {{IDC_CMB_PACKAGE, kPackageMinimal}, {IDC_CHECK_VALIDITY, -1}, {IDC_CMB_VALIDITY, 2}},
       L"platform D:Windows | setup D:EXE/32 bit/4 | antivirus D:No | validity E+ E:90 | mail E | "
       L"group shown | destination shown | notes none"},
      {"Custom, Mac",
       {{IDC_CMB_OSPLATFORM, kPlatformMac}},
       L"platform E:Mac | setup D:EXE/32 bit/4 | antivirus E:Yes | validity H H | mail D | "
       L"group shown | destination hidden | notes mac"},
      {"Custom, Mac, antivirus No",
       {{IDC_CMB_OSPLATFORM, kPlatformMac}, {IDC_CMB_ANTIVIRUS, kAntivirusNo}},
       L"platform E:Mac | setup D:EXE/32 bit/4 | antivirus E:No | validity H H | mail E | "
       L"group shown | destination hidden | notes mac"},
      {"Custom, Linux",
       {{IDC_CMB_OSPLATFORM, kPlatformLinux}},
       L"platform E:Linux | setup E:32 bit/2 | antivirus D:Yes | validity H H | mail D | "
       L"group hidden | destination hidden | notes linux"},
      {"MSI/64 then EXE/32 keeps antivirus No, selectable again",
       {{IDC_CMB_ANTIVIRUS, kAntivirusNo},
        {IDC_CMB_SETUPTYPE, kSetupMsi64},
        {IDC_CMB_SETUPTYPE, kSetupExe32}},
       L"platform E:Windows | setup E:EXE/32 bit/4 | antivirus E:No | validity D- D:30 | mail E | "
       L"group shown | destination shown | notes none"},
      {"Minimal then Custom",
       {{IDC_CMB_PACKAGE, kPackageMinimal},
        {IDC_CHECK_VALIDITY, -1},
        {IDC_CMB_VALIDITY, 3},
        {IDC_CMB_PACKAGE, kPackageCustom}},
       kInitialWindows},
      {"Linux then Windows",
       {{IDC_CMB_OSPLATFORM, kPlatformLinux},
        {IDC_CMB_SETUPTYPE, kSetupLinux64},
        {IDC_CMB_OSPLATFORM, kPlatformWindows}},
       kInitialWindows},
      {"Mac after Linux",
       {{IDC_CMB_OSPLATFORM, kPlatformLinux},
        {IDC_CMB_SETUPTYPE, kSetupLinux64},
        {IDC_CMB_OSPLATFORM, kPlatformMac}},
       L"platform E:Mac | setup D:32 bit/2 | antivirus E:Yes | validity H H | mail D | "
       L"group shown | destination hidden | notes mac"},
      {"Mac then Windows",
       {{IDC_CMB_OSPLATFORM, kPlatformMac}, {IDC_CMB_OSPLATFORM, kPlatformWindows}},
       kInitialWindows},
      {"Custom picked again on Mac keeps the setup type disabled",
       {{IDC_CMB_OSPLATFORM, kPlatformMac}, {IDC_CMB_PACKAGE, kPackageCustom}},
       L"platform E:Mac | setup D:EXE/32 bit/4 | antivirus E:Yes | validity H H | mail D | "
       L"group shown | destination hidden | notes mac"},
      {"Custom picked again on a Windows EXE with antivirus No keeps antivirus selectable",
       {{IDC_CMB_ANTIVIRUS, kAntivirusNo}, {IDC_CMB_PACKAGE, kPackageCustom}},
       L"platform E:Windows | setup E:EXE/32 bit/4 | antivirus E:No | validity D- D:30 | mail E | "
       L"group shown | destination shown | notes none"},
  };
  // clang-format on
  LayOut();
  WriteConfig("");
  for (const Row& row : rows) {
    Open();
    for (const auto& [id, index] : row.choices) {
      if (index < 0) {
        Click(id);
      } else {
        Choose(id, index);
      }
    }
    EXPECT_EQ(row.state, State()) << row.name;
    BuildOptions options;
    dialog_->GetBuildOptions(options);
    EXPECT_EQ(dialog_->Selection(IDC_CMB_SETUPTYPE), options.setupTypeIndex) << row.name;
    EXPECT_EQ(dialog_->IsChecked(IDC_CHECK_VALIDITY), options.validityChecked) << row.name;
    EXPECT_EQ(dialog_->Selection(IDC_CMB_VALIDITY), options.validityIndex) << row.name;
    dialog_.reset();
  }
}

TEST_F(MainDialogTest, LinuxLinksFollowTheBitnessAndTheRegisteredPath) {
  options_.registration = serverlayout::Registration::kShortPath;
  LayOut();
  WriteConfig("");
  Open();
  BuildOptions options;
  dialog_->GetBuildOptions(options);
  const std::wstring registered = options.installFolder;
  ASSERT_NE(layout_.serverFolder + L"\\", registered) << "the server folder has no short form";
  EXPECT_EQ(options.webBuildFolder + L"\\heslin32", dialog_->Text(IDC_LINK_LINUX_FOLDER))
      << "long form at start";

  Choose(IDC_CMB_OSPLATFORM, kPlatformLinux);
  EXPECT_EQ(registered + L"web\\build\\heslin32", dialog_->Text(IDC_LINK_LINUX_FOLDER))
      << "registered form after a change";
  EXPECT_EQ(L"http://linux.example.test/32/one", dialog_->Text(IDC_LINK_LINUX_URL1));
  RECT closing = Placement(IDC_STATIC_CLOSING_NOTE);
  EXPECT_EQ(405, closing.top);

  Choose(IDC_CMB_SETUPTYPE, kSetupLinux64);
  EXPECT_EQ(registered + L"web\\build\\heslin64", dialog_->Text(IDC_LINK_LINUX_FOLDER));
  EXPECT_EQ(L"http://linux.example.test/64/one", dialog_->Text(IDC_LINK_LINUX_URL1));
  EXPECT_EQ(L"http://linux.example.test/64/two", dialog_->Text(IDC_LINK_LINUX_URL2));
  EXPECT_EQ(L"Download Tar file from below link for Linux 64 bit.", dialog_->Text(IDC_STATIC_LINUX_NOTE1));
  EXPECT_EQ(L"linux", State().substr(State().rfind(L' ') + 1));

  Choose(IDC_CMB_SETUPTYPE, kSetupLinux32);
  EXPECT_EQ(registered + L"web\\build\\heslin32", dialog_->Text(IDC_LINK_LINUX_FOLDER));
  EXPECT_EQ(L"http://linux.example.test/32/two", dialog_->Text(IDC_LINK_LINUX_URL2));

  Choose(IDC_CMB_OSPLATFORM, kPlatformMac);
  closing = Placement(IDC_STATIC_CLOSING_NOTE);
  EXPECT_EQ(422, closing.top);
}

TEST_F(MainDialogTest, MissingLinuxKeysLeaveEmptyLinksWithATraceLine) {
  LayOut();
  ASSERT_TRUE(testsupport::WriteBytes(layout_.serverFolder + L"\\config\\cnslconf.ini",
                                      "[ADMIN_CONSOLE_SECTION]\r\nlinux_url1_32=http://only.test/\r\n"));
  Open();
  EXPECT_EQ(L"", dialog_->Text(IDC_LINK_MAC_URL1)) << "an empty address leaves the link without text";
  testsupport::TraceCapture trace;
  Choose(IDC_CMB_OSPLATFORM, kPlatformLinux);
  EXPECT_EQ(L"http://only.test/", dialog_->Text(IDC_LINK_LINUX_URL1));
  EXPECT_EQ(L"", dialog_->Text(IDC_LINK_LINUX_URL2));
  EXPECT_TRUE(
      trace.Contains(L"CtmrovaneDlg::OnCbnSelchangeCmbOsplatform GetPrivateProfileString failed, Error:"));
  Choose(IDC_CMB_SETUPTYPE, kSetupLinux64);
  EXPECT_EQ(L"", dialog_->Text(IDC_LINK_LINUX_URL1));
  EXPECT_TRUE(
      trace.Contains(L"CtmrovaneDlg::OnCbnSelchangeCmbSetuptype GetPrivateProfileString failed, Error:"));
}

TEST_F(MainDialogTest, LinksOpenTheirAddressAndPackageEntriesHaveTheirOwnTips) {
  LayOut();
  testsupport::TraceCapture trace;
  // A download address that is a path is refused: traced, nothing shown, the text stays.
  ASSERT_TRUE(
      testsupport::WriteBytes(layout_.serverFolder + L"\\config\\cnslconf.ini",
                              "[ADMIN_CONSOLE_SECTION]\r\nmac_build_url=C:\\windows\\notepad.exe\r\n"));
  Open();
  Choose(IDC_CMB_OSPLATFORM, kPlatformMac);
  SendMessageW(dialog_->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_LINK_MAC_URL1, STN_CLICKED),
               reinterpret_cast<LPARAM>(Item(IDC_LINK_MAC_URL1)));
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_TRUE(trace.Contains(L"CHyperLink::OnClicked Link target refused: \"C:\\windows\\notepad.exe\""));
  EXPECT_EQ(L"C:\\windows\\notepad.exe", testsupport::WindowText(Item(IDC_LINK_MAC_URL1)));
  EXPECT_NE(0u, GetWindowLongW(Item(IDC_LINK_MAC_URL1), GWL_STYLE) & SS_NOTIFY);

  // Hovering over the closed package box shows the selected entry's own tip.
  HWND tip = FindWindowW(CTTComboBox::kTipWindowClass, nullptr);
  ASSERT_NE(nullptr, tip);
  for (const auto& [index, text] :
       {std::pair{kPackageCustom, L"Installation will NOT require an internet connection if AV is included"},
        std::pair{kPackageMinimal,
                  L"Installation will require an internet connection to download Agent and AV"}}) {
    Choose(IDC_CMB_PACKAGE, index);
    SendMessageW(Item(IDC_CMB_PACKAGE), WM_MOUSEHOVER, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(IsWindowVisible(tip)) << index;
    EXPECT_EQ(text, testsupport::WindowText(tip)) << index;
    SendMessageW(Item(IDC_CMB_PACKAGE), WM_MOUSELEAVE, 0, 0);
  }
  ReleaseCapture();
}

TEST_F(MainDialogTest, AlternateConnectionSwitchAndRadioButtons) {
  LayOut();
  WriteConfig("hesinstmode=1\r\n");
  Open();
  Click(IDC_CHECK_ALT_CONNECTION);
  EXPECT_TRUE(dialog_->IsEnabled(IDC_RADIO_IPADDRESS));
  EXPECT_TRUE(dialog_->IsEnabled(IDC_RADIO_DOMAINNAME));
  EXPECT_TRUE(dialog_->IsEnabled(IDC_IPADDRESS));
  EXPECT_FALSE(dialog_->IsEnabled(IDC_EDIT_DOMAINNAME));
  EXPECT_TRUE(dialog_->IsChecked(IDC_RADIO_IPADDRESS));
  SendMessageW(Item(IDC_IPADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 1, 2, 3));

  BuildOptions options;
  dialog_->GetBuildOptions(options);
  EXPECT_TRUE(options.alternateConnection);
  EXPECT_FALSE(options.alternateByDomainName);
  EXPECT_EQ(L"10.1.2.3", options.alternateIp);

  Click(IDC_RADIO_DOMAINNAME);
  EXPECT_FALSE(dialog_->IsChecked(IDC_RADIO_IPADDRESS));
  EXPECT_FALSE(dialog_->IsEnabled(IDC_IPADDRESS));
  EXPECT_TRUE(dialog_->IsEnabled(IDC_EDIT_DOMAINNAME));
  EXPECT_NE(0, SendMessageW(Item(IDC_IPADDRESS), IPM_ISBLANK, 0, 0)) << "the other address is emptied";
  SetWindowTextW(Item(IDC_EDIT_DOMAINNAME), L"server.example.test");
  dialog_->GetBuildOptions(options);
  EXPECT_TRUE(options.alternateByDomainName);
  EXPECT_EQ(L"server.example.test", options.alternateDomain);

  Click(IDC_RADIO_IPADDRESS);
  EXPECT_TRUE(dialog_->IsEnabled(IDC_IPADDRESS));
  EXPECT_FALSE(dialog_->IsEnabled(IDC_EDIT_DOMAINNAME));
  EXPECT_EQ(L"", dialog_->Text(IDC_EDIT_DOMAINNAME));

  SendMessageW(Item(IDC_IPADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 0, 9));
  Click(IDC_RADIO_DOMAINNAME);
  SetWindowTextW(Item(IDC_EDIT_DOMAINNAME), L"typed.example.test");
  Click(IDC_CHECK_ALT_CONNECTION);  // unchecked: both addresses are emptied
  EXPECT_EQ(L"", dialog_->Text(IDC_EDIT_DOMAINNAME));
  EXPECT_NE(0, SendMessageW(Item(IDC_IPADDRESS), IPM_ISBLANK, 0, 0));
  for (int id : {IDC_RADIO_IPADDRESS, IDC_RADIO_DOMAINNAME, IDC_IPADDRESS, IDC_EDIT_DOMAINNAME}) {
    EXPECT_FALSE(dialog_->IsEnabled(id)) << id;
  }
  dialog_->GetBuildOptions(options);
  EXPECT_FALSE(options.alternateConnection);
}

TEST_F(MainDialogTest, FolderBrowserIsRelabelledStartsAtTheRootAndCancelKeepsTheDestination) {
  LayOut();
  struct Seen {
    std::wstring okText;
    std::wstring cancelText;
    bool rootSelected = false;
  } seen[2];
  std::wstring afterCancel;
  std::wstring afterOk;
  // Inspects the browser once its tree is filled, then answers it.
  const auto answerBrowser = [&](Seen& into, bool confirm) {
    return [&, confirm]() {
      HWND browser = FindOwnedDialog(dialog_->hwnd());
      HWND tree = browser != nullptr ? FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr) : nullptr;
      const auto root = reinterpret_cast<HTREEITEM>(
          tree != nullptr ? SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0) : 0);
      if (root == nullptr) {
        return false;
      }
      into.okText = testsupport::WindowText(GetDlgItem(browser, IDOK));
      into.cancelText = testsupport::WindowText(GetDlgItem(browser, IDCANCEL));
      into.rootSelected =
          root == reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
      const int button = confirm ? IDOK : IDCANCEL;
      PostMessageW(browser, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(browser, button)));
      return true;
    };
  };
  const auto clickBrowse = [&] {
    PostMessageW(dialog_->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BTN_BROWSE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(IDC_BTN_BROWSE)));
  };
  const auto browserGone = [&] { return FindOwnedDialog(dialog_->hwnd()) == nullptr; };
  const INT_PTR result = RunModal({
      Do([&] {
        SetWindowTextW(Item(IDC_EDIT_DESTINATION), L"C:\\kept");
        clickBrowse();
      }),
      answerBrowser(seen[0], false),
      browserGone,
      Do([&] {
        afterCancel = dialog_->Text(IDC_EDIT_DESTINATION);
        clickBrowse();
      }),
      answerBrowser(seen[1], true),
      browserGone,
      Do([&] { afterOk = dialog_->Text(IDC_EDIT_DESTINATION); }),
  });
  EXPECT_EQ(IDCANCEL, result);
  for (const Seen& browser : seen) {
    EXPECT_EQ(L"O&k", browser.okText);
    EXPECT_EQ(L"&Cancel", browser.cancelText);
    EXPECT_TRUE(browser.rootSelected);
  }
  EXPECT_EQ(L"C:\\kept", afterCancel);
  const DWORD attributes = GetFileAttributesW(afterOk.c_str());
  EXPECT_TRUE(afterOk != L"C:\\kept" && attributes != INVALID_FILE_ATTRIBUTES &&
              (attributes & FILE_ATTRIBUTE_DIRECTORY))
      << "OK on the tree's root gives its folder: " << testing::PrintToString(afterOk);
}

}  // namespace
}  // namespace maindlgtest
