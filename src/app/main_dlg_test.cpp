// The real main dialog on a stand-in server laid out per test, driven through its controls.

#include "app/main_dlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/resource.h"
#include "controls/tt_combo_box.h"
#include "layout/server_layout.h"
#include "support/mapi_record.h"
#include "support/registry_backup.h"
#include "support/scripted_prompt.h"
#include "support/temp_dir.h"
#include "support/timer_script.h"
#include "support/trace_capture.h"
#include "support/tree_items.h"
#include "support/window_report.h"

namespace {

using testsupport::Do;
using testsupport::FindOwnedDialog;
using testsupport::ScriptedPrompt;
using testsupport::TempDir;
using testsupport::TimerScript;

constexpr wchar_t kTitle[] = L"Halvane Endpoint Security Client Packager";
constexpr wchar_t kLoadGroupsFailed[] = L"Unable to load groups";

std::wstring TextOf(HWND window) {
  wchar_t text[2048] = L"";
  GetWindowTextW(window, text, 2048);
  return text;
}

// How many lines of `text` are exactly `line`.
size_t CountLines(const std::wstring& text, const std::wstring& line) {
  size_t count = 0;
  for (size_t at = text.find(line); at != std::wstring::npos; at = text.find(line, at + 1)) {
    const size_t end = at + line.size();
    count += (at == 0 || text[at - 1] == L'\n') &&
             (end == text.size() || text[end] == L'\r' || text[end] == L'\n');
  }
  return count;
}

class MainDialogTest : public ::testing::Test {
 protected:
  MainDialogTest() : registration_(serverlayout::kAppPathsKey) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    options_.serverFolder = dir_ / L"Server Folder";
    options_.layOutProgram = false;
  }

  void LayOut() {
    ASSERT_TRUE(serverlayout::LayOutServer(options_, &layout_)) << testing::PrintToString(layout_.error);
  }

  // The console configuration with known addresses and the given hesinstmode line.
  void WriteConfig(const std::string& modeLine) {
    const std::string text =
        "[ADMIN_CONSOLE_SECTION]\r\n"
        "mac_build_url=http://mac.example.test/one\r\n"
        "mac_build_url1=http://mac.example.test/two\r\n"
        "linux_url1_32=http://linux.example.test/32/one\r\n"
        "linux_url2_32=http://linux.example.test/32/two\r\n"
        "linux_url1_64=http://linux.example.test/64/one\r\n"
        "linux_url2_64=http://linux.example.test/64/two\r\n" +
        modeLine;
    ASSERT_TRUE(testsupport::WriteBytes(layout_.serverFolder + L"\\config\\cnslconf.ini", text));
  }

  void Open() {
    dialog_ = std::make_unique<CtmrovaneDlg>(GetModuleHandleW(nullptr), prompt_);
    ASSERT_TRUE(testsupport::WindowCreated([&] { return dialog_->Create(nullptr); }, IDD_TMROVANE_DIALOG));
    ASSERT_NE(nullptr, dialog_->hwnd());
  }

  // Runs the dialog modally; a dialog still open after the script is closed by the test.
  INT_PTR RunModal(std::vector<TimerScript::Step> steps = {}) {
    dialog_ = std::make_unique<CtmrovaneDlg>(GetModuleHandleW(nullptr), prompt_);
    // Whatever a failed step left open is cancelled before the dialog is closed.
    steps.push_back([this] {
      HWND owned = dialog_->hwnd() != nullptr ? FindOwnedDialog(dialog_->hwnd()) : nullptr;
      if (owned != nullptr) {
        PostMessageW(owned, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return false;
      }
      if (dialog_->hwnd() != nullptr) {
        leftOpen_ = true;
        PostMessageW(dialog_->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BTN_CLOSE, BN_CLICKED), 0);
      }
      return true;
    });
    TimerScript script(std::move(steps));
    return dialog_->DoModal(nullptr);
  }

