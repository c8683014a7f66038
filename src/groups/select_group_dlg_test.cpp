// The real group dialog on stand-in group libraries laid out per test, driven through its
// controls from inside its modal loop.

#include "groups/select_group_dlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "groups/select_group_resource.h"
#include "layout/server_layout.h"
#include "support/dialog_probe.h"
#include "support/registry_backup.h"
#include "support/screen_capture.h"
#include "support/scripted_prompt.h"
#include "support/temp_dir.h"
#include "support/timer_script.h"
#include "support/trace_capture.h"
#include "support/tree_items.h"

namespace {

using serverlayout::GroupTree;
using testsupport::CountLines;
using testsupport::Do;
using testsupport::TimerScript;

constexpr wchar_t kDefaultGuid[] = L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";

class SelectGroupTest : public ::testing::Test {
 protected:
  SelectGroupTest() : registration_(serverlayout::kAppPathsKey) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    options_.serverFolder = dir_ / L"Server";
    options_.layOutProgram = false;
  }

  void LayOut(GroupTree tree = GroupTree::kStandard) {
    options_.groupData = serverlayout::GroupData(tree);
    serverlayout::Result result;
    ASSERT_TRUE(serverlayout::LayOutServer(options_, &result)) << testing::PrintToString(result.error);
    journal_ = result.serverFolder + L"\\" + serverlayout::kGroupJournalFile;
    DeleteFileW(journal_.c_str());
  }

  // Runs the dialog modally; the steps run inside its loop, and a dialog still open after them
  // is cancelled.
  INT_PTR Run(std::vector<TimerScript::Step> steps) {
    dialog_ = std::make_unique<CSelectGroupDlg>(GetModuleHandleW(nullptr), prompt_);
    leftOpen_ = false;
    dialog_->SetPreselectedGroupId(kDefaultGroupId);
    steps.push_back([this] {
      if (dialog_->hwnd() != nullptr) {
        leftOpen_ = true;
        testsupport::PressButton(dialog_->hwnd(), IDCANCEL);
      }
      return true;
    });
    TimerScript script(std::move(steps));
    return dialog_->DoModal(nullptr);
  }

  HWND Tree() const { return dialog_->Item(IDC_TREE_GROUPS); }
  HTREEITEM Find(const std::wstring& text) const { return testsupport::FindTreeItem(Tree(), text); }
  std::wstring Selected() const {
    HTREEITEM item = TreeView_GetSelection(Tree());
    return item != nullptr ? testsupport::TreeItemText(Tree(), item) : L"(none)";
  }
  void Press(int id) const { testsupport::PressButton(dialog_->hwnd(), id); }
  std::string Journal() const { return testsupport::ReadBytes(journal_); }

  testsupport::TempDir dir_;
  testsupport::RegistryPathBackup registration_;
  serverlayout::Options options_;
  std::wstring journal_;
  testsupport::ScriptedPrompt prompt_;
  std::unique_ptr<CSelectGroupDlg> dialog_;
  bool leftOpen_ = false;
};

std::wstring DeepOutline() {
  std::wstring outline = L"HES Console\n";
  for (int site = 1; site <= 30; ++site) {
    outline += L"  Site " + std::to_wstring(site) + L"\n";
  }
  for (int level = 1; level <= 8; ++level) {
    outline += std::wstring(2 * level, L' ') + L"Level " + std::to_wstring(level) + L"\n";
  }
  return outline + std::wstring(18, L' ') + L"Default\n";
}

