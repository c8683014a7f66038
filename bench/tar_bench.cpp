// tar_bench SOURCE-FOLDER OUTPUT-FOLDER [ROUNDS]: times CreateTarFile on SOURCE-FOLDER against a
// plain copy of the same files' bytes into one file (the least any archiver must do), best of
// ROUNDS (default 3) each, and prints the results as key=value lines for bench/tar_bench.sh.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "build/tar_writer.h"
#include "handles/handles.h"
#include "log/trace_log.h"

namespace {

std::vector<std::wstring> ListFiles(const std::wstring& folder) {
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW data;
  fw::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (find) {
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        files.push_back(folder + L"\\" + data.cFileName);
      }
    } while (::FindNextFileW(find.get(), &data));
  }
  return files;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: tar_bench SOURCE-FOLDER OUTPUT-FOLDER [ROUNDS]\n");
    return 2;
  }
  const std::wstring source = argv[1];
  const std::wstring output = argv[2];
  const int rounds = argc > 3 ? _wtoi(argv[3]) : 3;
  const std::wstring logPath = output + L"\\tar_bench.log";
  tracelog::GetSettings().filePath = logPath.c_str();

  const std::vector<std::wstring> files = ListFiles(source);
  const std::wstring tarPath = output + L"\\bench.tar";
  const std::wstring copyPath = output + L"\\copy.bin";
  double bestWriter = 1e30, bestCopy = 1e30;
  long long copied = 0;
  for (int round = 0; round < rounds; ++round) {
    ::DeleteFileW(tarPath.c_str());
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    DWORD error = 0;
    if (!CreateTarFile(source.c_str(), tarPath.c_str(), &error)) {
      fwprintf(stderr, L"CreateTarFile failed\n");
      return 1;
    }
    ::QueryPerformanceCounter(&end);
    bestWriter = std::min(bestWriter, bench::Seconds(start, end));

    ::DeleteFileW(copyPath.c_str());
    ::QueryPerformanceCounter(&start);
    copied = bench::PlainCopy(files, copyPath);
    ::QueryPerformanceCounter(&end);
    if (copied < 0) {
      fwprintf(stderr, L"plain copy failed\n");
      return 1;
    }
    bestCopy = std::min(bestCopy, bench::Seconds(start, end));
  }
  ::DeleteFileW(copyPath.c_str());
  printf("files=%zu\nbytes=%lld\nwriter_seconds=%.4f\ncopy_seconds=%.4f\n", files.size(), copied, bestWriter,
         bestCopy);
  return 0;
}
