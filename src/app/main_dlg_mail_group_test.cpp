// Send Mail hands the chosen setup to the mail program; the default group and the group dialog
// decide the group of the next build.

#include "app/main_dlg_test_fixture.h"

namespace maindlgtest {
namespace {

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
  ASSERT_TRUE(dialog_->IsEnabled(IDC_BTN_SENDMAIL));

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
  ASSERT_TRUE(dialog_->IsEnabled(IDC_BTN_SENDMAIL));
  Click(IDC_BTN_SENDMAIL);
  EXPECT_TRUE(prompt_.shown.empty());
  ASSERT_EQ(18u, record.Lines().size());
  EXPECT_EQ("file_path=" + testsupport::MapiRecord::Escape(archive), record.Lines()[13]);
  EXPECT_EQ(BuildKind::MacAgent, dialog_->buildKind());
}

// One opening of the group dialog from the main dialog: what to do in it, and what the main
// dialog shows and hands to the next build afterwards.
struct GroupChoice {
  const char* name;
  const wchar_t* choose;  // the item to select; null: clear the selection
  UINT ending;            // IDOK or IDCANCEL
  const wchar_t* groupBox;
  const wchar_t* guid;
};

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
      entry.groupBox = dialog_->Text(IDC_EDIT_GROUP);
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

}  // namespace
}  // namespace maindlgtest
