#pragma once
// An installer for every group of a part of the server's group tree in one run: each group's
// folder below the destination mirrors the tree, and the payload is gathered and compressed once
// for the whole run (see CreateClientSetupsForGroups).

#include <functional>
#include <string>
#include <vector>

#include "build/create.h"
#include "groups/group_tree.h"

// Windows' limit for one name of a path is 255; a folder name is kept well below it so that the
// levels of a deep tree still fit the installer's path.
inline constexpr size_t kMaxGroupFolderName = 64;

// `name` as one folder name Windows takes: characters that no name may hold (control
// characters, < > : " / \ | ? *) become '_', trailing dots and spaces go, a name longer than
// kMaxGroupFolderName is cut, an empty result becomes "_", and a device name (CON, PRN, AUX, NUL,
// COM1 to COM9, LPT1 to LPT9, also followed by an extension) gets a leading '_'.
std::wstring SafeFolderName(const std::wstring& name);

// The folder of each group of `tree` (in ReadGroupTree's order) below the destination: the safe
// names of the group and of the groups above it, joined by '\'. Sibling names that are equal once
// made safe, compared without regard to case, each get " " and their group's GUID (or ID, for a
// group without a valid GUID) appended.
std::vector<std::wstring> GroupFolders(const std::vector<groups::TreeGroup>& tree);

enum class GroupOutcome {
  kBuilt,       // its installer lies in its folder
  kFailed,      // its build failed; an earlier installer stays as it was
  kSkipped,     // it has no valid GUID
  kNotReached,  // the run stopped, or failed, before it
};

// One group of a run as it is reported.
struct GroupRunEntry {
  std::wstring path;    // names from the top of the tree, separated by backslashes
  std::wstring guid;    // empty when the group has no valid GUID
  std::wstring folder;  // below the destination (GroupFolders)
  GroupOutcome outcome = GroupOutcome::kNotReached;
  UINT messageId = uitext::kOwnText;  // the error that ended a failed group, when one was shown
  std::wstring message;
  std::wstring installer;  // full path, once built
  std::wstring sha256;     // lowercase hexadecimal; empty when it could not be read
};

struct EachGroupResult {
  // How the start of the run ended: kBuilt when it got to the groups (each group has its own
  // outcome), otherwise the refusal, declined question or failure before the first group.
  CreateResult start;
  bool stopped = false;  // the stop was asked for before every group was begun
  std::vector<GroupRunEntry> groups;
};

// Builds the Windows installer (EXE or MSI) the options ask for for every entry of `groups` that has a
// GUID, as RunCreate builds one (signed and stamped as it signs) (`options.groupGuid` is replaced by each
// group's). `finished` is called for every entry in order as it ends (skipped ones included); `stop`, asked
// before each group, ends the run there when it answers true.
EachGroupResult RunCreateForEachGroup(const BuildOptions& options, std::vector<GroupRunEntry> groups,
                                      IBuildUi& ui, const wchar_t* programFolder, const wchar_t* tag,
                                      const signing::SigningCertificate* signer,
                                      const std::wstring& timestampUrl,
                                      const std::function<void(size_t index, const GroupRunEntry&)>& finished,
                                      const std::function<bool()>& stop);
