#pragma once
// What a build shows or asks while it runs: message boxes and questions through the prompt
// seam, and the password dialog. The main dialog supplies the real windows; tests a script.

#include "framework/prompt.h"

class IBuildUi : public fw::IUserPrompt {
 public:
  // Shows the password dialog, modal to the main window. True when it ended with OK, after
  // which the password file lies in `programFolder` (ending with a backslash).
  virtual bool AskPassword(const wchar_t* programFolder) = 0;
  // Gives the main window the focus and paints it at once, before long synchronous work.
  virtual void PaintNow() {}
};
