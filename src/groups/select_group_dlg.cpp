#include "groups/select_group_dlg.h"

#include <cwchar>
#include <new>
#include <utility>
#include <vector>

#include "groups/select_group_resource.h"
#include "log/trace_log.h"
#include "uitext/ui_text.h"

namespace {

constexpr wchar_t kInitTag[] = L"CSelectGroupDlg::OnInitDialog";
constexpr wchar_t kOkTag[] = L"CSelectGroupDlg::OnBnClickedOk";
constexpr wchar_t kFreeTag[] = L"CSelectGroupDlg::FreeTreeData: ";
constexpr wchar_t kInfoTag[] = L"CSelectGroupDlg::GetSelectedGroupInfo";

// The group library's flag that asks for the groups of every level.
constexpr uint32_t kAllLevels = 1;

using Placement = fw::ControlPlacement;
// Window order is tab order: each control goes after the one before it, the first to the top.
constexpr Placement kLayout[] = {
    {IDC_STATIC_SELECTGROUP, 14, 13, 294, 13},
    {IDC_TREE_GROUPS, 14, 37, 290, 218},
    {IDOK, 147, 271, 75, 23},
    {IDCANCEL, 228, 271, 75, 23},
};
constexpr int kDialogWidth = 324;
constexpr int kDialogClientHeight = 313;

LPARAM ItemData(HWND tree, HTREEITEM item) {
  TVITEMW read{};
  read.mask = TVIF_PARAM;
  read.hItem = item;
  return ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read)) ? read.lParam : 0;
}

}  // namespace

CSelectGroupDlg::CSelectGroupDlg(HINSTANCE instance, fw::IUserPrompt& prompt)
    : fw::Dialog(instance, IDD_SELECT_GROUP), prompt_(prompt) {}

std::span<const fw::Dialog::MapEntry> CSelectGroupDlg::MessageMap() const {
  static const MapEntry kMap[] = {
      {WM_COMMAND, IDOK, BN_CLICKED, Bind(&CSelectGroupDlg::OnBnClickedOk)},
      {WM_HELP, 0, 0, Bind(&CSelectGroupDlg::OnHelp)},
      {WM_NOTIFY, IDC_TREE_GROUPS, TVN_SELCHANGINGW, Bind(&CSelectGroupDlg::OnTvnSelchanging)},
      {WM_NOTIFY, IDC_TREE_GROUPS, TVN_SELCHANGEDW, Bind(&CSelectGroupDlg::OnTvnSelchanged)},
  };
  return kMap;
}

BOOL CSelectGroupDlg::OnInitDialog() {
  TraceLog(tracelog::kLevelProgress, kInitTag, L"called");
  if (!tree_.Attach(hwnd(), IDC_TREE_GROUPS)) {
    TraceLog(tracelog::kLevelError, kInitTag, L"Unable to attach the group tree");
  }
  ApplyLayout();
  SetTexts();

  switch (FillTree()) {
    case FillResult::kFilled:
      break;
    case FillResult::kFailed: {
      wchar_t message[1024];
      LoadUiText(uitext::kErrLoadGroups, message);
      prompt_.Show(message, MB_ICONERROR);
      OnCancel();
      return FALSE;
    }
    case FillResult::kNoMemory:
      OnCancel();
      return FALSE;
  }
  TraceLog(tracelog::kLevelProgress, kInitTag, L"success");
  return TRUE;
}

void CSelectGroupDlg::ApplyLayout() const { PlaceControls(kLayout, kDialogWidth, kDialogClientHeight); }

void CSelectGroupDlg::SetTexts() const {
  wchar_t text[1024];
  LoadUiText(uitext::kGroupDlgTitle, text);
  ::SetWindowTextW(hwnd(), text);
  LoadUiText(uitext::kGroupDlgPrompt, text);
  SetText(IDC_STATIC_SELECTGROUP, text);
  LoadUiText(uitext::kBtnOk, text);
  SetText(IDOK, text);
  LoadUiText(uitext::kBtnCancel, text);
  SetText(IDCANCEL, text);
}

