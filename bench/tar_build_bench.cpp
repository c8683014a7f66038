// tar_build_bench INSTALL_FOLDER OUTPUT_FOLDER [ROUNDS]: runs the Mac antivirus build on a laid-out
// server ROUNDS times (default 3; each later round rebuilds over the previous archive) and a plain
// copy of the same bytes into one file, and prints as key=value lines for bench/tar_build_bench.sh:
// the working set before the first build, the peak working set after the builds, the bytes
// archived, and the best time of each.

// psapi.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "build/create.h"
#include "handles/handles.h"
#include "log/trace_log.h"

namespace {

class YesPrompt final : public IBuildUi {
 public:
  void Show(const BuildMessage& message) override {
    if (message.style & MB_ICONERROR) {
      fwprintf(stderr, L"%ls\n", message.Format().c_str());
    }
  }
  bool Ask(BuildQuestion) override { return true; }
  PasswordAnswer AskPassword(passwordfile::Password&) override { return PasswordAnswer::kNotShown; }
};

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  return counters;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: tar_build_bench INSTALL_FOLDER OUTPUT_FOLDER [ROUNDS]\n");
    return 2;
  }
  const std::wstring install = argv[1];  // ends with a backslash
  const std::wstring output = argv[2];
  const int rounds = argc > 3 ? _wtoi(argv[3]) : 3;
  const std::wstring logPath = output + L"\\tar_build_bench.log";
  tracelog::GetSettings().filePath = logPath.c_str();

  BuildOptions options;
  options.installFolder = install;
  options.webBuildFolder = install + L"web\\build";
  options.groupGuid = L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";
  options.installationMode = 1;
  options.platformIndex = kPlatformMac;
  options.antivirusIndex = kAntivirusYes;
  const std::wstring web = options.webBuildFolder + L"\\";
  const std::vector<std::wstring> sources = {web + L"wsnode.ini", web + L"macndef.ini", web + L"MACHOST.DMG",
                                             web + L"MWSNODE.DMG"};

  YesPrompt prompt;
  const PROCESS_MEMORY_COUNTERS before = Memory();
  double bestBuild = 1e30, bestCopy = 1e30;
  long long bytes = 0;
  for (int round = 0; round < rounds; ++round) {
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    if (RunCreate(options, prompt, nullptr, L"tar_build_bench").outcome != CreateOutcome::kBuilt) {
      fwprintf(stderr, L"the build failed; see %ls\n", logPath.c_str());
      return 1;
    }
    ::QueryPerformanceCounter(&end);
    bestBuild = std::min(bestBuild, bench::Seconds(start, end));
  }
  const PROCESS_MEMORY_COUNTERS after = Memory();

  const std::wstring copyPath = output + L"\\copy.bin";
  for (int round = 0; round < rounds; ++round) {
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    bytes = bench::PlainCopy(sources, copyPath);
    ::QueryPerformanceCounter(&end);
    if (bytes < 0) {
      fwprintf(stderr, L"the plain copy failed\n");
      return 1;
    }
    bestCopy = std::min(bestCopy, bench::Seconds(start, end));
  }
  ::DeleteFileW(copyPath.c_str());
  printf(
      "working_set_before=%llu\npeak_before=%llu\npeak_after=%llu\nbytes=%lld\nbuild_seconds=%.4f\n"
      "copy_seconds=%.4f\n",
      static_cast<unsigned long long>(before.WorkingSetSize),
      static_cast<unsigned long long>(before.PeakWorkingSetSize),
      static_cast<unsigned long long>(after.PeakWorkingSetSize), bytes, bestBuild, bestCopy);
  return 0;
}
