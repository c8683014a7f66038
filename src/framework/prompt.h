#pragma once
// The seam through which every message box and Yes/No question goes. The dialogs supply the
// real message boxes; tests supply scripted answers and read back what was shown.

#include <windows.h>

namespace fw {

class IUserPrompt {
 public:
  virtual ~IUserPrompt() = default;
  // Shows a text with a MessageBox style (MB_ICONERROR, MB_YESNO | MB_ICONQUESTION, ...) and
  // returns the button chosen (IDOK, IDYES, IDNO, ...).
  virtual int Show(const wchar_t* text, UINT style) = 0;
};

// Real message boxes owned by a window, with the application title as caption.
class MessageBoxPrompt final : public IUserPrompt {
 public:
  MessageBoxPrompt(HWND owner, const wchar_t* caption) : owner_(owner), caption_(caption) {}
  int Show(const wchar_t* text, UINT style) override { return ::MessageBoxW(owner_, text, caption_, style); }

 private:
  HWND owner_;  // not owned
  const wchar_t* caption_;
};

}  // namespace fw