CSelectGroupDlg::FillResult CSelectGroupDlg::FillTree() {
  fw::UniqueModule library;
  if (groups::LoadGroupLibrary(library, kInitTag, tracelog::kLevelProgress) != groups::LoadResult::kLoaded) {
    return FillResult::kFailed;
  }
  const auto getSubGroups = fw::GetExport<GetSubGroupsForGroupFn>(library.get(), kGetSubGroupsForGroupName);
  if (getSubGroups == nullptr) {
    TraceLog(tracelog::kLevelProgress, kInitTag, L"GetProcAddress(GetSubGroupsForGroup) failed");
    return FillResult::kFailed;
  }
  const auto freeGroupArray = fw::GetExport<FreeGroupArrayFn>(library.get(), kFreeGroupArrayName);
  if (freeGroupArray == nullptr) {
    TraceLog(tracelog::kLevelProgress, kInitTag, L"GetProcAddress(FreeGroupArray) failed");
    return FillResult::kFailed;
  }

  groups::GroupArray array(freeGroupArray);
  uint32_t count = 0;
  uint32_t status = 0;
  if (!getSubGroups(kTopLevelParentId, kAllLevels, array.put(), &count, &status)) {
    TraceLog(tracelog::kLevelProgress, kInitTag, L"pfnGetSubgroupsForGroup failed");
    return FillResult::kFailed;
  }
  array.SetDelivered();

  HWND tree = tree_.hwnd();
  LoadUiText(uitext::kGroupTreeRoot, rootText_);
  TVINSERTSTRUCTW insert{};
  insert.hParent = TVI_ROOT;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM;
  insert.item.pszText = rootText_;
  insert.item.lParam = 0;
  root_ = reinterpret_cast<HTREEITEM>(
      ::SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  tree_.SetItemColor(root_, kRootColor);

  // A sub-group is placed under the first placed group with its parent's ID; one whose parent
  // comes after it (or never) is not shown.
  std::vector<GroupRecord> pending;
  std::vector<std::pair<uint16_t, HTREEITEM>> placed;
  bool noMemory = false;
  for (const GroupRecord& record : array.Records(count)) {
    if (record.parentId != kTopLevelParentId) {
      pending.push_back(record);
    } else if (HTREEITEM item = InsertGroup(record, root_, noMemory)) {
      placed.emplace_back(record.id, item);
    } else if (noMemory) {
      return FillResult::kNoMemory;
    }
  }
  for (const GroupRecord& record : pending) {
    for (size_t i = 0; i < placed.size(); ++i) {
      if (placed[i].first != record.parentId) {
        continue;
      }
      if (HTREEITEM item = InsertGroup(record, placed[i].second, noMemory)) {
        placed.emplace_back(record.id, item);
      } else if (noMemory) {
        return FillResult::kNoMemory;
      }
      break;
    }
  }
  // Later insertions may have moved the preselected item out of view again.
  if (HTREEITEM selected = TreeView_GetSelection(tree)) {
    TreeView_EnsureVisible(tree, selected);
  }
  return FillResult::kFilled;
}

HTREEITEM CSelectGroupDlg::InsertGroup(const GroupRecord& record, HTREEITEM parent, bool& noMemory) {
  GuidBlock* block = nullptr;
  try {
    block = &guidBlocks_.emplace_back();
  } catch (const std::bad_alloc&) {
    TraceLog(tracelog::kLevelProgress, kInitTag, L"Memory Allocation failed(pstGUIDTemp)");
    noMemory = true;
    return nullptr;
  }
  // A GUID text too long for the block leaves it empty: choosing that group changes nothing.
  groups::CopyGroupGuid(record, block->text);
  wchar_t name[kGroupNameChars] = {};
  wmemcpy(name, record.name, wcsnlen(record.name, kGroupNameChars - 1));

  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM;
  insert.item.pszText = name;
  insert.item.lParam = reinterpret_cast<LPARAM>(block);
  HWND tree = tree_.hwnd();
  auto item = reinterpret_cast<HTREEITEM>(
      ::SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  if (item == nullptr) {
    guidBlocks_.pop_back();
    return nullptr;
  }
  if (record.id == preselectedGroupId_) {
    TreeView_SelectItem(tree, item);
  }
  return item;
}

void CSelectGroupDlg::FreeTreeData() {
  TraceLog(tracelog::kLevelProgress, kFreeTag, L"Start");
  HWND tree = tree_.hwnd();
  HTREEITEM item = tree != nullptr ? TreeView_GetRoot(tree) : nullptr;
  if (item == nullptr) {
    guidBlocks_.clear();
    TraceLog(tracelog::kLevelProgress, kFreeTag, L"GetRootItem  Failed.");
    return;
  }
  // No item keeps pointing at a block once they are gone.
  for (; item != nullptr; item = TreeView_GetNextVisible(tree, item)) {
    if (ItemData(tree, item) != 0) {
      TVITEMW clear{};
      clear.mask = TVIF_PARAM;
      clear.hItem = item;
      clear.lParam = 0;
      ::SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&clear));
    }
    TreeView_Expand(tree, item, TVE_EXPAND);
  }
  guidBlocks_.clear();
  TraceLog(tracelog::kLevelProgress, kFreeTag, L"Exit");
}

