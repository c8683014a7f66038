// The console companion of the Client Packager: "tmrovane ..." in a console runs this program
// (tmrovane.com comes before tmrovane.exe in the search order), a double-click the dialog.

#include <windows.h>

#include <cwchar>
#include <exception>

#include "app/app.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "log/trace_log.h"

namespace {

constexpr wchar_t kHelp[] =
    L"usage: tmrovane create [options]     build one installer, as the dialog's Create does\n"
    L"       tmrovane groups               list the server's group tree: name, path, GUID\n"
    L"       tmrovane inspect FILE         what an installer made by this program carries: mode,\n"
    L"                                    alternate address, group, server-info record, files,\n"
    L"                                    SHA-256\n"
    L"       tmrovane --help               this text\n"
    L"create, groups and inspect take --json: the result as one JSON document on standard output.\n"
    L"\n"
    L"create options (the defaults are the dialog's):\n"
    L"  --platform windows|mac|linux      OS platform (windows)\n"
    L"  --package custom|minimal          Client Agent package (custom); minimal is a Windows EXE\n"
    L"  --setup exe32|exe64|msi32|msi64   Windows setup type (exe32)\n"
    L"  --setup 32|64                     Linux setup type (32)\n"
    L"  --antivirus yes|no                antivirus setup included (yes); Windows EXE and Mac\n"
    L"  --validity 30|60|90|180           validity period in days; Minimal package only\n"
    L"  --destination FOLDER              where a Windows installer goes (Mac and Linux builds\n"
    L"                                    go under the server's web build folder)\n"
    L"  --group PATH|GUID                 the group, by its path in the tree\n"
    L"                                    (Workstations\\Engineering) or its GUID; Default\n"
    L"  --ip ADDRESS | --domain NAME      the alternate connection, when the server offers it\n"
    L"  --password-env VARIABLE           protect an EXE setup with the password held in this\n"
    L"                                    environment variable; the variable is removed once read\n"
    L"  --yes                             answer Yes to \"this will take some time\" and to\n"
    L"                                    building a Mac or Linux TAR again\n"
    L"\n"
    L"Messages go to standard error, with their IDs, and after a build the installer's SHA-256;\n"
    L"create prints the installer's full path alone on standard output.\n"
    L"\n"
    L"exit codes:\n"
    L"  0  built (or listed)\n"
    L"  2  refused input: a usage error, a bad value, or a refusal of the build's checks\n"
    L"  3  a question had no answer given in advance (--yes); nothing was changed\n"
    L"  4  another copy of the Client Packager runs for this server\n"
    L"  5  the build failed (or the group tree could not be read)\n"
    L"  6  inspect: the file could not be read\n";

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
    cli::WriteOut(kHelp);
    return cli::kExitBuilt;
  }
  cli::WriteErr(std::wstring(argc > 1 ? L"tmrovane: unknown command " + std::wstring(command) + L"\n" : L"") +
                kHelp);
  return cli::kExitRefused;
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
  return cli::kExitRefused;
}
