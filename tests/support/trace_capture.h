#pragma once
// Points the trace log at a temporary file for the lifetime of the object and reads it back.

#include <string>

#include "log/trace_log.h"
#include "support/temp_dir.h"

namespace testsupport {

class TraceCapture {
 public:
  TraceCapture() : saved_(tracelog::GetSettings()), path_(dir_ / L"trace.log") {
    tracelog::GetSettings().filePath = path_.c_str();
    tracelog::GetSettings().enabled = true;
    tracelog::GetSettings().levelMask = tracelog::kLevelError | tracelog::kLevelProgress;
  }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;
  ~TraceCapture() { tracelog::GetSettings() = saved_; }

  std::wstring Text() const { return ReadUtf16(path_); }
  bool Contains(const std::wstring& fragment) const { return Text().find(fragment) != std::wstring::npos; }
  void Clear() const { ::DeleteFileW(path_.c_str()); }

 private:
  tracelog::Settings saved_;
  TempDir dir_;
  std::wstring path_;
};

}  // namespace testsupport
