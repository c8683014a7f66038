#include "cli/each_group_command.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <nlohmann/json.hpp>

#include "build/each_group.h"
#include "cli/console_text.h"
#include "groups/group_tree.h"
#include "log/trace_log.h"

namespace cli {
namespace {

constexpr wchar_t kTag[] = L"tmrovane.com create --each-group";

// Set by Ctrl+C or Ctrl+Break while a run goes on; read before each group.
std::atomic<bool> stopAsked{false};

BOOL WINAPI OnControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    if (!stopAsked.exchange(true)) {
      WriteErr(L"Ctrl+C: stopping once the current group has ended.\n");
    }
    return TRUE;
  }
  return FALSE;
}

// Handles Ctrl+C for as long as it lives.
class StopOnControl {
 public:
  StopOnControl() {
    stopAsked = false;
    ::SetConsoleCtrlHandler(OnControl, TRUE);
  }
  ~StopOnControl() { ::SetConsoleCtrlHandler(OnControl, FALSE); }
  StopOnControl(const StopOnControl&) = delete;
  StopOnControl& operator=(const StopOnControl&) = delete;
};

const char* OutcomeName(GroupOutcome outcome) {
  switch (outcome) {
    case GroupOutcome::kBuilt:
      return "built";
    case GroupOutcome::kFailed:
      return "failed";
    case GroupOutcome::kSkipped:
      return "skipped";
    case GroupOutcome::kNotReached:
      break;
  }
  return "not reached";
}

nlohmann::json TextOrNull(const std::wstring& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(ToUtf8(text));
}

// The groups at or under the one `selector` names, or the whole tree, each with its folder.
// False with the outcome written to standard error.
bool SelectGroups(const std::wstring* selector, std::vector<GroupRunEntry>& entries, Outcome& outcome,
                  std::wstring& message) {
  std::vector<groups::TreeGroup> tree;
  if (!groups::ReadGroupTree(tree, kTag)) {
    wchar_t text[1024];
    LoadUiText(uitext::kErrLoadGroups, text);
    message = MessageLine(uitext::kErrLoadGroups.id, text);
    outcome = Outcome::kFailed;
    return false;
  }
  size_t first = 0;
  size_t end = tree.size();
  if (selector != nullptr) {
    const groups::TreeGroup* top = nullptr;
    const groups::FindResult found = groups::FindGroup(tree, *selector, &top);
    if (found != groups::FindResult::kFound && found != groups::FindResult::kNoGuid) {
      message = found == groups::FindResult::kNotFound
                    ? L"No group " + *selector + L" in the server's group tree (see: tmrovane groups)."
                    : L"More than one group has the path " + *selector + L"; name it by its GUID.";
      outcome = Outcome::kRefused;
      return false;
    }
    first = static_cast<size_t>(top - tree.data());
    for (end = first + 1; end < tree.size() && tree[end].depth > top->depth; ++end) {
    }
  }
  const std::vector<std::wstring> folders = GroupFolders(tree);
  for (size_t i = first; i < end; ++i) {
    GroupRunEntry entry;
    entry.path = tree[i].path;
    entry.guid = tree[i].guid;
    entry.folder = folders[i];
    entries.push_back(std::move(entry));
  }
  return true;
}

}  // namespace

Outcome CreateForEachGroup(const BuildOptions& options, const std::wstring* selector, ConsoleUi& ui,
                           const wchar_t* programFolder, const signing::SigningCertificate* signer,
                           const std::wstring& timestampUrl, bool json) {
  std::vector<GroupRunEntry> entries;
  Outcome outcome = Outcome::kBuilt;
  std::wstring refusal;
  EachGroupResult result;
  if (SelectGroups(selector, entries, outcome, refusal)) {
    const size_t total = entries.size();
    const auto finished = [&](size_t index, const GroupRunEntry& entry) {
      WriteErr(std::to_wstring(index + 1) + L"/" + std::to_wstring(total) + L" " + entry.path + L" " +
               FromUtf8(OutcomeName(entry.outcome)) + L"\n");
    };
    // Standard output carries the installers' paths or the manifest alone: what 7-Zip and the
    // packer write is read by the build through a pipe (ConsoleUi follows progress).
    try {
      const StopOnControl control;
      result = RunCreateForEachGroup(options, std::move(entries), ui, programFolder, kTag, signer,
                                     timestampUrl, finished, [] { return stopAsked.load(); });
    } catch (const std::exception& failure) {
      // The groups already built stay; the run is reported as failed, not as refused input.
      TraceLog(tracelog::kLevelError, kTag, L"The run ended by an exception");
      WriteErr(L"tmrovane create: " + FromUtf8(failure.what()) + L"\n");
      return Outcome::kFailed;
    }
    switch (result.start.outcome) {
      case CreateOutcome::kBuilt:
        outcome = Outcome::kBuilt;
        for (const GroupRunEntry& entry : result.groups) {
          if (entry.outcome != GroupOutcome::kBuilt && entry.outcome != GroupOutcome::kSkipped) {
            outcome = Outcome::kFailed;
          }
        }
        break;
      case CreateOutcome::kRefused:
        outcome = Outcome::kRefused;
        break;
      case CreateOutcome::kDeclined:
        outcome = ui.unanswered() ? Outcome::kUnanswered : Outcome::kFailed;
        break;
      case CreateOutcome::kFailed:
        outcome = Outcome::kFailed;
        break;
    }
    if (result.stopped) {
      WriteErr(L"Stopped: the groups not reached were not built.\n");
    }
  } else {
    WriteErr(refusal + L"\n");
  }

  if (json) {
    nlohmann::json manifest{
        {"built", outcome == Outcome::kBuilt},
        {"outcome", RowOf(outcome).name},
        {"kind", refusal.empty() ? nlohmann::json(ToUtf8(BuildKindName(result.start.kind)))
                                 : nlohmann::json(nullptr)},
        {"stopped", result.stopped}};
    if (!refusal.empty() || result.start.outcome != CreateOutcome::kBuilt) {
      manifest["messageId"] = result.start.messageId != uitext::kOwnText
                                  ? nlohmann::json(result.start.messageId)
                                  : nlohmann::json(nullptr);
      manifest["message"] = TextOrNull(refusal.empty() ? result.start.message : refusal);
    }
    nlohmann::json list = nlohmann::json::array();
    for (const GroupRunEntry& entry : result.groups) {
      list.push_back({{"path", ToUtf8(entry.path)},
                      {"guid", TextOrNull(entry.guid)},
                      {"folder", ToUtf8(entry.folder)},
                      {"outcome", OutcomeName(entry.outcome)},
                      {"messageId", entry.messageId != uitext::kOwnText ? nlohmann::json(entry.messageId)
                                                                        : nlohmann::json(nullptr)},
                      {"message", TextOrNull(entry.message)},
                      {"installer", TextOrNull(entry.installer)},
                      {"sha256", TextOrNull(entry.sha256)}});
    }
    manifest["groups"] = list;
    WriteOut(FromUtf8(manifest.dump(2)) + L"\n");
  } else {
    for (const GroupRunEntry& entry : result.groups) {
      if (entry.outcome == GroupOutcome::kBuilt) {
        WriteOut(entry.installer + L"\n");
      }
    }
  }
  return outcome;
}

}  // namespace cli
