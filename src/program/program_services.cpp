#include "program/program_services.h"

#include <strsafe.h>

#include <climits>
#include <cwchar>

#include "contracts/verkit.h"
#include "log/trace_log.h"
#include "program/program_folder.h"
#include "uitext/ui_text.h"

namespace {
ProgramServices* g_current = nullptr;
constexpr wchar_t kTag[] = L"InitInstance";
constexpr wchar_t kAppTag[] = L"CtmrovaneApp::InitInstance";
}  // namespace

int TextToInt(const wchar_t* text) {
  if (text == nullptr) {
    return 0;
  }
  wchar_t* end = nullptr;
  const long value = wcstol(text, &end, 10);
  if (value > INT_MAX) {
    return INT_MAX;
  }
  if (value < INT_MIN) {
    return INT_MIN;
  }
  return static_cast<int>(value);
}

controls::FontSetting DialogFontSetting() {
  const ProgramServices* program = ProgramServices::Current();
  if (program == nullptr || program->fontFace()[0] == L'\0') {
    return controls::kDefaultFontSetting;
  }
  return {program->fontFace(), program->fontSize(), program->fontWidth()};
}

ProgramServices::ProgramServices(HINSTANCE instance, const wchar_t* programFolder)
    : instance_(instance), programFolderOverride_(programFolder) {
  g_current = this;
}

ProgramServices::~ProgramServices() {
  if (g_current == this) {
    g_current = nullptr;
  }
  if (tracelog::GetSettings().filePath == logFilePath_) {
    tracelog::GetSettings().filePath = nullptr;
  }
  SetUiTextLibrary(nullptr);
}

ProgramServices* ProgramServices::Current() { return g_current; }

bool RestrictLibrarySearch() { return ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != FALSE; }

void ProgramServices::InitTraceLog() {
  if (programFolderOverride_ == nullptr ||
      FAILED(StringCchCopyW(programFolder_, MAX_PATH, programFolderOverride_))) {
    GetProgramFolder(programFolder_);
  }
  logFilePath_[0] = L'\0';
  if (SUCCEEDED(StringCchCopyW(logFilePath_, MAX_PATH, programFolder_)) &&
      SUCCEEDED(StringCchCatW(logFilePath_, MAX_PATH, kLogFileName))) {
    tracelog::GetSettings().filePath = logFilePath_;
  }
}

ProgramServices::InstanceLock ProgramServices::AcquireSingleInstance(const wchar_t* baseName) {
  wchar_t mutexName[kVerkitNameCapacity] = {};
  if (GetMutexNameByVersion(baseName, mutexName, kVerkitNameCapacity) == 0 ||
      mutexName[kVerkitNameCapacity - 1] != L'\0' || mutexName[0] == L'\0') {
    TraceLog(tracelog::kLevelProgress, kTag, L"GetMutexNameByVersion failed");
    StringCchCopyW(mutexName, kVerkitNameCapacity, baseName);
  }
  // All builds share one working folder under the server installation, so a copy in any
  // session counts: the name is also held in the Global namespace. A create that finds the name
  // already there lost a race with another copy starting at the same moment. A name that may not
  // be opened ("access denied") may be another account's copy, or a squat by anyone who wants
  // the tool silenced: that is said, not taken for a copy. Any other failure (the name taken by
  // an object of another kind, no resources) means the lock could not be made: no copy is known
  // to run, and the caller reports the failure with its error code.
  wchar_t globalName[kVerkitNameCapacity + 8] = L"Global\\";
  const bool globalFits = SUCCEEDED(StringCchCatW(globalName, ARRAYSIZE(globalName), mutexName));
  auto take = [this](fw::UniqueKernelHandle& handle, const wchar_t* name) {
    handle.reset(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name));
    if (handle) {
      return InstanceLock::kOtherCopy;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
      return InstanceLock::kDenied;
    }
    handle.reset(::CreateMutexW(nullptr, FALSE, name));
    error = ::GetLastError();
    if (!handle) {
      if (error == ERROR_ACCESS_DENIED) {
        return InstanceLock::kDenied;
      }
      lockError_ = error;
      TraceLog(tracelog::kLevelError, kTag, L"CreateMutexW %s failed (Err -> %lu)", name, error);
      return InstanceLock::kFailed;
    }
    return error == ERROR_ALREADY_EXISTS ? InstanceLock::kOtherCopy : InstanceLock::kAcquired;
  };
  lockError_ = 0;
  InstanceLock lock = take(mutex_, mutexName);
  if (lock == InstanceLock::kAcquired && globalFits) {
    lock = take(globalMutex_, globalName);
  }
  switch (lock) {
    case InstanceLock::kAcquired:
      TraceLog(tracelog::kLevelProgress, kTag, L"first instance");
      break;
    case InstanceLock::kOtherCopy:
      TraceLog(tracelog::kLevelProgress, kTag, L"second instance. so exiting...");
      break;
    case InstanceLock::kDenied:
      TraceLog(tracelog::kLevelError, kTag, L"the single-instance lock may not be opened (access denied)");
      break;
    case InstanceLock::kFailed:
      TraceLog(tracelog::kLevelError, kTag, L"the single-instance lock could not be created");
      break;
  }
  // Whoever holds the lock may be a copy that is running: its log stays.
  secondInstance_ = lock != InstanceLock::kAcquired;
  return lock;
}

void ProgramServices::LoadStringLibraryAndTexts() {
  wchar_t libraryPath[MAX_PATH];
  if (SUCCEEDED(StringCchCopyW(libraryPath, MAX_PATH, programFolder_)) &&
      SUCCEEDED(StringCchCatW(libraryPath, MAX_PATH, kStringLibraryName))) {
    TraceLog(tracelog::kLevelProgress, kAppTag, L"Library Path: %s", libraryPath);
    stringLibrary_.reset(::LoadLibraryW(libraryPath));
  }
  if (!stringLibrary_) {
    TraceLog(tracelog::kLevelError, kAppTag, L"Load Resource dll failed");
  }
  SetUiTextLibrary(stringLibrary_.get());

  LoadUiText(uitext::kFontFace, fontFace_);
  wchar_t number[MAX_PATH];
  LoadUiText(uitext::kFontSize, number);
  fontSize_ = TextToInt(number);
  LoadUiText(uitext::kFontWidth, number);
  fontWidth_ = TextToInt(number);

  LoadAppTitle(title_, kTitleCapacity, MAX_PATH);
}

int ProgramServices::ExitInstance() {
  stringLibrary_.reset();
  SetUiTextLibrary(nullptr);
  globalMutex_.reset();
  mutex_.reset();
  // A second instance leaves the log alone: it belongs to the copy that is still running.
  if (!secondInstance_ && logFilePath_[0] != L'\0') {
    ::DeleteFileW(logFilePath_);
  }
  return 0;
}
