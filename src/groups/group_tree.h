#pragma once
// The server's group tree read from the group library the way the group selection dialog
// shows it, as plain data for callers without a window: each group with its depth, its path of
// names from the top of the tree ("Workstations\Engineering") and its GUID.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace groups {

struct TreeGroup {
  uint16_t id = 0;
  int depth = 0;      // 0: directly below the tree's root
  std::wstring name;  // as delivered, at most 255 characters
  std::wstring path;  // names from the top, separated by backslashes
  std::wstring guid;  // empty when the record's GUID is not a well-formed group GUID
};

// The groups in the order the dialog lists them (each group followed by its sub-groups, in
// delivery order). A sub-group is placed under the first placed group with its parent's ID;
// one whose parent comes after it, or never, is left out as the dialog leaves it out. False
// (traced under `tag`) when the library cannot be loaded or asked.
bool ReadGroupTree(std::vector<TreeGroup>& tree, const wchar_t* tag);

enum class FindResult { kFound, kNotFound, kAmbiguous, kNoGuid };

// The group named by `selector`: a GUID ("{...}", compared without regard to case) or a path of
// names from the top of the tree, compared exactly. Two groups on the same path make it
// ambiguous; a group whose GUID is not well-formed cannot be chosen (kNoGuid).
FindResult FindGroup(const std::vector<TreeGroup>& tree, const std::wstring& selector,
                     const TreeGroup** found);

}  // namespace groups
