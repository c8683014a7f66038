#pragma once
// What a build shows or asks while it runs: message boxes and questions through the prompt
// seam, and the password dialog. The main dialog supplies the real windows; tests a script.

#include "framework/prompt.h"

// How the password dialog ended.
enum class PasswordAnswer {
  kSet,        // OK: the password file lies in the program folder
  kCancelled,  // the administrator chose to go on without a password
  kNotShown,   // the dialog could not be shown: the build must stop, not go on unprotected
};

class IBuildUi : public fw::IUserPrompt {
 public:
  // Shows the password dialog, modal to the main window; on kSet the password file lies in
  // `programFolder` (ending with a backslash).
  virtual PasswordAnswer AskPassword(const wchar_t* programFolder) = 0;
  // Gives the main window the focus and paints it at once, before long synchronous work.
  virtual void PaintNow() {}
};
