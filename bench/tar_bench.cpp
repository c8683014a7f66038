// tar_bench SOURCE-FOLDER OUTPUT-FOLDER [ROUNDS]: times CreateTarFile on SOURCE-FOLDER against a
// plain copy of the same files' bytes into one file (the least any archiver must do), best of
// ROUNDS (default 3) each, and prints the results as key=value lines for bench/tar_bench.sh.

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "build/tar_writer.h"
#include "framework/handles.h"
#include "log/trace_log.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

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

// Concatenates every file into `target` with 1 MiB reads and writes; returns the bytes copied
// or -1.
long long PlainCopy(const std::vector<std::wstring>& files, const std::wstring& target) {
  fw::UniqueCrtFile out;
  if (_wsopen_s(out.put(), target.c_str(), _O_BINARY | _O_CREAT | _O_EXCL | _O_WRONLY, _SH_DENYNO,
                _S_IREAD | _S_IWRITE) != 0) {
    return -1;
  }
  static char buffer[1 << 20];
  long long total = 0;
  for (const std::wstring& file : files) {
    fw::UniqueCrtFile in;
    if (_wsopen_s(in.put(), file.c_str(), _O_BINARY | _O_RDONLY, _SH_DENYNO, 0) != 0) {
      return -1;
    }
    int read;
    while ((read = _read(in.get(), buffer, sizeof(buffer))) > 0) {
      if (_write(out.get(), buffer, static_cast<unsigned>(read)) != read) {
        return -1;
      }
      total += read;
    }
  }
  return total;
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
    bestWriter = std::min(bestWriter, Seconds(start, end));

    ::DeleteFileW(copyPath.c_str());
    ::QueryPerformanceCounter(&start);
    copied = PlainCopy(files, copyPath);
    ::QueryPerformanceCounter(&end);
    if (copied < 0) {
      fwprintf(stderr, L"plain copy failed\n");
      return 1;
    }
    bestCopy = std::min(bestCopy, Seconds(start, end));
  }
  ::DeleteFileW(copyPath.c_str());
  printf("files=%zu\nbytes=%lld\nwriter_seconds=%.4f\ncopy_seconds=%.4f\n", files.size(), copied, bestWriter,
         bestCopy);
  return 0;
}
