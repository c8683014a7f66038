// Stand-in group library. The group tree lives in "groups.txt" beside the library, one group a
// line, fields separated by tabs:
//
//   id <TAB> parent id <TAB> GUID text <TAB> name
//
// id 1 to 65535, parent 0 (top of the tree) to 65535, both decimal; the name is the rest of the
// line and may be empty. Blank lines and lines starting with '#' are skipped. The file is UTF-8
// (byte-order mark optional) or UTF-16LE with byte-order mark, and is read afresh on every
// call, so an edit takes effect at once. A line that does not have this form makes every call
// fail (status kBadData): a damaged file is reported, never half-used.
//
// Every delivered text is cut to fit its field and terminated within it: names to 255
// characters, GUID texts to 553 bytes.
//
// A file "grpstore.fail" beside the library names exports that fail on demand; with a file
// "success.ff" beside it, calls return 0xFF for success instead of 1. Every call,
// and the library's load and unload, is recorded in "grpstore.journal" beside it.

#include "contracts/grpstore.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "common/standin_files.h"

namespace {

// Status words; 0 means success.
enum GroupStatus : uint32_t {
  kOk = 0,
  kBadArgument = 1,
  kNoData = 2,    // the data file is missing or unreadable
  kBadData = 3,   // a line of the data file has the wrong form
  kNotFound = 4,  // no group with that ID
  kSwitchedOff = 5,
  kNoMemory = 6,
};

constexpr size_t kGuidBytes = kGroupGuidArea - 1;

HMODULE g_self = nullptr;

struct Group {
  uint16_t id = 0;
  uint16_t parentId = 0;
  std::string guid;
  std::wstring name;
};

std::wstring BesideLibrary(const std::wstring& name) { return standin::BesideModule(g_self, name); }

void Journal(const std::string& line) { standin::AppendJournal(BesideLibrary(L"grpstore.journal"), line); }

bool SwitchedOff(const char* call) {
  return standin::IsSwitchedToFail(BesideLibrary(L"grpstore.fail"), call);
}

bool ParseNumber(const std::wstring& text, uint32_t limit, uint16_t* value) {
  if (text.empty() || text.size() > 5) {
    return false;
  }
  uint32_t number = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') {
      return false;
    }
    number = number * 10 + static_cast<uint32_t>(c - L'0');
  }
  if (number > limit) {
    return false;
  }
  *value = static_cast<uint16_t>(number);
  return true;
}

GroupStatus LoadGroups(std::vector<Group>* groups) {
  std::string bytes;
  if (!standin::ReadWholeFile(BesideLibrary(L"groups.txt"), &bytes)) {
    return kNoData;
  }
  std::vector<std::wstring> lines;
  if (!standin::DecodeLines(bytes, &lines)) {
    return kBadData;
  }
  for (const std::wstring& line : lines) {
    size_t first = 0;
    while (first < line.size() && std::iswspace(line[first])) {
      ++first;
    }
    if (first == line.size() || line[first] == L'#') {
      continue;
    }
    const size_t tab1 = line.find(L'\t');
    const size_t tab2 = tab1 == std::wstring::npos ? tab1 : line.find(L'\t', tab1 + 1);
    const size_t tab3 = tab2 == std::wstring::npos ? tab2 : line.find(L'\t', tab2 + 1);
    if (tab3 == std::wstring::npos) {
      return kBadData;
    }
    Group group;
    if (!ParseNumber(line.substr(0, tab1), 0xFFFF, &group.id) || group.id == kTopLevelParentId ||
        !ParseNumber(line.substr(tab1 + 1, tab2 - tab1 - 1), 0xFFFF, &group.parentId)) {
      return kBadData;
    }
    group.guid = standin::ToUtf8(line.substr(tab2 + 1, tab3 - tab2 - 1));
    group.name = line.substr(tab3 + 1);
    groups->push_back(std::move(group));
  }
  return kOk;
}

void FillRecord(const Group& group, GroupRecord* record) {
  *record = GroupRecord{};
  record->id = group.id;
  record->parentId = group.parentId;
  size_t nameLength = std::min(group.name.size(), kGroupNameChars - 1);
  // Never leave half of a surrogate pair at the cut.
  if (nameLength < group.name.size() && nameLength > 0 && group.name[nameLength - 1] >= 0xD800 &&
      group.name[nameLength - 1] <= 0xDBFF) {
    --nameLength;
  }
  group.name.copy(record->name, nameLength);
  group.guid.copy(record->guid, std::min(group.guid.size(), kGuidBytes));
}

