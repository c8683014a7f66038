// make_tar_tool SOURCE TAR: archives SOURCE into the new file TAR with CreateTarFile, for the
// read-back test that checks the archives with other TAR readers. Exit code 0 on success, 1 when
// CreateTarFile failed, 2 for a wrong command line. The trace goes to TAR followed by ".log".

#include <windows.h>

#include <cstdio>
#include <string>

#include "build/tar_writer.h"
#include "log/trace_log.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: make_tar_tool SOURCE TAR\n");
    return 2;
  }
  const std::wstring logPath = std::wstring(argv[2]) + L".log";
  tracelog::GetSettings().filePath = logPath.c_str();
  DWORD error = 0;
  return CreateTarFile(argv[1], argv[2], &error) ? 0 : 1;
}