TEST_F(SelectGroupTest, ShowsTheTreeAsDeliveredWithTheDefaultGroupSelectedAndTheRootInert) {
  struct Row {
    const char* name;
    GroupTree tree;
    std::wstring outline;
    std::wstring selected;
  };
  // clang-format off
  const Row rows[] = {
      {"standard", GroupTree::kStandard,
       L"HES Console\n  Default\n  Servers\n    Web servers\n    Database servers\n"
       L"  Workstations\n    Finance\n    Engineering\n      Build agents\n",
       L"Default"},
      {"sub-group before its parent", GroupTree::kSubGroupFirst,
       L"HES Console\n  Default\n  Branch office\n    Branch desktops\n", L"Default"},
      {"duplicate names", GroupTree::kDuplicateNames,
       L"HES Console\n  Default\n  Laptops\n    Sales\n  Laptops\n    Sales\n", L"Default"},
      {"deep", GroupTree::kDeep, DeepOutline(), L"Default"},
      {"no groups", GroupTree::kNone, L"HES Console\n", L"(none)"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LayOut(row.tree);
    testsupport::TraceCapture trace;
    std::wstring outline, selected, afterHome, texts;
    bool inView = false, libraryLoaded = true;
    size_t rootGrey = 0, rootBlack = 0;
    const INT_PTR result = Run({[&] {
      // A modal dialog shows itself once its loop first runs idle; a timer may come earlier.
      if (!IsWindowVisible(dialog_->hwnd())) {
        return false;
      }
      for (HWND window : {dialog_->hwnd(), dialog_->Item(IDC_STATIC_SELECTGROUP), dialog_->Item(IDOK),
                          dialog_->Item(IDCANCEL)}) {
        texts += testsupport::WindowText(window) + L"|";
      }
      outline = testsupport::TreeOutline(Tree());
      selected = Selected();
      RECT item, client;
      GetClientRect(Tree(), &client);
      HTREEITEM selection = TreeView_GetSelection(Tree());
      inView = selection != nullptr && TreeView_GetItemRect(Tree(), selection, &item, TRUE) &&
               item.top >= client.top && item.bottom <= client.bottom;
      libraryLoaded = GetModuleHandleW(L"grpstore.dll") != nullptr;
      // Home moves onto the root, which hands the selection back.
      SetFocus(Tree());
      SendMessageW(Tree(), WM_KEYDOWN, VK_HOME, 0);
      afterHome = Selected();
      TreeView_EnsureVisible(Tree(), TreeView_GetRoot(Tree()));
      RedrawWindow(Tree(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      RECT root;
      TreeView_GetItemRect(Tree(), TreeView_GetRoot(Tree()), &root, TRUE);
      rootGrey = testsupport::CountColour(Tree(), root, CSelectGroupDlg::kRootColor);
      rootBlack = testsupport::CountColour(Tree(), root, GetSysColor(COLOR_WINDOWTEXT));
      Press(IDOK);
      return true;
    }});
    EXPECT_EQ(IDOK, result);
    EXPECT_FALSE(leftOpen_);
    EXPECT_EQ(L"Browse for Group|Select a Group|O&k|&Cancel|", texts);
    EXPECT_EQ(row.outline, outline);
    EXPECT_EQ(row.selected, selected);
    EXPECT_EQ(row.selected, afterHome) << "the root cannot be selected from the keyboard";
    EXPECT_GT(rootGrey, 10u) << "the root's text is drawn in grey";
    EXPECT_EQ(0u, rootBlack);
    EXPECT_FALSE(libraryLoaded) << "the library is unloaded once the tree is filled";
    EXPECT_EQ(1u, CountLines(Journal(), "FreeGroupArray")) << Journal();
    EXPECT_TRUE(prompt_.shown.empty());

    wchar_t name[MAX_PATH] = L"untouched";
    wchar_t guid[groups::kGuidCapacity] = L"untouched";
    const bool chosen = dialog_->GetSelectedGroupInfo(name, MAX_PATH, guid, groups::kGuidCapacity);
    if (row.tree == GroupTree::kNone) {
      EXPECT_FALSE(chosen);
      EXPECT_STREQ(L"untouched", name);
      EXPECT_TRUE(trace.Contains(L"CSelectGroupDlg::OnBnClickedOk No group selected."));
    } else {
      EXPECT_TRUE(inView) << "the preselected group is scrolled into view";
      EXPECT_TRUE(chosen);
      EXPECT_STREQ(L"Default", name);
      EXPECT_STREQ(kDefaultGuid, guid);
      EXPECT_TRUE(trace.Contains(L"CSelectGroupDlg::OnBnClickedOk Selected Group Name: Default GroupGUID: " +
                                 std::wstring(kDefaultGuid)));
      EXPECT_TRUE(
          trace.Contains(L"CSelectGroupDlg::GetSelectedGroupInfo GUID: " + std::wstring(kDefaultGuid)));
    }
  }
}

// A GUID that is not of the form {8-4-4-4-12} (here a carriage return with a settings key
// behind it) is never handed on: the group is not chosen, and the caller keeps its own.
TEST_F(SelectGroupTest, AGroupWhoseGuidIsNoGuidIsNotChosen) {
  options_.groupData = std::string(
      "1\t0\t{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}\tDefault\r\n"
      "2\t0\t{5F0C3E2A}\rSERVER_IP=6.6.6.6\tInjected\r\n");
  serverlayout::Result layout;
  ASSERT_TRUE(serverlayout::LayOutServer(options_, &layout)) << testing::PrintToString(layout.error);
  testsupport::TraceCapture trace;
  HTREEITEM injected = nullptr;
  EXPECT_EQ(IDOK, Run({Do([&] {
              injected = Find(L"Injected");
              TreeView_SelectItem(Tree(), injected);
              Press(IDOK);
            })}));
  ASSERT_NE(nullptr, injected);
  wchar_t name[MAX_PATH] = L"untouched";
  wchar_t guid[groups::kGuidCapacity] = L"untouched";
  EXPECT_FALSE(dialog_->GetSelectedGroupInfo(name, MAX_PATH, guid, groups::kGuidCapacity));
  EXPECT_STREQ(L"untouched", name);
  EXPECT_STREQ(L"untouched", guid);
  EXPECT_TRUE(trace.Contains(L"CSelectGroupDlg::OnBnClickedOk Group GUID is not of the form {8-4-4-4-12}."))
      << testing::PrintToString(trace.Text());
}

// Watches the tree window: when it is destroyed, walks every item (without expanding) and
// counts those that still hold a GUID block.
struct ItemDataAtDestroy {
  int items = -1;
  int withData = -1;
  static LRESULT CALLBACK Spy(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR self) {
    if (message == WM_DESTROY) {
      auto* seen = reinterpret_cast<ItemDataAtDestroy*>(self);
      seen->items = seen->withData = 0;
      testsupport::ForEachTreeItem(hwnd, [&](HTREEITEM item, int) {
        ++seen->items;
        seen->withData += testsupport::TreeItemData(hwnd, item) != 0;
      });
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
};

TEST_F(SelectGroupTest, EveryGuidBlockIsReleasedWhicheverWayTheDialogEnds) {
  LayOut();
  const struct {
    const char* name;
    UINT message;
    WPARAM wParam;
    INT_PTR result;
  } endings[] = {
      {"OK", WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), IDOK},
      {"Cancel", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), IDCANCEL},
      {"close box", WM_SYSCOMMAND, SC_CLOSE, IDCANCEL},
  };
  for (const auto& ending : endings) {
    SCOPED_TRACE(ending.name);
    testsupport::TraceCapture trace;
    ItemDataAtDestroy seen;
    int groupsWithData = 0;
    const INT_PTR result = Run({Do([&] {
      testsupport::ForEachTreeItem(Tree(), [&](HTREEITEM item, int) {
        groupsWithData += testsupport::TreeItemData(Tree(), item) != 0;
      });
      TreeView_Expand(Tree(), Find(L"Engineering"), TVE_COLLAPSE);
      TreeView_Expand(Tree(), Find(L"Workstations"), TVE_COLLAPSE);
      TreeView_Expand(Tree(), Find(L"Servers"), TVE_COLLAPSE);
      SetWindowSubclass(Tree(), &ItemDataAtDestroy::Spy, 1, reinterpret_cast<DWORD_PTR>(&seen));
      PostMessageW(dialog_->hwnd(), ending.message, ending.wParam, 0);
    })});
    EXPECT_EQ(ending.result, result);
    EXPECT_EQ(8, groupsWithData) << "each group item carries a block, the root none";
    EXPECT_EQ(9, seen.items);
    EXPECT_EQ(0, seen.withData) << "blocks left in the tree when it was destroyed";
    EXPECT_TRUE(trace.Contains(L"CSelectGroupDlg::FreeTreeData:  Start"));
    EXPECT_TRUE(trace.Contains(L"CSelectGroupDlg::FreeTreeData:  Exit"));
  }
}

TEST_F(SelectGroupTest, LibraryFailuresShowTheMessageAndCloseTheDialog) {
  struct Row {
    const char* name;
    serverlayout::Registration registration;
    std::wstring library;
    std::vector<std::wstring> omit;
    std::vector<std::string> failing;
    std::wstring trace;
    size_t loads;  // 1: the library is loaded before the failure, and must be freed
  };
  const Row rows[] = {
      {"no App Paths key",
       serverlayout::Registration::kRemove,
       L"grpstore.dll",
       {},
       {},
       L"CSelectGroupDlg::OnInitDialog Unable to open registry key => "
       L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CNSLSRVC.EXE",
       0},
      {"no Path value",
       serverlayout::Registration::kKeyOnly,
       L"grpstore.dll",
       {},
       {},
       L"CSelectGroupDlg::OnInitDialog RegQueryValueEx failed",
       0},
      {"no library",
       serverlayout::Registration::kLongPath,
       L"grpstore.dll",
       {L"grpstore.dll"},
       {},
       L"CSelectGroupDlg::OnInitDialog LoadLibraryExW failed",
       0},
      {"no GetSubGroupsForGroup",
       serverlayout::Registration::kLongPath,
       L"grpstore_no_GetSubGroupsForGroup.dll",
       {},
       {},
       L"CSelectGroupDlg::OnInitDialog GetProcAddress(GetSubGroupsForGroup) failed",
       1},
      {"no FreeGroupArray",
       serverlayout::Registration::kLongPath,
       L"grpstore_no_FreeGroupArray.dll",
       {},
       {},
       L"CSelectGroupDlg::OnInitDialog GetProcAddress(FreeGroupArray) failed",
       1},
      {"GetSubGroupsForGroup fails",
       serverlayout::Registration::kLongPath,
       L"grpstore.dll",
       {},
       {"GetSubGroupsForGroup"},
       L"CSelectGroupDlg::OnInitDialog pfnGetSubgroupsForGroup failed",
       1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testsupport::TempDir folder;
    options_.serverFolder = folder / L"Server";
    options_.registration = row.registration;
    options_.grpstoreLibrary = row.library;
    options_.omit = row.omit;
    options_.failingGroupCalls = row.failing;
    LayOut();
    testsupport::TraceCapture trace;
    prompt_.shown.clear();
    const INT_PTR result = Run({});
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_FALSE(leftOpen_) << "the dialog ends before it is shown";
    ASSERT_EQ(1u, prompt_.shown.size());
    EXPECT_EQ(L"Unable to load groups", prompt_.shown[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), prompt_.shown[0].style & MB_ICONMASK);
    EXPECT_TRUE(trace.Contains(row.trace)) << testing::PrintToString(trace.Text());
    EXPECT_FALSE(trace.Contains(L"CSelectGroupDlg::OnInitDialog success"));
    // Freed: the journal beside the library has an unload for each load (Wine may not find a
    // renamed variant by its file name, so the module lookup alone would miss it).
    EXPECT_EQ(nullptr, GetModuleHandleW(row.library.c_str())) << "the library is unloaded";
    EXPECT_EQ(row.loads, CountLines(Journal(), "load")) << Journal();
    EXPECT_EQ(row.loads, CountLines(Journal(), "unload")) << Journal();
    wchar_t name[MAX_PATH] = L"untouched";
    wchar_t guid[groups::kGuidCapacity] = L"untouched";
    EXPECT_FALSE(dialog_->GetSelectedGroupInfo(name, MAX_PATH, guid, groups::kGuidCapacity));
    EXPECT_STREQ(L"untouched", name) << "no group was chosen: the caller's buffers stay as they were";
    EXPECT_STREQ(L"untouched", guid);
  }
}

}  // namespace
