#pragma once
// The console program's commands. Each takes the whole command line (argv[1] is the command)
// and returns the process's exit code.

#include "cli/arguments.h"

namespace cli {

// How a command ended. Each has its exit code and the name JSON output gives it (kOutcomes).
enum class Outcome {
  kBuilt,       // done: built, listed or inspected
  kRefused,     // a usage error, a bad value, or a refusal of the build's checks
  kUnanswered,  // a question had no answer given in advance: nothing was changed
  kOtherCopy,   // another copy (the dialog or a build) runs for this server
  kFailed,      // the build failed (or the group tree could not be read)
  kUnreadable,  // inspect: the file could not be read
};

struct OutcomeRow {
  Outcome outcome;
  int exitCode;
  const char* name;        // "outcome" in JSON output
  const wchar_t* meaning;  // as the help explains the exit code
};

inline constexpr OutcomeRow kOutcomes[] = {
    {Outcome::kBuilt, 0, "built", L"built (or listed, or inspected)"},
    {Outcome::kRefused, 2, "refused",
     L"refused input: a usage error, a bad value, or a refusal of the build's checks"},
    {Outcome::kUnanswered, 3, "unanswered",
     L"a question had no answer given in advance (--yes); nothing was changed"},
    {Outcome::kOtherCopy, 4, "locked", L"another copy of the Client Packager runs for this server"},
    {Outcome::kFailed, 5, "failed",
     L"the build failed (or the group tree could not be read, or the lock could not be created)"},
    {Outcome::kUnreadable, 6, "unreadable", L"inspect: the file could not be read"},
};

constexpr const OutcomeRow& RowOf(Outcome outcome) {
  for (const OutcomeRow& row : kOutcomes) {
    if (row.outcome == outcome) {
      return row;
    }
  }
  return kOutcomes[0];
}
constexpr int ExitCode(Outcome outcome) { return RowOf(outcome).exitCode; }

// Each command's options, which parse its command line and write its help.
extern const CommandSpec kCreateCommand;
extern const CommandSpec kGroupsCommand;
extern const CommandSpec kInspectCommand;

int RunCreateCommand(int argc, wchar_t** argv);
int RunGroupsCommand(int argc, wchar_t** argv);
int RunInspectCommand(int argc, wchar_t** argv);

}  // namespace cli