INT_PTR CSelectGroupDlg::OnBnClickedOk(WPARAM, LPARAM) {
  TraceLog(tracelog::kLevelProgress, kOkTag, L"called");
  HWND tree = tree_.hwnd();
  HTREEITEM item = tree != nullptr ? TreeView_GetSelection(tree) : nullptr;
  if (item == nullptr) {
    TraceLog(tracelog::kLevelProgress, kOkTag, L"No group selected.");
  } else {
    wchar_t name[kTextCapacity] = L"";
    TVITEMW read{};
    read.mask = TVIF_TEXT | TVIF_PARAM;
    read.hItem = item;
    read.pszText = name;
    read.cchTextMax = static_cast<int>(kTextCapacity);
    ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read));
    const auto* block = reinterpret_cast<const GuidBlock*>(read.lParam);
    wmemset(groupGuid_, L'\0', groups::kGuidCapacity);
    // An empty GUID would carry the group's name into the next build without its identity.
    if (block == nullptr || block->text[0] == '\0' ||
        !groups::ConvertToWideChar(block->text, groupGuid_, static_cast<int>(groups::kGuidCapacity))) {
      TraceLog(tracelog::kLevelProgress, kOkTag, L"ConvertToWideChar Failed ");
    } else if (!groups::IsGroupGuid(groupGuid_)) {
      // The current group stays; nothing of this text goes further.
      wmemset(groupGuid_, L'\0', groups::kGuidCapacity);
      TraceLog(tracelog::kLevelProgress, kOkTag, L"Group GUID is not of the form {8-4-4-4-12}.");
    } else {
      groupName_ = name;
      chosen_ = true;
    }
    TraceLog(tracelog::kLevelProgress, kOkTag, L"Selected Group Name: %s GroupGUID: %s", name, groupGuid_);
  }
  TraceLog(tracelog::kLevelProgress, kOkTag, L"success");
  FreeTreeData();
  OnOK();
  return TRUE;
}

void CSelectGroupDlg::OnCancel() {
  FreeTreeData();
  EndDialog(IDCANCEL);
}

INT_PTR CSelectGroupDlg::OnHelp(WPARAM, LPARAM) { return TRUE; }

INT_PTR CSelectGroupDlg::OnTvnSelchanging(WPARAM, LPARAM) {
  SetMessageResult(0);
  return TRUE;
}

INT_PTR CSelectGroupDlg::OnTvnSelchanged(WPARAM, LPARAM lParam) {
  const auto* change = reinterpret_cast<const NMTREEVIEWW*>(lParam);
  if (root_ != nullptr && change->itemNew.hItem == root_) {
    // The root stands for the console, not a group: the previous selection stays.
    TreeView_SelectItem(tree_.hwnd(), change->itemOld.hItem);
    // The dialog hands the focus back to the tree, and a tree without a selection selects its
    // first item when it gets the focus: with nothing selected before, the focus stays put.
    if (change->itemOld.hItem != nullptr) {
      ::SetFocus(hwnd());
    }
  }
  SetMessageResult(0);
  return TRUE;
}

bool CSelectGroupDlg::GetSelectedGroupInfo(wchar_t* name, size_t nameCapacity, wchar_t* guid,
                                           size_t guidCapacity) const {
  TraceLog(tracelog::kLevelProgress, kInfoTag, L"called");
  const size_t guidLength = wcsnlen(groupGuid_, groups::kGuidCapacity);
  const bool fits =
      name != nullptr && guid != nullptr && groupName_.size() < nameCapacity && guidLength < guidCapacity;
  if (chosen_ && fits) {
    wmemcpy(name, groupName_.c_str(), groupName_.size() + 1);
    wmemcpy(guid, groupGuid_, guidLength);
    guid[guidLength] = L'\0';
    TraceLog(tracelog::kLevelProgress, kInfoTag, L"GUID: %s", guid);
  }
  TraceLog(tracelog::kLevelProgress, kInfoTag, L"Exit.");
  return chosen_ && fits;
}
