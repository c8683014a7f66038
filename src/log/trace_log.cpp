#include "log/trace_log.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <strsafe.h>
#include <sys/stat.h>

#include <ctime>
#include <cwchar>
#include <initializer_list>

#include "handles/handles.h"

namespace tracelog {

Settings& GetSettings() {
  static Settings settings;
  return settings;
}

}  // namespace tracelog

namespace {

constexpr size_t kPathCapacity = MAX_PATH;
constexpr wchar_t kFallbackLogName[] = L"heslog.log";
constexpr wchar_t kUnknownProcess[] = L"UNKNOWN";

CRITICAL_SECTION g_lock;
bool g_lockReady = false;

// The configured path, or the module's own name with its three-letter extension replaced by
// "log", or a bare "heslog.log" in the current directory.
void ResolveLogFileName(wchar_t (&name)[kPathCapacity]) {
  const wchar_t* configured = tracelog::GetSettings().filePath;
  if (configured != nullptr) {
    if (FAILED(StringCchCopyW(name, kPathCapacity, configured))) {
      StringCchCopyW(name, kPathCapacity, kFallbackLogName);
    }
    return;
  }
  const DWORD length = GetModuleFileNameW(nullptr, name, kPathCapacity);
  if (length == 0 || length >= kPathCapacity || length <= 4 || name[length - 4] != L'.') {
    StringCchCopyW(name, kPathCapacity, kFallbackLogName);
    return;
  }
  name[length - 4] = L'\0';
  if (FAILED(StringCchCatW(name, kPathCapacity, L".log"))) {
    StringCchCopyW(name, kPathCapacity, kFallbackLogName);
  }
}

void ResolveProcessName(wchar_t (&name)[kPathCapacity]) {
  const wchar_t* configured = tracelog::GetSettings().processName;
  if (configured != nullptr) {
    if (FAILED(StringCchCopyW(name, kPathCapacity, configured))) {
      StringCchCopyW(name, kPathCapacity, kUnknownProcess);
    }
    return;
  }
  wchar_t module[kPathCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, module, kPathCapacity);
  const wchar_t* slash = (length == 0 || length >= kPathCapacity) ? nullptr : wcsrchr(module, L'\\');
  StringCchCopyW(name, kPathCapacity, slash != nullptr ? slash + 1 : kUnknownProcess);
}

// Writes a wide text; false when fewer bytes than the text holds were written.
bool WritePiece(int fd, const wchar_t* text) {
  const size_t bytes = wcslen(text) * sizeof(wchar_t);
  if (bytes == 0) {
    return true;
  }
  return _write(fd, text, static_cast<unsigned>(bytes)) == static_cast<int>(bytes);
}

void FormatTimeStamp(wchar_t (&stamp)[32]) {
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_s(&local, &now) != 0 || wcsftime(stamp, 32, L"%d-%m-%Y %H:%M:%S", &local) == 0) {
    // The empty text formatted into a 17-wide zero-padded field.
    StringCchCopyW(stamp, 32, L"00000000000000000");
  }
}

// Opens or creates the file for appending; closes it again however the line ends.
class LogFile {
 public:
  explicit LogFile(const wchar_t* name) {
    const DWORD attributes = GetFileAttributesW(name);
    const int flags = _O_BINARY | _O_RDWR | (attributes == INVALID_FILE_ATTRIBUTES ? _O_CREAT : _O_APPEND);
    _wsopen_s(fd_.put(), name, flags, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  }
  int fd() const { return fd_.get(); }

 private:
  fw::UniqueCrtFile fd_;
};

class LockGuard {
 public:
  LockGuard() {
    if (!g_lockReady) {
      InitializeCriticalSection(&g_lock);
      g_lockReady = true;
    }
    EnterCriticalSection(&g_lock);
  }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
  ~LockGuard() { LeaveCriticalSection(&g_lock); }
};

}  // namespace

void WriteTraceLine(const wchar_t* tag, const wchar_t* text) {
  wchar_t fileName[kPathCapacity];
  ResolveLogFileName(fileName);
  wchar_t processName[kPathCapacity];
  ResolveProcessName(processName);

  LockGuard lock;
  LogFile file(fileName);
  if (file.fd() == -1) {
    return;
  }
  _lseeki64(file.fd(), 0, SEEK_END);

  wchar_t stamp[32];
  FormatTimeStamp(stamp);
  if (!WritePiece(file.fd(), stamp)) {
    return;
  }
  wchar_t threadAndName[kPathCapacity];
  if (FAILED(StringCchPrintfW(threadAndName, kPathCapacity, L" %08X %12s ", GetCurrentThreadId(),
                              processName))) {
    return;
  }
  for (const wchar_t* piece : {static_cast<const wchar_t*>(threadAndName), tag, L" ", text, L"\r\n"}) {
    if (!WritePiece(file.fd(), piece)) {
      return;
    }
  }
}

void TraceLogV(DWORD level, const wchar_t* tag, const wchar_t* format, va_list args) {
  if (tag == nullptr || format == nullptr) {
    return;
  }
  const tracelog::Settings& settings = tracelog::GetSettings();
  if (!settings.enabled || (level & settings.levelMask) == 0) {
    return;
  }
  wchar_t message[tracelog::kMessageCapacity];
  const HRESULT hr = StringCchVPrintfW(message, tracelog::kMessageCapacity, format, args);
  if (SUCCEEDED(hr)) {
    WriteTraceLine(tag, message);
  } else if (hr == STRSAFE_E_INSUFFICIENT_BUFFER) {
    WriteTraceLine(tag, L"LOG ERROR: Insufficient buffer.");
  } else {
    WriteTraceLine(tag, L"LOG ERROR");
  }
}

void TraceLog(DWORD level, const wchar_t* tag, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  TraceLogV(level, tag, format, args);
  va_end(args);
}
