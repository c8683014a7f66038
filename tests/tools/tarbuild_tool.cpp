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

#include "build/create.h"
#include "log/trace_log.h"

namespace {

class PrintingPrompt final : public IBuildUi {
 public:
  explicit PrintingPrompt(int answer) : answer_(answer) {}
  void Show(const BuildMessage& message) override { Print(message); }
  bool Ask(BuildQuestion question) override {
    Print(QuestionMessage(question));
    return answer_ == IDYES;
  }
  PasswordAnswer AskPassword(passwordfile::Password&) override { return PasswordAnswer::kNotShown; }

 private:
  static void Print(const BuildMessage& message) {
    wprintf(L"message %u: %ls\n", message.style, message.Format().c_str());
    fflush(stdout);
  }

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
  const bool mac = kind <= static_cast<int>(BuildKind::MacAgent);
  options.platformIndex = mac ? kPlatformMac : kPlatformLinux;
  options.antivirusIndex = kind == static_cast<int>(BuildKind::MacAv) ? kAntivirusYes : kAntivirusNo;
  options.setupTypeIndex = kind == static_cast<int>(BuildKind::Linux32) ? kSetupLinux32 : kSetupLinux64;
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
      options.alternateByDomainName = true;
      options.alternateDomain = argv[i + 1];
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
  return RunCreate(options, prompt, nullptr, L"tarbuild_tool").outcome == CreateOutcome::kBuilt ? 0 : 1;
}
