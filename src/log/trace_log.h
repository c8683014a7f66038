#pragma once
// Trace log: the program's one diagnostic channel. Each line is appended to a wide-character
// file that is opened and closed per line, under one process-wide lock. Nothing here ever
// reports failure to its caller; a line that cannot be written is dropped.

#include <windows.h>

#include <cstdarg>

namespace tracelog {

inline constexpr DWORD kLevelError = 1;     // errors and milestones
inline constexpr DWORD kLevelProgress = 2;  // progress and information
inline constexpr size_t kMessageCapacity = 2048;

// Process-wide settings. The file path is set once at start-up; the pointed-to text must stay
// valid for the rest of the run. A null path or process name selects the module-name fallbacks.
struct Settings {
  bool enabled = true;
  DWORD levelMask = kLevelError | kLevelProgress;
  const wchar_t* filePath = nullptr;
  const wchar_t* processName = L"tmrovane.exe";
};

Settings& GetSettings();

}  // namespace tracelog

// Formats the message (printf-style, bounded to 2047 characters) and writes one line when the
// level shares a bit with the mask.
void TraceLog(DWORD level, const wchar_t* tag, const wchar_t* format, ...);
void TraceLogV(DWORD level, const wchar_t* tag, const wchar_t* format, va_list args);

// Writes one finished line: time stamp, thread, process name, tag, a space, the text, CRLF.
void WriteTraceLine(const wchar_t* tag, const wchar_t* text);
