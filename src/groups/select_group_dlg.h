#pragma once
// The dialog in which the administrator picks the group that clients installed from the next
// build join. It shows the server's group tree, read through the group library, below one grey
// root item that stands for the console and cannot be selected.
//
// Every group item carries as item data a pointer to a GUID block of its own (the group's GUID as
// narrow text). The dialog owns the blocks: it releases them when it ends, and with itself.

#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#include <cstdint>
#include <deque>
#include <span>
#include <string>

#include "controls/tree_ctrl_ex.h"
#include "framework/dialog.h"
#include "framework/prompt.h"
#include "groups/group_library.h"

class CSelectGroupDlg : public fw::Dialog {
 public:
  static constexpr COLORREF kRootColor = RGB(120, 120, 120);
  static constexpr size_t kTextCapacity = MAX_PATH;

  // Failures to read the groups are reported through `prompt`.
  CSelectGroupDlg(HINSTANCE instance, fw::IUserPrompt& prompt);

  // The group selected when the dialog opens.
  void SetPreselectedGroupId(uint16_t id) { preselectedGroupId_ = id; }

  // After the dialog ended with OK: copies the chosen group's name and GUID into the buffers
  // (capacities in characters) and returns true. False, with nothing written, when no group
  // was chosen: nothing was selected, its GUID could not be converted, or a buffer is too small.
  bool GetSelectedGroupInfo(wchar_t* name, size_t nameCapacity, wchar_t* guid, size_t guidCapacity) const;

 protected:
  std::span<const MapEntry> MessageMap() const override;
  BOOL OnInitDialog() override;
  void OnCancel() override;

 private:
  struct GuidBlock {
    char text[groups::kGuidCapacity];
  };
  enum class FillResult { kFilled, kFailed, kNoMemory };

  void ApplyLayout() const;
  void SetTexts() const;
  FillResult FillTree();
  // Inserts a group item under `parent`, with its GUID block; selects it when it is the
  // preselected group. Null when the item could not be made (`noMemory` tells a failed block).
  HTREEITEM InsertGroup(const GroupRecord& record, HTREEITEM parent, bool& noMemory);
  // Releases the GUID blocks and clears every item's pointer to its block, expanding each item
  // so that collapsed branches are reached as well.
  void FreeTreeData();

  INT_PTR OnBnClickedOk(WPARAM, LPARAM);
  INT_PTR OnHelp(WPARAM, LPARAM);
  INT_PTR OnTvnSelchanging(WPARAM, LPARAM);
  INT_PTR OnTvnSelchanged(WPARAM, LPARAM);

  fw::IUserPrompt& prompt_;
  std::wstring groupName_;
  wchar_t groupGuid_[groups::kGuidCapacity] = {};
  uint16_t preselectedGroupId_ = kDefaultGroupId;
  bool chosen_ = false;
  HTREEITEM root_ = nullptr;  // an item of the tree: not owned
  // The items' GUID blocks; a deque, so that a block stays where it is while more are added.
  std::deque<GuidBlock> guidBlocks_;
  wchar_t rootText_[kTextCapacity] = {};
  CTreeCtrlEx tree_;
};
