#include "cli/console_ui.h"

#include "cli/console_text.h"

namespace cli {

void ConsoleUi::Show(const BuildMessage& message) {
  WriteErr(MessageLine(message.id(), message.Format()) + L"\n");
}

bool ConsoleUi::Ask(BuildQuestion question) {
  bool yes = false;
  bool stopped = false;
  switch (question) {
    case BuildQuestion::kProtectWithPassword:
      yes = !password_.empty();
      break;
    // The questions --yes answers, as the help names them.
    case BuildQuestion::kTakesSomeTime:
    case BuildQuestion::kRebuildTar:
      yes = yes_;
      stopped = !yes_;
      unanswered_ = unanswered_ || stopped;
      break;
  }
  const BuildMessage asked = QuestionMessage(question);
  WriteErr(MessageLine(asked.id(), asked.Format()) +
           (yes ? L" -> yes" : (stopped ? L" -> no answer given (--yes): stopped" : L" -> no")) + L"\n");
  return yes;
}

PasswordAnswer ConsoleUi::AskPassword(passwordfile::Password& password) {
  // The password was checked by the dialog's rules when it was read.
  return password.Assign(password_.c_str()) ? PasswordAnswer::kSet : PasswordAnswer::kNotShown;
}

}  // namespace cli