uint8_t Finish(const char* call, GroupStatus result, uint32_t* status) {
  if (status != nullptr) {
    *status = result;
  }
  standin::JournalCall(BesideLibrary(L"grpstore.journal"), call, result);
  return result == kOk ? standin::SuccessByte(g_self) : 0;
}

GroupStatus GroupDetails(int32_t groupId, GroupRecord* record) {
  if (record == nullptr) {
    return kBadArgument;
  }
  if (SwitchedOff(kGetGroupDetailsName)) {
    return kSwitchedOff;
  }
  std::vector<Group> groups;
  if (const GroupStatus loaded = LoadGroups(&groups); loaded != kOk) {
    return loaded;
  }
  for (const Group& group : groups) {
    if (group.id == groupId) {
      FillRecord(group, record);
      return kOk;
    }
  }
  return kNotFound;
}

// Which groups lie below `groupId`: flag 0 asks for its direct sub-groups, any other flag for
// all levels. Below the top (ID 0) at all levels is every group of the file, including one
// whose parent is not in the file.
std::vector<bool> Selection(const std::vector<Group>& groups, int32_t groupId, uint32_t flag) {
  std::vector<bool> chosen(groups.size(), false);
  for (size_t i = 0; i < groups.size(); ++i) {
    chosen[i] = groups[i].parentId == groupId || (groupId == kTopLevelParentId && flag != 0);
  }
  if (flag == 0 || groupId == kTopLevelParentId) {
    return chosen;
  }
  // Widen to all levels until nothing changes; a loop of parents ends because a group is
  // chosen at most once.
  for (bool grew = true; grew;) {
    grew = false;
    for (size_t i = 0; i < groups.size(); ++i) {
      if (chosen[i] || groups[i].id == groupId) {
        continue;
      }
      for (size_t j = 0; j < groups.size(); ++j) {
        if (chosen[j] && groups[j].id == groups[i].parentId) {
          chosen[i] = grew = true;
          break;
        }
      }
    }
  }
  return chosen;
}

GroupStatus SubGroups(int32_t groupId, uint32_t flag, GroupRecord** out, uint32_t* count) {
  if (out == nullptr || count == nullptr) {
    return kBadArgument;
  }
  *out = nullptr;
  *count = 0;
  if (SwitchedOff(kGetSubGroupsForGroupName)) {
    return kSwitchedOff;
  }
  std::vector<Group> groups;
  if (const GroupStatus loaded = LoadGroups(&groups); loaded != kOk) {
    return loaded;
  }
  bool known = groupId == kTopLevelParentId;
  for (const Group& group : groups) {
    known = known || group.id == groupId;
  }
  if (!known) {
    return kNotFound;
  }
  const std::vector<bool> chosen = Selection(groups, groupId, flag);
  uint32_t total = 0;
  for (bool c : chosen) {
    total += c ? 1 : 0;
  }
  if (total == 0) {
    return kOk;
  }
  auto* records = static_cast<GroupRecord*>(::HeapAlloc(::GetProcessHeap(), 0, sizeof(GroupRecord) * total));
  if (records == nullptr) {
    return kNoMemory;
  }
  uint32_t next = 0;
  for (size_t i = 0; i < groups.size(); ++i) {
    if (chosen[i]) {
      FillRecord(groups[i], &records[next++]);
    }
  }
  *out = records;
  *count = total;
  return kOk;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = instance;
  }
  try {
    if (reason == DLL_PROCESS_ATTACH) {
      Journal("load");
    } else if (reason == DLL_PROCESS_DETACH) {
      Journal(reserved == nullptr ? "unload" : "process exit");
    }
  } catch (...) {
  }
  return TRUE;
}

uint8_t WINAPI GetGroupDetails(int32_t groupId, GroupRecord* record, uint32_t* status) {
  GroupStatus result = kNoMemory;
  try {
    result = GroupDetails(groupId, record);
  } catch (...) {
  }
  return Finish(kGetGroupDetailsName, result, status);
}

uint8_t WINAPI GetSubGroupsForGroup(int32_t groupId, uint32_t flag, GroupRecord** groups, uint32_t* count,
                                    uint32_t* status) {
  GroupStatus result = kNoMemory;
  try {
    result = SubGroups(groupId, flag, groups, count);
  } catch (...) {
  }
  return Finish(kGetSubGroupsForGroupName, result, status);
}

void WINAPI FreeGroupArray(GroupRecord** groups) {
  if (groups != nullptr && *groups != nullptr) {
    ::HeapFree(::GetProcessHeap(), 0, *groups);
    *groups = nullptr;
  }
  try {
    Journal(kFreeGroupArrayName);
  } catch (...) {
  }
}
