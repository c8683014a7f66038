// buildfiles_tool: runs one file utility or the TAR writer from a command line, for the shell
// tests that check their results with Linux tools (TAR readers, a small full file system).
//   buildfiles_tool tar SOURCE TAR      CreateTarFile
//   buildfiles_tool space ROOT MB       IsDiskSpaceAvailable
//   buildfiles_tool extract TARGET      ExtractExeToDisk of the test resource 901 "EXE"
// Exit code 0 when the operation returned true, 1 when it returned false, 2 for a wrong command
// line. The trace goes to the file named by the environment variable BUILDFILES_TOOL_LOG, if set.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "build/file_utils.h"
#include "build/tar_writer.h"
#include "log/trace_log.h"

int wmain(int argc, wchar_t** argv) {
  wchar_t logPath[MAX_PATH];
  const DWORD logLength = ::GetEnvironmentVariableW(L"BUILDFILES_TOOL_LOG", logPath, MAX_PATH);
  if (logLength > 0 && logLength < MAX_PATH) {
    tracelog::GetSettings().filePath = logPath;
  }
  const wchar_t* command = argc > 1 ? argv[1] : L"";
  bool ok;
  if (wcscmp(command, L"tar") == 0 && argc == 4) {
    DWORD error = 0;
    ok = CreateTarFile(argv[2], argv[3], &error);
  } else if (wcscmp(command, L"space") == 0 && argc == 4) {
    ok = IsDiskSpaceAvailable(argv[2], static_cast<DWORD>(wcstoul(argv[3], nullptr, 10)));
  } else if (wcscmp(command, L"extract") == 0 && argc == 3) {
    ok = ExtractExeToDisk(argv[2], 901, L"EXE").valid();
  } else {
    fwprintf(stderr, L"usage: buildfiles_tool tar SOURCE TAR | space ROOT MB | extract TARGET\n");
    return 2;
  }
  return ok ? 0 : 1;
}
