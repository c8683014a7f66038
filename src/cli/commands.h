#pragma once
// The console program's commands. Each takes the whole command line (argv[1] is the command)
// and returns the process's exit code.

namespace cli {

enum ExitCode : int {
  kExitBuilt = 0,        // done: built, listed or inspected
  kExitRefused = 2,      // a usage error, a bad value, or a refusal of the build's checks
  kExitUnanswered = 3,   // a question had no answer given in advance: nothing was changed
  kExitOtherCopy = 4,    // another copy (the dialog or a build) runs for this server
  kExitBuildFailed = 5,  // the build failed
  kExitUnreadable = 6,   // inspect: the file could not be read
};

int RunCreateCommand(int argc, wchar_t** argv);
int RunGroupsCommand(int argc, wchar_t** argv);
int RunInspectCommand(int argc, wchar_t** argv);

}  // namespace cli
