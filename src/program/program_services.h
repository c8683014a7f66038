#pragma once
// What both programs, the dialog and the console companion, start with: the program folder, the
// trace log beside it, the single-instance lock, and the string library with the application
// title and dialog font it names. No window: the dialog program adds its main dialog on top.

#include <windows.h>

#include "controls/dialog_font.h"
#include "handles/handles.h"

class ProgramServices {
 public:
  static constexpr wchar_t kMutexBaseName[] = L"ADMIN_CLIENT_PACKER";
  static constexpr wchar_t kLogFileName[] = L"tmrovane.log";
  static constexpr wchar_t kStringLibraryName[] = L"uistr.dll";
  static constexpr size_t kTitleCapacity = MAX_PATH;
  static constexpr size_t kFontFaceCapacity = 32;

  // `programFolder` (ending with a backslash) replaces the module's own folder when given.
  explicit ProgramServices(HINSTANCE instance, const wchar_t* programFolder = nullptr);
  ProgramServices(const ProgramServices&) = delete;
  ProgramServices& operator=(const ProgramServices&) = delete;
  ~ProgramServices();

  // The object created by the program's entry point (or a test), while it lives.
  static ProgramServices* Current();

  // End: frees the library, closes the lock and deletes the trace log, which stays when the lock
  // was found to be another's; returns the exit code.
  int ExitInstance();

  // Start-up steps, each called by the program that needs it, in this order.
  void InitTraceLog();
  // What the single-instance lock found.
  enum class InstanceLock {
    kAcquired,   // this is the only copy
    kOtherCopy,  // another copy holds it: this one ends without a word
    kDenied,     // a name of the lock exists but may not be opened: its holder is unknown
    kFailed,     // the lock could not be made (lockError() says why): no copy is known to run
  };
  // `baseName` is the lock's name before the version library adds the product version.
  InstanceLock AcquireSingleInstance(const wchar_t* baseName = kMutexBaseName);
  void LoadStringLibraryAndTexts();

  HINSTANCE instance() const { return instance_; }
  HMODULE stringLibrary() const { return stringLibrary_.get(); }
  const wchar_t* programFolder() const { return programFolder_; }
  const wchar_t* logFilePath() const { return logFilePath_; }
  const wchar_t* title() const { return title_; }
  const wchar_t* fontFace() const { return fontFace_; }
  int fontSize() const { return fontSize_; }
  int fontWidth() const { return fontWidth_; }
  // The system's error code when the lock was kFailed; 0 otherwise.
  DWORD lockError() const { return lockError_; }

 private:
  HINSTANCE instance_;  // the program module: not owned
  const wchar_t* programFolderOverride_;
  fw::UniqueModule stringLibrary_;
  fw::UniqueKernelHandle mutex_;
  fw::UniqueKernelHandle globalMutex_;
  bool secondInstance_ = false;
  DWORD lockError_ = 0;
  wchar_t programFolder_[MAX_PATH] = {};
  wchar_t logFilePath_[MAX_PATH] = {};
  wchar_t fontFace_[kFontFaceCapacity] = {};
  int fontSize_ = 0;
  int fontWidth_ = 0;
  wchar_t title_[kTitleCapacity] = {};
};

// Limits where libraries loaded by name are looked for to the program's folder, the system
// folder and folders added on purpose: never the current folder or PATH, which other accounts
// may be able to write to. The program's own libraries are loaded by full path anyway.
bool RestrictLibrarySearch();

// The dialog font setting of the current program; the default setting when there is none or its
// face name is empty (before its texts are loaded).
controls::FontSetting DialogFontSetting();

// Base-10 conversion of the leading digits (after optional blanks and sign); 0 without digits.
int TextToInt(const wchar_t* text);
