// groups: the server's group tree as the group dialog shows it, each group with its path and
// GUID.

#include <windows.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "groups/group_tree.h"
#include "log/trace_log.h"
#include "program/program_services.h"
#include "uitext/ui_text.h"

namespace cli {

namespace {

constexpr OptionSpec kGroupsOptions[] = {
    {L"--json", nullptr, L"the tree as one JSON document on standard output"},
};

}  // namespace

const CommandSpec kGroupsCommand{L"groups", nullptr, L"list the server's group tree: name, path, GUID",
                                 kGroupsOptions};

int RunGroupsCommand(int argc, wchar_t** argv) {
  Arguments arguments;
  std::wstring error;
  if (!ParseArguments(argc, argv, 2, kGroupsCommand, arguments, error)) {
    WriteUsageError(L"groups", error);
    return ExitCode(Outcome::kRefused);
  }
  if (arguments.help) {
    WriteOut(CommandHelp(kGroupsCommand));
    return ExitCode(Outcome::kBuilt);
  }
  // Without the lock the log may be a running copy's: this command writes none.
  tracelog::GetSettings().enabled = false;
  ProgramServices app(::GetModuleHandleW(nullptr));
  app.InitTraceLog();
  app.LoadStringLibraryAndTexts();
  std::vector<groups::TreeGroup> tree;
  wchar_t text[1024];
  if (!groups::ReadGroupTree(tree, L"tmrovane.com groups")) {
    WriteMessage(uitext::kErrLoadGroups);
    return ExitCode(Outcome::kFailed);
  }
  LoadUiText(uitext::kGroupTreeRoot, text);
  if (arguments.Has(L"--json")) {
    nlohmann::json list = nlohmann::json::array();
    for (const groups::TreeGroup& group : tree) {
      list.push_back(
          {{"name", ToUtf8(group.name)},
           {"path", ToUtf8(group.path)},
           {"depth", group.depth},
           {"guid", group.guid.empty() ? nlohmann::json(nullptr) : nlohmann::json(ToUtf8(group.guid))}});
    }
    const nlohmann::json json{{"root", ToUtf8(text)}, {"groups", list}};
    WriteOut(FromUtf8(json.dump(2)) + L"\n");
    return ExitCode(Outcome::kBuilt);
  }
  std::wstring listing = std::wstring(text) + L"\n";
  for (const groups::TreeGroup& group : tree) {
    listing += std::wstring(2 * (group.depth + 1), L' ') + group.name + L"\t" + group.path + L"\t" +
               (group.guid.empty() ? L"(no valid GUID)" : group.guid) + L"\n";
  }
  WriteOut(listing);
  return ExitCode(Outcome::kBuilt);
}

}  // namespace cli
