// tarbuild_tool: runs the Mac or Linux client build on a laid-out server, for the shell tests
// that read its archives back with Linux tools and inject faults with small file systems.
//   tarbuild_tool KIND INSTALL_FOLDER [--answer yes|no] [--alternate ADDRESS] [--mode N]
//                 [--group GUID]
// KIND is the build kind number (3 to 6); INSTALL_FOLDER ends with a backslash. Every message
// box is printed as "message <style>: <text>" and answered with OK, or the question with the
// given answer (default yes). Exit code 0 when the build returned true, 1 when it returned false,
// 2 for a wrong command line. The trace goes to the file named by TARBUILD_TOOL_LOG, if set.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "options/build_options.h"
#include "build/tar_client_dispatch.h"
#include "framework/prompt.h"
#include "log/trace_log.h"

namespace {

class PrintingPrompt final : public fw::IUserPrompt {
 public:
  explicit PrintingPrompt(int answer) : answer_(answer) {}
  int Show(const wchar_t* text, UINT style) override {
    wprintf(L"message %u: %ls\n", style, text);
    fflush(stdout);
    return (style & MB_YESNO) ? answer_ : IDOK;
  }

 private:
  int answer_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t logPath[MAX_PATH];
  const DWORD logLength = ::GetEnvironmentVariableW(L"TARBUILD_TOOL_LOG", logPath, MAX_PATH);
  if (logLength > 0 && logLength < MAX_PATH) {
    tracelog::GetSettings().filePath = logPath;
  }
  if (argc < 3) {
    fwprintf(stderr,
             L"usage: tarbuild_tool KIND INSTALL_FOLDER [--answer yes|no] [--alternate ADDRESS] "
             L"[--mode N] [--group GUID]\n");
    return 2;
  }
  BuildOptions options;
  const int kind = _wtoi(argv[1]);
  if (kind < static_cast<int>(BuildKind::MacAv) || kind > static_cast<int>(BuildKind::Linux64)) {
    fwprintf(stderr, L"tarbuild_tool: KIND must be 3 to 6\n");
    return 2;
  }
  options.build.kind = static_cast<BuildKind>(kind);
  options.build.bitness = options.build.kind == BuildKind::Linux32 ? 32 : 64;
  options.installFolder = argv[2];
  wchar_t longForm[MAX_PATH];
  const DWORD longLength = ::GetLongPathNameW(argv[2], longForm, MAX_PATH);
  if (longLength == 0 || longLength >= MAX_PATH) {
    fwprintf(stderr, L"tarbuild_tool: no such folder %ls\n", argv[2]);
    return 2;
  }
  options.webBuildFolder = std::wstring(longForm) + L"web\\build";
  options.groupGuid = L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";
  options.installationMode = 1;
  int answer = IDYES;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::wstring option = argv[i];
    if (option == L"--answer") {
      answer = wcscmp(argv[i + 1], L"no") == 0 ? IDNO : IDYES;
    } else if (option == L"--alternate") {
      options.alternateConnection = true;
      options.alternateAddress = argv[i + 1];
    } else if (option == L"--mode") {
      options.installationMode = _wtoi(argv[i + 1]);
    } else if (option == L"--group") {
      options.groupGuid = argv[i + 1];
    } else {
      fwprintf(stderr, L"tarbuild_tool: unknown option %ls\n", argv[i]);
      return 2;
    }
  }
  PrintingPrompt prompt(answer);
  return CreateTarClientBuild(options, prompt) ? 0 : 1;
}
