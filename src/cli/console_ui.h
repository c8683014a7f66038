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

  void Show(const BuildMessage& message) override;
  bool Ask(BuildQuestion question) override;
  PasswordAnswer AskPassword(passwordfile::Password& password) override;

  bool unanswered() const { return unanswered_; }

 private:
  bool yes_;
  const passwordfile::Password& password_;
  bool unanswered_ = false;
};

}  // namespace cli
