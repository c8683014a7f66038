#include "groups/group_tree.h"

#include <cwchar>
#include <span>

#include "groups/group_library.h"
#include "log/trace_log.h"

namespace groups {
namespace {

// The library's flag that asks for the groups of every level.
constexpr uint32_t kAllLevels = 1;

struct Node {
  TreeGroup group;
  std::vector<size_t> children;
};

void Flatten(const std::vector<Node>& nodes, size_t index, std::vector<TreeGroup>& tree) {
  tree.push_back(nodes[index].group);
  for (size_t child : nodes[index].children) {
    Flatten(nodes, child, tree);
  }
}

TreeGroup FromRecord(const GroupRecord& record) {
  TreeGroup group;
  group.id = record.id;
  group.name.assign(record.name, wcsnlen(record.name, kGroupNameChars - 1));
  char narrow[kGuidCapacity] = {};
  wchar_t wide[kGuidCapacity] = {};
  if (CopyGroupGuid(record, narrow) && ConvertToWideChar(narrow, wide, static_cast<int>(kGuidCapacity)) &&
      IsGroupGuid(wide)) {
    group.guid = wide;
  }
  return group;
}

}  // namespace

bool ReadGroupTree(std::vector<TreeGroup>& tree, const wchar_t* tag) {
  tree.clear();
  fw::UniqueModule library;
  if (LoadGroupLibrary(library, tag, tracelog::kLevelError) != LoadResult::kLoaded) {
    return false;
  }
  const auto getSubGroups = fw::GetExport<GetSubGroupsForGroupFn>(library.get(), kGetSubGroupsForGroupName);
  const auto freeGroupArray = fw::GetExport<FreeGroupArrayFn>(library.get(), kFreeGroupArrayName);
  if (getSubGroups == nullptr || freeGroupArray == nullptr) {
    TraceLog(tracelog::kLevelError, tag, L"GetProcAddress(GetSubGroupsForGroup/FreeGroupArray) failed");
    return false;
  }
  GroupArray array(freeGroupArray);
  uint32_t count = 0;
  uint32_t status = 0;
  if (!getSubGroups(kTopLevelParentId, kAllLevels, array.put(), &count, &status)) {
    TraceLog(tracelog::kLevelError, tag, L"GetSubGroupsForGroup failed (status %u)", status);
    return false;
  }
  array.SetDelivered();

  std::vector<Node> nodes;
  std::vector<size_t> tops;
  std::vector<const GroupRecord*> pending;
  for (const GroupRecord& record : array.Records(count)) {
    if (record.parentId != kTopLevelParentId) {
      pending.push_back(&record);
      continue;
    }
    nodes.push_back({FromRecord(record), {}});
    nodes.back().group.path = nodes.back().group.name;
    tops.push_back(nodes.size() - 1);
  }
  for (const GroupRecord* record : pending) {
    for (size_t i = 0; i < nodes.size(); ++i) {
      if (nodes[i].group.id != record->parentId) {
        continue;
      }
      Node node{FromRecord(*record), {}};
      node.group.depth = nodes[i].group.depth + 1;
      node.group.path = nodes[i].group.path + L"\\" + node.group.name;
      nodes.push_back(std::move(node));
      nodes[i].children.push_back(nodes.size() - 1);
      break;
    }
  }
  for (size_t top : tops) {
    Flatten(nodes, top, tree);
  }
  return true;
}

FindResult FindGroup(const std::vector<TreeGroup>& tree, const std::wstring& selector,
                     const TreeGroup** found) {
  *found = nullptr;
  const bool byGuid = IsGroupGuid(selector.c_str());
  for (const TreeGroup& group : tree) {
    const bool match = byGuid ? _wcsicmp(group.guid.c_str(), selector.c_str()) == 0 : group.path == selector;
    if (!match) {
      continue;
    }
    if (*found != nullptr) {
      return FindResult::kAmbiguous;
    }
    *found = &group;
  }
  if (*found == nullptr) {
    return FindResult::kNotFound;
  }
  return (*found)->guid.empty() ? FindResult::kNoGuid : FindResult::kFound;
}

}  // namespace groups