  HWND Item(int id) const { return GetDlgItem(dialog_->hwnd(), id); }
  std::wstring Text(int id) const { return TextOf(Item(id)); }
  bool Visible(int id) const { return (GetWindowLongW(Item(id), GWL_STYLE) & WS_VISIBLE) != 0; }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  int Selection(int id) const { return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
  std::vector<std::wstring> Items(int id) const {
    std::vector<std::wstring> items;
    const int count = static_cast<int>(SendMessageW(Item(id), CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      wchar_t text[64] = L"";
      SendMessageW(Item(id), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      items.push_back(text);
    }
    return items;
  }
  RECT Placement(int id) const {
    RECT rect;
    GetWindowRect(Item(id), &rect);
    MapWindowPoints(nullptr, dialog_->hwnd(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }

  // What the administrator does: pick an item, click a button.
  void Choose(int id, int index) const {
    SendMessageW(Item(id), CB_SETCURSEL, index, 0);
    SendMessageW(dialog_->hwnd(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Item(id)));
  }
  void Click(int id) const { SendMessageW(Item(id), BM_CLICK, 0, 0); }

  // The option state in one line: each combo as H, or E/D with its selection (and item count
  // for the setup type); the validity switch and combo; Send Mail; the group and destination
  // controls; which notes show.
  std::wstring State() const {
    const auto access = [&](int id) -> std::wstring {
      return !Visible(id) ? L"H" : Enabled(id) ? L"E" : L"D";
    };
    const auto combo = [&](int id) {
      std::wstring text = access(id);
      if (text != L"H") {
        text += L":" + Text(id);
      }
      return text;
    };
    const auto group = [&](std::initializer_list<int> ids) -> std::wstring {
      int shown = 0;
      for (int id : ids) {
        shown += Visible(id) ? 1 : 0;
      }
      return shown == 0 ? L"hidden" : shown == static_cast<int>(ids.size()) ? L"shown" : L"mixed";
    };
    std::wstring validity = access(IDC_CHECK_VALIDITY);
    if (validity != L"H") {
      validity += Checked(IDC_CHECK_VALIDITY) ? L"+" : L"-";
    }
    validity += L" " + combo(IDC_CMB_VALIDITY);
    const std::wstring mac = group({IDC_STATIC_MAC_NOTE1, IDC_LINK_MAC_URL1, IDC_LINK_MAC_URL2,
                                    IDC_STATIC_MAC_NOTE2, IDC_LINK_MAC_FOLDER});
    const std::wstring linux = group({IDC_STATIC_LINUX_NOTE1, IDC_LINK_LINUX_URL1, IDC_LINK_LINUX_URL2,
                                      IDC_STATIC_LINUX_NOTE2, IDC_LINK_LINUX_FOLDER});
    std::wstring notes = L"none";
    if (mac == L"shown" && linux == L"hidden" && Visible(IDC_STATIC_CLOSING_NOTE)) {
      notes = L"mac";
    } else if (mac == L"hidden" && linux == L"shown" && Visible(IDC_STATIC_CLOSING_NOTE)) {
      notes = L"linux";
    } else if (mac != L"hidden" || linux != L"hidden" || Visible(IDC_STATIC_CLOSING_NOTE)) {
      notes = L"mixed mac " + mac + L" linux " + linux;
    }
    return L"platform " + combo(IDC_CMB_OSPLATFORM) + L" | setup " + combo(IDC_CMB_SETUPTYPE) + L"/" +
           std::to_wstring(Items(IDC_CMB_SETUPTYPE).size()) + L" | antivirus " + combo(IDC_CMB_ANTIVIRUS) +
           L" | validity " + validity + L" | mail " + access(IDC_BTN_SENDMAIL) + L" | group " +
           group({IDC_STATIC_GROUP, IDC_EDIT_GROUP, IDC_BTN_BROWSEGROUP}) + L" | destination " +
           group({IDC_STATIC_DESTINATION, IDC_EDIT_DESTINATION, IDC_BTN_BROWSE}) + L" | notes " + notes;
  }

  std::wstring InstallFolder() const { return layout_.serverFolder + L"\\"; }
  std::wstring Journal() const {
    const std::string bytes =
        testsupport::ReadBytes(layout_.serverFolder + L"\\" + serverlayout::kGroupJournalFile);
    return std::wstring(bytes.begin(), bytes.end());
  }

  TempDir dir_;
  testsupport::RegistryPathBackup registration_;
  serverlayout::Options options_;
  serverlayout::Result layout_;
  ScriptedPrompt prompt_;
  std::unique_ptr<CtmrovaneDlg> dialog_;
  bool leftOpen_ = false;
};

const std::wstring kInitialWindows =
    L"platform E:Windows | setup E:EXE/32 bit/4 | antivirus E:Yes | validity D- D:30 | mail D | group shown "
    L"| "
    L"destination shown | notes none";

TEST_F(MainDialogTest, OpensWithTheDefaultGroupAndTheServersFolders) {
  options_.registration = serverlayout::Registration::kLongPath;
  options_.trailingBackslash = false;
  LayOut();
  WriteConfig("");
  Open();
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_EQ(kTitle, TextOf(dialog_->hwnd()));
  EXPECT_EQ(kInitialWindows, State());

  BuildOptions options;
  dialog_->GetBuildOptions(options);
  EXPECT_EQ(std::wstring(L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}"), options.groupGuid);
  EXPECT_EQ(L"Default", options.groupName);
  EXPECT_EQ(L"Default", Text(IDC_EDIT_GROUP));
  EXPECT_EQ(1, options.groupId);
  EXPECT_EQ(InstallFolder(), options.installFolder) << "a backslash is added to the registered path";
  EXPECT_EQ(layout_.serverFolder + L"\\web\\build", options.webBuildFolder);
  EXPECT_EQ(L"", options.destination);
  EXPECT_EQ(kPackageCustom, options.packageIndex);
  EXPECT_EQ(kPlatformWindows, options.platformIndex);
  EXPECT_EQ(kSetupExe32, options.setupTypeIndex);
  EXPECT_EQ(kAntivirusYes, options.antivirusIndex);
  EXPECT_FALSE(options.validityChecked);
  EXPECT_EQ(0, options.validityIndex);

  EXPECT_EQ(L"http://mac.example.test/one", Text(IDC_LINK_MAC_URL1));
  EXPECT_EQ(L"http://mac.example.test/two", Text(IDC_LINK_MAC_URL2));
  EXPECT_EQ(options.webBuildFolder, Text(IDC_LINK_MAC_FOLDER));
  EXPECT_EQ(L"http://linux.example.test/32/one", Text(IDC_LINK_LINUX_URL1));
  EXPECT_EQ(L"http://linux.example.test/32/two", Text(IDC_LINK_LINUX_URL2));
  EXPECT_EQ(options.webBuildFolder + L"\\heslin32", Text(IDC_LINK_LINUX_FOLDER));

  EXPECT_EQ((std::vector<std::wstring>{L"Custom", L"Minimal"}), Items(IDC_CMB_PACKAGE));
  EXPECT_EQ((std::vector<std::wstring>{L"Windows", L"Mac", L"Linux"}), Items(IDC_CMB_OSPLATFORM));
  EXPECT_EQ((std::vector<std::wstring>{L"EXE/32 bit", L"EXE/64 bit", L"MSI/32 bit", L"MSI/64 bit"}),
            Items(IDC_CMB_SETUPTYPE));
  EXPECT_EQ((std::vector<std::wstring>{L"Yes", L"No"}), Items(IDC_CMB_ANTIVIRUS));
  EXPECT_EQ((std::vector<std::wstring>{L"30", L"60", L"90", L"180"}), Items(IDC_CMB_VALIDITY))
      << "fixed positions, although the list sorts";
  EXPECT_EQ(L"Specify the path to create the Halvane Client Agent installer:", Text(IDC_STATIC_DESTINATION));
  EXPECT_EQ(L"- Click Create.", Text(IDC_STATIC_CLOSING_NOTE));
  EXPECT_EQ(L"- Download Tar file from below link for Linux 32 bit.", Text(IDC_STATIC_LINUX_NOTE1));
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
    EXPECT_EQ(!offered, Visible(IDC_STATIC_DISTRIBUTION));
    EXPECT_EQ(!offered, Visible(IDC_STATIC_AV_NOTE));
    for (int id : {IDC_CHECK_ALT_CONNECTION, IDC_RADIO_IPADDRESS, IDC_RADIO_DOMAINNAME, IDC_IPADDRESS,
                   IDC_EDIT_DOMAINNAME, IDC_STATIC_INFO_ICON}) {
      EXPECT_EQ(offered, Visible(id)) << "control " << id;
    }
    if (offered) {
      EXPECT_TRUE(Enabled(IDC_CHECK_ALT_CONNECTION));
      EXPECT_FALSE(Checked(IDC_CHECK_ALT_CONNECTION));
      EXPECT_TRUE(Checked(IDC_RADIO_IPADDRESS));
      EXPECT_FALSE(Enabled(IDC_RADIO_IPADDRESS));
      EXPECT_FALSE(Enabled(IDC_RADIO_DOMAINNAME));
      EXPECT_FALSE(Enabled(IDC_IPADDRESS));
      EXPECT_FALSE(Enabled(IDC_EDIT_DOMAINNAME));
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
      {IDC_STATIC_INFO_ICON, Text(IDC_STATIC_DISTRIBUTION) + L"\n" + Text(IDC_STATIC_AV_NOTE)},
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
  const Row rows[] = {
      {"Custom, Windows, EXE, antivirus No",
       {{IDC_CMB_ANTIVIRUS, kAntivirusNo}},
       L"platform E:Windows | setup E:EXE/32 bit/4 | antivirus E:No | validity D- D:30 | mail E | group "
       L"shown | "
       L"destination shown | notes none"},
      {"Custom, Windows, MSI",
       {{IDC_CMB_SETUPTYPE, kSetupMsi32}},
       L"platform E:Windows | setup E:MSI/32 bit/4 | antivirus D:No | validity D- D:30 | mail E | group "
       L"shown | "
       L"destination shown | notes none"},
      {"Minimal",
       {{IDC_CMB_SETUPTYPE, kSetupExe64}, {IDC_CMB_PACKAGE, kPackageMinimal}},
       L"platform D:Windows | setup D:EXE/32 bit/4 | antivirus D:No | validity E- D:30 | mail E | group "
       L"shown | "
       L"destination shown | notes none"},
      {"Minimal with validity",
       {{IDC_CMB_PACKAGE, kPackageMinimal}, {IDC_CHECK_VALIDITY, -1}, {IDC_CMB_VALIDITY, 2}},
       L"platform D:Windows | setup D:EXE/32 bit/4 | antivirus D:No | validity E+ E:90 | mail E | group "
       L"shown | "
       L"destination shown | notes none"},
      {"Custom, Mac",
       {{IDC_CMB_OSPLATFORM, kPlatformMac}},
       L"platform E:Mac | setup D:EXE/32 bit/4 | antivirus E:Yes | validity H H | mail D | group shown | "
       L"destination hidden | notes mac"},
      {"Custom, Mac, antivirus No",
       {{IDC_CMB_OSPLATFORM, kPlatformMac}, {IDC_CMB_ANTIVIRUS, kAntivirusNo}},
       L"platform E:Mac | setup D:EXE/32 bit/4 | antivirus E:No | validity H H | mail E | group shown | "
       L"destination hidden | notes mac"},
      {"Custom, Linux",
       {{IDC_CMB_OSPLATFORM, kPlatformLinux}},
       L"platform E:Linux | setup E:32 bit/2 | antivirus D:Yes | validity H H | mail D | group hidden | "
       L"destination hidden | notes linux"},
      {"MSI/64 then EXE/32 keeps antivirus No, selectable again",
       {{IDC_CMB_ANTIVIRUS, kAntivirusNo},
        {IDC_CMB_SETUPTYPE, kSetupMsi64},
        {IDC_CMB_SETUPTYPE, kSetupExe32}},
       L"platform E:Windows | setup E:EXE/32 bit/4 | antivirus E:No | validity D- D:30 | mail E | group "
       L"shown | "
       L"destination shown | notes none"},
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
       L"platform E:Mac | setup D:32 bit/2 | antivirus E:Yes | validity H H | mail D | group shown | "
       L"destination hidden | notes mac"},
      {"Mac then Windows",
       {{IDC_CMB_OSPLATFORM, kPlatformMac}, {IDC_CMB_OSPLATFORM, kPlatformWindows}},
       kInitialWindows},
      {"Custom picked again on Mac keeps the setup type disabled",
       {{IDC_CMB_OSPLATFORM, kPlatformMac}, {IDC_CMB_PACKAGE, kPackageCustom}},
       L"platform E:Mac | setup D:EXE/32 bit/4 | antivirus E:Yes | validity H H | mail D | group shown | "
       L"destination hidden | notes mac"},
      {"Custom picked again on a Windows EXE with antivirus No keeps antivirus selectable",
       {{IDC_CMB_ANTIVIRUS, kAntivirusNo}, {IDC_CMB_PACKAGE, kPackageCustom}},
       L"platform E:Windows | setup E:EXE/32 bit/4 | antivirus E:No | validity D- D:30 | mail E | group "
       L"shown | "
       L"destination shown | notes none"},
  };
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
    EXPECT_EQ(Selection(IDC_CMB_SETUPTYPE), options.setupTypeIndex) << row.name;
    EXPECT_EQ(Checked(IDC_CHECK_VALIDITY), options.validityChecked) << row.name;
    EXPECT_EQ(Selection(IDC_CMB_VALIDITY), options.validityIndex) << row.name;
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
  EXPECT_EQ(options.webBuildFolder + L"\\heslin32", Text(IDC_LINK_LINUX_FOLDER)) << "long form at start";

  Choose(IDC_CMB_OSPLATFORM, kPlatformLinux);
  EXPECT_EQ(registered + L"web\\build\\heslin32", Text(IDC_LINK_LINUX_FOLDER))
      << "registered form after a change";
  EXPECT_EQ(L"http://linux.example.test/32/one", Text(IDC_LINK_LINUX_URL1));
  RECT closing = Placement(IDC_STATIC_CLOSING_NOTE);
  EXPECT_EQ(405, closing.top);

  Choose(IDC_CMB_SETUPTYPE, kSetupLinux64);
  EXPECT_EQ(registered + L"web\\build\\heslin64", Text(IDC_LINK_LINUX_FOLDER));
  EXPECT_EQ(L"http://linux.example.test/64/one", Text(IDC_LINK_LINUX_URL1));
  EXPECT_EQ(L"http://linux.example.test/64/two", Text(IDC_LINK_LINUX_URL2));
  EXPECT_EQ(L"Download Tar file from below link for Linux 64 bit.", Text(IDC_STATIC_LINUX_NOTE1));
  EXPECT_EQ(L"linux", State().substr(State().rfind(L' ') + 1));

  Choose(IDC_CMB_SETUPTYPE, kSetupLinux32);
  EXPECT_EQ(registered + L"web\\build\\heslin32", Text(IDC_LINK_LINUX_FOLDER));
  EXPECT_EQ(L"http://linux.example.test/32/two", Text(IDC_LINK_LINUX_URL2));

  Choose(IDC_CMB_OSPLATFORM, kPlatformMac);
  closing = Placement(IDC_STATIC_CLOSING_NOTE);
  EXPECT_EQ(422, closing.top);
}

TEST_F(MainDialogTest, MissingLinuxKeysLeaveEmptyLinksWithATraceLine) {
  LayOut();
  ASSERT_TRUE(testsupport::WriteBytes(layout_.serverFolder + L"\\config\\cnslconf.ini",
                                      "[ADMIN_CONSOLE_SECTION]\r\nlinux_url1_32=http://only.test/\r\n"));
  Open();
  EXPECT_EQ(L"", Text(IDC_LINK_MAC_URL1)) << "an empty address leaves the link without text";
  testsupport::TraceCapture trace;
  Choose(IDC_CMB_OSPLATFORM, kPlatformLinux);
  EXPECT_EQ(L"http://only.test/", Text(IDC_LINK_LINUX_URL1));
  EXPECT_EQ(L"", Text(IDC_LINK_LINUX_URL2));
  EXPECT_TRUE(
      trace.Contains(L"CtmrovaneDlg::OnCbnSelchangeCmbOsplatform GetPrivateProfileString failed, Error:"));
  Choose(IDC_CMB_SETUPTYPE, kSetupLinux64);
  EXPECT_EQ(L"", Text(IDC_LINK_LINUX_URL1));
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
  EXPECT_EQ(L"C:\\windows\\notepad.exe", TextOf(Item(IDC_LINK_MAC_URL1)));
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
    EXPECT_EQ(text, TextOf(tip)) << index;
    SendMessageW(Item(IDC_CMB_PACKAGE), WM_MOUSELEAVE, 0, 0);
  }
  ReleaseCapture();
}

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

TEST_F(MainDialogTest, AlternateConnectionSwitchAndRadioButtons) {
  LayOut();
  WriteConfig("hesinstmode=1\r\n");
  Open();
  Click(IDC_CHECK_ALT_CONNECTION);
  EXPECT_TRUE(Enabled(IDC_RADIO_IPADDRESS));
  EXPECT_TRUE(Enabled(IDC_RADIO_DOMAINNAME));
  EXPECT_TRUE(Enabled(IDC_IPADDRESS));
  EXPECT_FALSE(Enabled(IDC_EDIT_DOMAINNAME));
  EXPECT_TRUE(Checked(IDC_RADIO_IPADDRESS));
  SendMessageW(Item(IDC_IPADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 1, 2, 3));

  BuildOptions options;
  dialog_->GetBuildOptions(options);
  EXPECT_TRUE(options.alternateConnection);
  EXPECT_FALSE(options.alternateByDomainName);
  EXPECT_EQ(L"10.1.2.3", options.alternateIp);

  Click(IDC_RADIO_DOMAINNAME);
  EXPECT_FALSE(Checked(IDC_RADIO_IPADDRESS));
  EXPECT_FALSE(Enabled(IDC_IPADDRESS));
  EXPECT_TRUE(Enabled(IDC_EDIT_DOMAINNAME));
  EXPECT_NE(0, SendMessageW(Item(IDC_IPADDRESS), IPM_ISBLANK, 0, 0)) << "the other address is emptied";
  SetWindowTextW(Item(IDC_EDIT_DOMAINNAME), L"server.example.test");
  dialog_->GetBuildOptions(options);
  EXPECT_TRUE(options.alternateByDomainName);
  EXPECT_EQ(L"server.example.test", options.alternateDomain);

  Click(IDC_RADIO_IPADDRESS);
  EXPECT_TRUE(Enabled(IDC_IPADDRESS));
  EXPECT_FALSE(Enabled(IDC_EDIT_DOMAINNAME));
  EXPECT_EQ(L"", Text(IDC_EDIT_DOMAINNAME));

  SendMessageW(Item(IDC_IPADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 0, 9));
  Click(IDC_RADIO_DOMAINNAME);
  SetWindowTextW(Item(IDC_EDIT_DOMAINNAME), L"typed.example.test");
  Click(IDC_CHECK_ALT_CONNECTION);  // unchecked: both addresses are emptied
  EXPECT_EQ(L"", Text(IDC_EDIT_DOMAINNAME));
  EXPECT_NE(0, SendMessageW(Item(IDC_IPADDRESS), IPM_ISBLANK, 0, 0));
  for (int id : {IDC_RADIO_IPADDRESS, IDC_RADIO_DOMAINNAME, IDC_IPADDRESS, IDC_EDIT_DOMAINNAME}) {
    EXPECT_FALSE(Enabled(id)) << id;
  }
  dialog_->GetBuildOptions(options);
  EXPECT_FALSE(options.alternateConnection);
}

TEST_F(MainDialogTest, DefaultGroupFailures) {
  struct Row {
    const char* name;
    std::function<void(serverlayout::Options&)> prepare;
    const wchar_t* trace;
    bool closes;
    bool loads;  // the library gets loaded (and must be unloaded again)
    const wchar_t* alsoTraced = nullptr;
  };
  const Row rows[] = {
      {"server not registered",
       [](serverlayout::Options& o) { o.registration = serverlayout::Registration::kRemove; },
       L"CtmrovaneDlg::GetDefaultGUID Unable to open registry key => "
       L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
       L"\\App Paths\\CNSLSRVC.EXE",
       false, false},
      {"Path value missing",
       [](serverlayout::Options& o) { o.registration = serverlayout::Registration::kKeyOnly; },
       L"CtmrovaneDlg::GetDefaultGUID RegQueryValueEx failed", true, false,
       L"CtmrovaneDlg::GetDefaultGUID Installed path: \r\n"},
      {"library missing", [](serverlayout::Options& o) { o.omit = {L"grpstore.dll"}; },
       L"CtmrovaneDlg::GetDefaultGUID LoadLibraryExW failed", true, false},
      {"export missing",
       [](serverlayout::Options& o) { o.grpstoreLibrary = L"grpstore_no_GetGroupDetails.dll"; },
       L"CtmrovaneDlg::GetDefaultGUID GetProcAddress(GetGroupDetails) failed.", true, true},
      {"call fails", [](serverlayout::Options& o) { o.failingGroupCalls = {"GetGroupDetails"}; },
       L"CtmrovaneDlg::GetDefaultGUID pfnGetGroupDetails failed.", true, true},
      {"GUID of 40 characters",
       [](serverlayout::Options& o) {
         o.groupData = std::string("1\t0\t{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}xy\tDefault\r\n");
       },
       L"CtmrovaneDlg::GetDefaultGUID ConvertUTF8ToWideChar failed.", true, true},
      {"GUID that is no GUID, with a settings key behind a carriage return",
       [](serverlayout::Options& o) {
         o.groupData = std::string("1\t0\t{5F0C3E2A}\rSERVER_IP=6.6.6.6\tDefault\r\n");
       },
       L"CtmrovaneDlg::GetDefaultGUID Default GUID is not of the form {8-4-4-4-12}.", true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    options_ = serverlayout::Options{};
    options_.serverFolder = dir_ / (L"Server " + std::to_wstring(&row - rows));
    options_.layOutProgram = false;
    prompt_ = ScriptedPrompt{};
    leftOpen_ = false;
    row.prepare(options_);
    LayOut();
    testsupport::TraceCapture trace;
    std::wstring guidWhileOpen = L"unset";
    const INT_PTR result = RunModal({Do([&] { guidWhileOpen = dialog_->groupGuid(); })});
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(!row.closes, leftOpen_) << "closes at start: " << row.closes;
    ASSERT_EQ(1u, prompt_.shown.size());
    EXPECT_EQ(kLoadGroupsFailed, prompt_.shown[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), prompt_.shown[0].style);
    EXPECT_TRUE(trace.Contains(row.trace)) << testing::PrintToString(trace.Text());
    if (row.alsoTraced != nullptr) {
      EXPECT_TRUE(trace.Contains(row.alsoTraced)) << testing::PrintToString(trace.Text());
    }
    EXPECT_EQ(std::wstring(), std::wstring(dialog_->groupGuid()));
    if (!row.closes) {
      EXPECT_EQ(L"", guidWhileOpen);
    }
    const std::wstring journal = Journal();
    EXPECT_EQ(row.loads ? 1 : 0, CountLines(journal, L"load")) << journal;
    EXPECT_EQ(CountLines(journal, L"load"), CountLines(journal, L"unload"))
        << "library left loaded: " << journal;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, serverlayout::kAppPathsKey);
  }
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
        aboutCaption = TextOf(about);
        aboutTitle = TextOf(GetDlgItem(about, IDC_ABOUT_TITLE));
        aboutOwner = TextOf(GetDlgItem(about, IDC_ABOUT_OWNER));
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
      into.okText = TextOf(GetDlgItem(browser, IDOK));
      into.cancelText = TextOf(GetDlgItem(browser, IDCANCEL));
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
        afterCancel = Text(IDC_EDIT_DESTINATION);
        clickBrowse();
      }),
      answerBrowser(seen[1], true),
      browserGone,
      Do([&] { afterOk = Text(IDC_EDIT_DESTINATION); }),
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

// Send Mail takes the choices and the destination as they are when it is pressed and records the
// kind of what it mails: a Windows setup from the destination box, a Mac archive from the
// server's Mac build folder.
TEST_F(MainDialogTest, SendMailHandsTheChosenSetupToTheMailProgram) {
  testsupport::MapiRecord record;
  LayOut();
  WriteConfig("");
  Open();
  Choose(IDC_CMB_ANTIVIRUS, kAntivirusNo);
  Choose(IDC_CMB_SETUPTYPE, kSetupExe64);
  const std::wstring destination = dir_ / L"Setups";
  ASSERT_TRUE(CreateDirectoryW(destination.c_str(), nullptr));
  SetWindowTextW(Item(IDC_EDIT_DESTINATION), destination.c_str());
  ASSERT_TRUE(Enabled(IDC_BTN_SENDMAIL));

  Click(IDC_BTN_SENDMAIL);
  ASSERT_EQ(1u, prompt_.shown.size());
  EXPECT_EQ(L"wsnode64.exe does not exist at the specified path", prompt_.shown[0].text);
  EXPECT_EQ(static_cast<UINT>(MB_ICONWARNING), prompt_.shown[0].style & MB_ICONMASK);
  EXPECT_TRUE(record.Lines().empty());

  prompt_.shown.clear();
  ASSERT_TRUE(testsupport::WriteBytes(destination + L"\\wsnode64.exe", "setup"));
  Click(IDC_BTN_SENDMAIL);
  EXPECT_TRUE(prompt_.shown.empty());
  const std::wstring subject = L"Halvane Endpoint Security Client Installer";
  const std::wstring body =
      L"\r\nThis mail contains Halvane Endpoint Security Client Installer.\r\nRun the attached "
      L"installer to install Halvane Endpoint Security Client on your system.";
  EXPECT_EQ(
      testsupport::MapiRecord::SentMail(subject, body, destination + L"\\wsnode64.exe", L"wsnode64.exe"),
      record.Lines());
  EXPECT_EQ(BuildKind::WinExeAgent, dialog_->buildKind());

  record.Clear();
  Choose(IDC_CMB_OSPLATFORM, kPlatformMac);
  Choose(IDC_CMB_ANTIVIRUS, kAntivirusNo);
  const std::wstring archive = InstallFolder() + L"web\\build\\cnmac\\MCWSNODE.TAR";
  ASSERT_TRUE(testsupport::WriteBytes(archive, "archive"));
  ASSERT_TRUE(Enabled(IDC_BTN_SENDMAIL));
  Click(IDC_BTN_SENDMAIL);
  EXPECT_TRUE(prompt_.shown.empty());
  ASSERT_EQ(18u, record.Lines().size());
  EXPECT_EQ("file_path=" + testsupport::MapiRecord::Escape(archive), record.Lines()[13]);
  EXPECT_EQ(BuildKind::MacAgent, dialog_->buildKind());
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
      ASSERT_TRUE(Enabled(button));
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

}  // namespace

namespace {

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
    if (Checked(IDC_CHECK_ALT_CONNECTION) != c.blankAlternateIp) {
      Click(IDC_CHECK_ALT_CONNECTION);
    }
    prompt_.shown.clear();
    Click(IDC_BTN_CREATE);
    ASSERT_FALSE(prompt_.shown.empty());
    EXPECT_EQ(0u, prompt_.shown.back().text.rfind(c.lastShown, 0))
        << testing::PrintToString(prompt_.shown.back().text);
    EXPECT_EQ(Enabled(IDC_BTN_SENDMAIL), c.mailEnabled);
    EXPECT_TRUE(Enabled(IDC_BTN_CREATE));
    EXPECT_TRUE(Enabled(IDC_BTN_CLOSE));
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
    buttonsDisabled = !Enabled(IDC_BTN_CREATE) && !Enabled(IDC_BTN_CLOSE) && !Enabled(IDC_BTN_SENDMAIL);
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

}  // namespace

namespace {

TEST_F(MainDialogTest, DuringASlowPackerTheDialogRepaintsAndIgnoresCloses) {
  LayOut();
  const std::wstring out = dir_ / L"out";
  ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
  // 7-Zip is written into the program folder's clPacker sub-folder: here the test's own folder.
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
  EXPECT_TRUE(Enabled(IDC_BTN_SENDMAIL)) << "after an agent-only build";
}

}  // namespace

namespace {

// One opening of the group dialog from the main dialog: what to do in it, and what the main
// dialog shows and hands to the next build afterwards.
struct GroupChoice {
  const char* name;
  const wchar_t* choose;  // the item to select; null: clear the selection
  UINT ending;            // IDOK or IDCANCEL
  const wchar_t* groupBox;
  const wchar_t* guid;
};

}  // namespace

TEST_F(MainDialogTest, GroupBrowseAppliesTheChosenGroupToTheBuildOptions) {
  // Two groups whose GUID cannot be taken: an empty one and one too long for the GUID buffer.
  options_.groupData = serverlayout::DefaultGroupData() + "9\t0\t\tNo GUID\r\n" +
                       "10\t0\t{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C10}xy\tLong GUID\r\n";
  LayOut();
  const std::wstring defaultGuid = L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";
  const std::wstring webGuid = L"{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C03}";
  const GroupChoice choices[] = {
      {"a sub-group", L"Web servers", IDOK, L"Web servers", webGuid.c_str()},
      {"cancel", L"Finance", IDCANCEL, L"Web servers", webGuid.c_str()},
      {"OK without a selection", nullptr, IDOK, L"Web servers", webGuid.c_str()},
      {"empty GUID", L"No GUID", IDOK, L"Web servers", webGuid.c_str()},
      {"GUID too long", L"Long GUID", IDOK, L"Web servers", webGuid.c_str()},
      {"back to the default", L"Default", IDOK, L"Default", defaultGuid.c_str()},
  };
  testsupport::TraceCapture trace;
  struct Seen {
    std::wstring preselected;
    bool ownedByMain = false;
    bool mainEnabled = true;
    std::wstring groupBox;
    BuildOptions options;
  };
  std::vector<Seen> seen(std::size(choices));
  std::vector<TimerScript::Step> steps;
  for (size_t i = 0; i < std::size(choices); ++i) {
    const GroupChoice& choice = choices[i];
    steps.push_back(Do([this] {
      PostMessageW(dialog_->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BTN_BROWSEGROUP, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Item(IDC_BTN_BROWSEGROUP)));
    }));
    steps.push_back([this, &choice, &entry = seen[i]] {
      HWND groups = FindOwnedDialog(dialog_->hwnd());
      if (groups == nullptr) {
        return false;
      }
      HWND tree = GetDlgItem(groups, IDC_TREE_GROUPS);
      entry.preselected = testsupport::TreeItemText(tree, TreeView_GetSelection(tree));
      entry.ownedByMain = GetWindow(groups, GW_OWNER) == dialog_->hwnd();
      entry.mainEnabled = IsWindowEnabled(dialog_->hwnd()) != FALSE;
      TreeView_SelectItem(
          tree, choice.choose != nullptr ? testsupport::FindTreeItem(tree, choice.choose) : nullptr);
      PostMessageW(groups, WM_COMMAND, MAKEWPARAM(choice.ending, BN_CLICKED), 0);
      return true;
    });
    steps.push_back([this, &entry = seen[i]] {
      if (FindOwnedDialog(dialog_->hwnd()) != nullptr) {
        return false;
      }
      entry.groupBox = Text(IDC_EDIT_GROUP);
      dialog_->GetBuildOptions(entry.options);
      return true;
    });
  }
  RunModal(std::move(steps));
  for (size_t i = 0; i < std::size(choices); ++i) {
    SCOPED_TRACE(choices[i].name);
    EXPECT_EQ(L"Default", seen[i].preselected) << "every opening preselects the default group";
    EXPECT_TRUE(seen[i].ownedByMain);
    EXPECT_FALSE(seen[i].mainEnabled) << "the main dialog is disabled behind the group dialog";
    EXPECT_EQ(choices[i].groupBox, seen[i].groupBox);
    EXPECT_EQ(choices[i].groupBox, seen[i].options.groupName);
    EXPECT_EQ(choices[i].guid, seen[i].options.groupGuid);
    EXPECT_EQ(1, seen[i].options.groupId);
  }
  const auto occurrences = [text = trace.Text()](const std::wstring& line) {
    size_t count = 0;
    for (size_t at = text.find(line + L"\r\n"); at != std::wstring::npos;
         at = text.find(line + L"\r\n", at + 1)) {
      ++count;
    }
    return count;
  };
  EXPECT_EQ(2u, occurrences(L"CSelectGroupDlg::OnBnClickedOk ConvertToWideChar Failed "));
  EXPECT_EQ(1u, occurrences(L"CSelectGroupDlg::OnBnClickedOk No group selected."));
  EXPECT_EQ(std::size(choices), occurrences(L"CtmrovaneDlg::OnBnClickedBtnBrowsegroup success"));
  EXPECT_TRUE(prompt_.shown.empty());
}
