// The console companion of the Client Packager: "tmrovane ..." in a console runs this program
// (tmrovane.com comes before tmrovane.exe in the search order), a double-click the dialog.

#include <windows.h>

#include <cwchar>
#include <exception>
#include <string>

#include "cli/commands.h"
#include "cli/console_text.h"
#include "log/trace_log.h"
#include "program/program_services.h"

namespace {

// The whole help: every command's own help, what goes where, and the exit codes.
std::wstring Help() {
  std::wstring help;
  for (const cli::CommandSpec* command :
       {&cli::kCreateCommand, &cli::kGroupsCommand, &cli::kInspectCommand}) {
    help += cli::CommandHelp(*command) + L"\n";
  }
  help +=
      L"usage: tmrovane --help                  this text\n"
      L"\n"
      L"Messages go to standard error, with their IDs, and after a build the installer's SHA-256;\n"
      L"create prints the installer's full path alone on standard output.\n"
      L"\n"
      L"exit codes:\n";
  for (const cli::OutcomeRow& row : cli::kOutcomes) {
    help += L"  " + std::to_wstring(row.exitCode) + L"  " + row.meaning + L"\n";
  }
  return help;
}

int Dispatch(int argc, wchar_t** argv) {
  tracelog::GetSettings().processName = L"tmrovane.com";
  const wchar_t* command = argc > 1 ? argv[1] : L"";
  if (wcscmp(command, L"create") == 0) {
    return cli::RunCreateCommand(argc, argv);
  }
  if (wcscmp(command, L"groups") == 0) {
    return cli::RunGroupsCommand(argc, argv);
  }
  if (wcscmp(command, L"inspect") == 0) {
    return cli::RunInspectCommand(argc, argv);
  }
  if (wcscmp(command, L"--help") == 0 && argc == 2) {
    cli::WriteOut(Help());
    return cli::ExitCode(cli::Outcome::kBuilt);
  }
  cli::WriteErr(std::wstring(argc > 1 ? L"tmrovane: unknown command " + std::wstring(command) + L"\n" : L"") +
                Help());
  return cli::ExitCode(cli::Outcome::kRefused);
}

}  // namespace

// The JSON library and the standard library report failures by exceptions: none leaves the
// program, each ends it as a refused input.
int wmain(int argc, wchar_t** argv) {
  RestrictLibrarySearch();
  try {
    return Dispatch(argc, argv);
  } catch (const std::exception& failure) {
    cli::WriteErr(L"tmrovane: " + cli::FromUtf8(failure.what()) + L"\n");
  } catch (...) {
    cli::WriteErr(L"tmrovane: an unexpected error\n");
  }
  return cli::ExitCode(cli::Outcome::kRefused);
}
