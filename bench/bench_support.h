#pragma once
// What the benchmark programs share: an interval in seconds and the plain copy that archivers
// are measured against.

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <string>
#include <vector>

#include "handles/handles.h"

namespace bench {

inline double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Concatenates the files into `target` (created or truncated) with 1 MiB reads and writes: the
// least any archiver of the same bytes must do. Returns the bytes copied, or -1.
inline long long PlainCopy(const std::vector<std::wstring>& files, const std::wstring& target) {
  fw::UniqueCrtFile out;
  if (_wsopen_s(out.put(), target.c_str(), _O_BINARY | _O_CREAT | _O_TRUNC | _O_WRONLY, _SH_DENYNO,
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
  return _close(out.release()) == 0 ? total : -1;
}

}  // namespace bench
