#pragma once
// A build's window side on the console: every message goes to standard error with its ID, and
// questions are answered from what the command line said in advance. A question without an
// answer given is answered No, which stops the build before it changes anything, and is
// remembered so that the program ends with its own exit code.

#include <string>

#include "build/build_ui.h"

namespace cli {

class ConsoleUi final : public IBuildUi {
 public:
  // `yes` answers the questions about a long build and about building a TAR again; the
  // password question is answered Yes exactly when `password` holds one.
  ConsoleUi(bool yes, const passwordfile::Password& password) : yes_(yes), password_(password) {}

  int Show(const wchar_t* text, UINT style) override;
  PasswordAnswer AskPassword(passwordfile::Password& password) override;

  bool unanswered() const { return unanswered_; }
  // The ID of the last error message shown (uitext::kOwnText for none or a text of our own).
  UINT lastErrorId() const { return lastErrorId_; }
  bool errorShown() const { return errorShown_; }

 private:
  bool yes_;
  const passwordfile::Password& password_;
  bool unanswered_ = false;
  bool errorShown_ = false;
  UINT lastErrorId_ = 0;
};

}  // namespace cli
