#pragma once
// What a build shows or asks while it runs: message boxes and questions through the prompt
// seam, and the password dialog. The main dialog supplies the real windows; tests a script.

#include "framework/prompt.h"
#include "password/password_file.h"

// How the password dialog ended.
enum class PasswordAnswer {
  kSet,        // OK: the password was handed back
  kCancelled,  // the administrator chose to go on without a password
  kNotShown,   // the dialog could not be shown: the build must stop, not go on unprotected
};

class IBuildUi : public fw::IUserPrompt {
 public:
  // Shows the password dialog, modal to the main window; on kSet `password` holds the password,
  // otherwise it is empty. The password stays in memory: nothing is written.
  virtual PasswordAnswer AskPassword(passwordfile::Password& password) = 0;
  // Gives the main window the focus and paints it at once, before long synchronous work.
  virtual void PaintNow() {}
};
