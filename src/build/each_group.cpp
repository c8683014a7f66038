#include "build/each_group.h"

#include <windows.h>

#include <cwctype>
#include <iterator>

#include "build/create_plan.h"
#include "build/installer_hash.h"
#include "build/windows_build.h"
#include "log/trace_log.h"

namespace {

constexpr const wchar_t* kDeviceNames[] = {
    L"CON",  L"PRN",  L"AUX",  L"NUL",  L"COM1", L"COM2", L"COM3", L"COM4", L"COM5", L"COM6", L"COM7",
    L"COM8", L"COM9", L"LPT1", L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9"};

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// Reports the groups of the run to its caller in order, skipped ones as they come, and keeps each
// group's outcome and the error it ended with.
class RunReport final : public IGroupRunReport {
 public:
  RunReport(EachGroupResult& result, const std::vector<size_t>& built,
            const std::vector<GroupInstaller>& installers, RecordingBuildUi& ui,
            const std::function<void(size_t, const GroupRunEntry&)>& finished,
            const std::function<bool()>& stop)
      : result_(result), built_(built), installers_(installers), ui_(ui), finished_(finished), stop_(stop) {}

  bool Stopped(size_t index) override {
    ReportSkippedUpTo(built_[index]);
    ui_.ForgetError();
    if (stop_ && stop_()) {
      result_.stopped = true;
      return true;
    }
    return false;
  }

  void GroupDone(size_t index, bool built) override {
    GroupRunEntry& entry = result_.groups[built_[index]];
    entry.outcome = built ? GroupOutcome::kBuilt : GroupOutcome::kFailed;
    if (built) {
      entry.installer = installers_[index].installer;
      if (!HashFileSha256(entry.installer.c_str(), entry.sha256)) {
        TraceLog(tracelog::kLevelError, L"CreateClientSetupExe", L"SHA-256 of %s not computed (Err -> %u)",
                 entry.installer.c_str(), ::GetLastError());
      }
    } else if (const BuildMessage* error = ui_.lastError()) {
      entry.messageId = error->id();
      entry.message = error->Format();
    }
    finished_(built_[index], entry);
    next_ = built_[index] + 1;
  }

  // The skipped entries before `end` not yet reported.
  void ReportSkippedUpTo(size_t end) {
    for (; next_ < end; ++next_) {
      if (result_.groups[next_].outcome == GroupOutcome::kSkipped) {
        finished_(next_, result_.groups[next_]);
      }
    }
  }

 private:
  EachGroupResult& result_;
  const std::vector<size_t>& built_;
  // The installers' paths are set as each group begins.
  const std::vector<GroupInstaller>& installers_;
  RecordingBuildUi& ui_;
  const std::function<void(size_t, const GroupRunEntry&)>& finished_;
  const std::function<bool()>& stop_;
  size_t next_ = 0;
};

}  // namespace

std::wstring SafeFolderName(const std::wstring& name) {
  std::wstring safe = name.substr(0, kMaxGroupFolderName);
  for (wchar_t& c : safe) {
    if (c < L' ' || std::wcschr(L"<>:\"/\\|?*", c) != nullptr) {
      c = L'_';
    }
  }
  while (!safe.empty() && (safe.back() == L'.' || safe.back() == L' ')) {
    safe.pop_back();
  }
  if (safe.empty()) {
    return L"_";
  }
  // "NUL.txt" and "NUL " name the device as "NUL" does.
  std::wstring stem = safe.substr(0, safe.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') {
    stem.pop_back();
  }
  for (const wchar_t* device : kDeviceNames) {
    if (SameIgnoringCase(stem, device)) {
      return L"_" + safe.substr(0, kMaxGroupFolderName - 1);
    }
  }
  return safe;
}

std::vector<std::wstring> GroupFolders(const std::vector<groups::TreeGroup>& tree) {
  std::vector<std::wstring> names;
  std::vector<size_t> parents;  // index of each group's parent; tree.size() for the top
  std::vector<size_t> line;     // the groups above the current one, by depth
  for (size_t i = 0; i < tree.size(); ++i) {
    line.resize(static_cast<size_t>(tree[i].depth));
    parents.push_back(line.empty() ? tree.size() : line.back());
    line.push_back(i);
    names.push_back(SafeFolderName(tree[i].name));
  }
  std::vector<std::wstring> unique = names;
  for (size_t i = 0; i < tree.size(); ++i) {
    for (size_t j = 0; j < tree.size(); ++j) {
      if (i != j && parents[i] == parents[j] && SameIgnoringCase(names[i], names[j])) {
        const std::wstring& guid = tree[i].guid;
        unique[i] = names[i].substr(0, kMaxGroupFolderName) + L" " +
                    (guid.empty() ? std::to_wstring(tree[i].id) : guid);
        break;
      }
    }
  }
  std::vector<std::wstring> folders;
  for (size_t i = 0; i < tree.size(); ++i) {
    folders.push_back(parents[i] == tree.size() ? unique[i] : folders[parents[i]] + L"\\" + unique[i]);
  }
  return folders;
}

EachGroupResult RunCreateForEachGroup(const BuildOptions& options, std::vector<GroupRunEntry> groups,
                                      IBuildUi& shownTo, const wchar_t* programFolder, const wchar_t* tag,
                                      const signing::SigningCertificate* signer,
                                      const std::wstring& timestampUrl,
                                      const std::function<void(size_t index, const GroupRunEntry&)>& finished,
                                      const std::function<bool()>& stop) {
  EachGroupResult result;
  result.groups = std::move(groups);
  CreatePlan plan = PlanCreate(options);
  plan.signer = signer;
  plan.timestampUrl = timestampUrl;
  result.start.kind = plan.build.kind;
  std::vector<GroupInstaller> installers;
  std::vector<size_t> built;  // the entries given to the build, by their index
  for (size_t i = 0; i < result.groups.size(); ++i) {
    GroupRunEntry& entry = result.groups[i];
    if (entry.guid.empty()) {
      entry.outcome = GroupOutcome::kSkipped;
      continue;
    }
    installers.push_back({entry.guid, entry.folder, {}});
    built.push_back(i);
  }
  RecordingBuildUi ui(shownTo);
  RunReport report(result, built, installers, ui, finished, stop);
  const auto* windows = std::get_if<WindowsTarget>(&plan.target);
  bool started = false;
  if (windows == nullptr) {
    TraceLog(tracelog::kLevelError, tag, L"An installer for each group is built for Windows only");
    ui.Show(TableMessage(uitext::kErrCreateSetup));
  } else if (programFolder == nullptr) {
    TraceLog(tracelog::kLevelError, tag, L"GetProgramFolder failed");
    ui.Show(TableMessage(uitext::kErrCreateSetup));
  } else if (installers.empty()) {
    started = true;
  } else {
    started = CreateClientSetupsForGroups(plan, *windows, installers, ui, programFolder, report);
  }
  if (!started) {
    DescribeEnd(ui, result.start);
    return result;
  }
  result.start.outcome = CreateOutcome::kBuilt;
  report.ReportSkippedUpTo(result.stopped ? 0 : result.groups.size());
  return result;
}
