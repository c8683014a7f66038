// Runs one Windows build from a script, the way Create does, on a laid-out stand-in server:
//
//   winbuild_tool.exe SERVER_FOLDER PROGRAM_FOLDER DESTINATION PACKAGE PLATFORM SETUP ANTIVIRUS
//                     [--ip ADDRESS | --domain NAME] [--answers YN...]
//
// PACKAGE, PLATFORM, SETUP and ANTIVIRUS are the combo indexes. Every message and question is
// printed as one line "shown: TEXT"; questions are answered in turn from --answers (Y or N),
// then No. The password dialog is never shown. Exit code 0 when the build succeeded, 1 when it
// failed, 2 for bad arguments.

#include <cstdio>
#include <cwchar>
#include <string>

#include "build/create.h"

namespace {

class ConsoleUi final : public IBuildUi {
 public:
  explicit ConsoleUi(std::wstring answers) : answers_(std::move(answers)) {}
  void Show(const BuildMessage& message) override { Print(message); }
  bool Ask(BuildQuestion question) override {
    Print(QuestionMessage(question));
    const wchar_t answer = next_ < answers_.size() ? answers_[next_++] : L'N';
    return answer == L'Y';
  }
  PasswordAnswer AskPassword(passwordfile::Password&) override { return PasswordAnswer::kCancelled; }

 private:
  static void Print(const BuildMessage& message) {
    std::wstring line = message.Format();
    for (wchar_t& c : line) {
      c = c == L'\n' ? L' ' : c;
    }
    wprintf(L"shown: %ls\n", line.c_str());
    fflush(stdout);
  }

  std::wstring answers_;
  size_t next_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 8) {
    fwprintf(stderr,
             L"usage: winbuild_tool.exe SERVER PROGRAM DESTINATION PACKAGE PLATFORM SETUP ANTIVIRUS "
             L"[--ip ADDRESS | --domain NAME] [--answers YN...]\n");
    return 2;
  }
  BuildOptions options;
  options.installFolder = std::wstring(argv[1]) + L"\\";
  options.webBuildFolder = std::wstring(argv[1]) + L"\\web\\build";
  std::wstring programFolder = std::wstring(argv[2]) + L"\\";
  options.destination = argv[3];
  options.packageIndex = _wtoi(argv[4]);
  options.platformIndex = _wtoi(argv[5]);
  options.setupTypeIndex = _wtoi(argv[6]);
  options.antivirusIndex = _wtoi(argv[7]);
  options.groupGuid = L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";
  options.installationMode = 1;
  std::wstring answers;
  for (int i = 8; i + 1 < argc; i += 2) {
    const std::wstring option = argv[i];
    if (option == L"--ip" || option == L"--domain") {
      options.alternateConnection = true;
      options.alternateByDomainName = option == L"--domain";
      (option == L"--ip" ? options.alternateIp : options.alternateDomain) = argv[i + 1];
    } else if (option == L"--answers") {
      answers = argv[i + 1];
    } else {
      return 2;
    }
  }
  ConsoleUi ui(answers);
  return RunCreate(options, ui, programFolder.c_str(), L"winbuild_tool").outcome == CreateOutcome::kBuilt ? 0
                                                                                                          : 1;
}
