#pragma once
// The server's group library (grpstore.dll), found through the console service's App Paths
// entry and loaded for one use at a time, and the conversion of its GUID texts.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "contracts/grpstore.h"
#include "handles/handles.h"

namespace groups {

inline constexpr wchar_t kLibraryName[] = L"grpstore.dll";
// A group GUID as the program keeps it: at most 39 characters and the terminator.
inline constexpr size_t kGuidCapacity = 40;

enum class LoadResult {
  kLoaded,
  kKeyNotOpened,  // the App Paths key is missing or cannot be opened
  kPathNotRead,   // its "Path" value is missing or does not fit
  kLoadFailed,    // the library path is too long or the library does not load
};

// Locates the library through the registry and loads it into `library`. Every step writes its
// trace line under `tag`; a failing load is traced at `loadFailureLevel`.
LoadResult LoadGroupLibrary(fw::UniqueModule& library, const wchar_t* tag, DWORD loadFailureLevel);

// Copies the record's GUID text into `guid` when it ends within the first kGuidCapacity bytes
// of its field; otherwise `guid` is zeroed and the result is false. Whatever the library left
// after the terminator is not read.
bool CopyGroupGuid(const GroupRecord& record, char (&guid)[kGuidCapacity]);

// Converts UTF-8 text into the zero-filled wide buffer; false (buffer all zeros) when the
// buffer is absent or the text does not fit.
bool ConvertUTF8ToWideChar(const char* text, wchar_t* buffer, int capacity);

// Converts narrow text in the system's ANSI code page into the wide buffer, measuring first:
// false, with nothing written, when the text with its terminator does not fit or when the text
// or the buffer is absent.
bool ConvertToWideChar(const char* text, wchar_t* buffer, int capacity);

enum class DefaultGroupResult {
  kLoaded,
  kNoRegistration,  // the App Paths key is missing: nothing loaded, the caller may go on
  kFailed,          // any other failure: the caller cannot go on
};

// True when `guid` is exactly "{8-4-4-4-12}" hexadecimal digits, the only form a group's GUID
// may take on its way into a settings file: anything else (a line break above all) could add
// keys there.
bool IsGroupGuid(const wchar_t* guid);

// The GUID of the default group (ID 1) into `guid` (capacity in characters). Trace lines are
// written under `tag`; the library is unloaded on every path.
DefaultGroupResult ReadDefaultGroupGuid(wchar_t* guid, int capacity, const wchar_t* tag);

// Hands the library's group array back when it goes, before the library is unloaded: the
// library allocated it, so only the library's own call may free it.
class GroupArray {
 public:
  explicit GroupArray(FreeGroupArrayFn release) : release_(release) {}
  GroupArray(const GroupArray&) = delete;
  GroupArray& operator=(const GroupArray&) = delete;
  ~GroupArray() {
    if (delivered_) {
      release_(&records_);
    }
  }
  GroupRecord** put() { return &records_; }
  void SetDelivered() { delivered_ = true; }
  std::span<const GroupRecord> Records(uint32_t count) const {
    return records_ != nullptr ? std::span<const GroupRecord>(records_, count)
                               : std::span<const GroupRecord>();
  }

 private:
  FreeGroupArrayFn release_;
  GroupRecord* records_ = nullptr;
  bool delivered_ = false;
};

}  // namespace groups
