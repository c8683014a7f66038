#pragma once
// The server's group library (grpstore.dll): the tree of client groups. Loaded at run time,
// its exports looked up by name. Results are one byte, non-zero meaning success (any non-zero
// value, not only 1).

#include <windows.h>

#include <cstddef>
#include <cstdint>

inline constexpr uint16_t kDefaultGroupId = 1;
inline constexpr uint16_t kTopLevelParentId = 0;
inline constexpr size_t kGroupNameChars = 256;  // 255 characters and the terminator
inline constexpr size_t kGroupGuidArea = 554;   // narrow GUID text at its start

#pragma pack(push, 1)
// One group as the library delivers it: 1072 bytes, little-endian.
struct GroupRecord {
  uint16_t id;
  uint16_t parentId;  // kTopLevelParentId: directly at the top of the tree
  uint16_t reserved;
  wchar_t name[kGroupNameChars];
  char guid[kGroupGuidArea];
};
#pragma pack(pop)

static_assert(sizeof(wchar_t) == 2);
static_assert(sizeof(GroupRecord) == 1072);
static_assert(offsetof(GroupRecord, id) == 0);
static_assert(offsetof(GroupRecord, parentId) == 2);
static_assert(offsetof(GroupRecord, name) == 6);
static_assert(offsetof(GroupRecord, guid) == 518);

inline constexpr char kGetGroupDetailsName[] = "GetGroupDetails";
inline constexpr char kGetSubGroupsForGroupName[] = "GetSubGroupsForGroup";
inline constexpr char kFreeGroupArrayName[] = "FreeGroupArray";

extern "C" {
// Fills the caller's record for one group.
uint8_t WINAPI GetGroupDetails(int32_t groupId, GroupRecord* record, uint32_t* status);
// Delivers every group below `groupId` (all levels, each with its parent ID) in an array that
// belongs to the library until it is handed back through FreeGroupArray.
uint8_t WINAPI GetSubGroupsForGroup(int32_t groupId, uint32_t flag, GroupRecord** groups, uint32_t* count,
                                    uint32_t* status);
void WINAPI FreeGroupArray(GroupRecord** groups);
}

using GetGroupDetailsFn = decltype(&GetGroupDetails);
using GetSubGroupsForGroupFn = decltype(&GetSubGroupsForGroup);
using FreeGroupArrayFn = decltype(&FreeGroupArray);
