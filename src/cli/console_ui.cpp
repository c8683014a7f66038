#include "cli/console_ui.h"

#include <cwchar>

#include "cli/console_text.h"
#include "uitext/ui_text.h"

namespace cli {

int ConsoleUi::Show(const wchar_t* text, UINT style) {
  std::wstring line = MessageLine(text);
  if ((style & MB_YESNO) == 0) {
    if ((style & MB_ICONMASK) == MB_ICONERROR) {
      errorShown_ = true;
      lastErrorId_ = FindTextId(text);
    }
    WriteErr(line + L"\n");
    return IDOK;
  }
  wchar_t passwordQuestion[1024];
  LoadUiText(uitext::kAskPasswordProtect, passwordQuestion);
  int answer = IDNO;
  bool stopped = false;
  if (wcscmp(text, passwordQuestion) == 0) {
    answer = password_.empty() ? IDNO : IDYES;
  } else if (yes_) {
    answer = IDYES;
  } else {
    stopped = true;
    unanswered_ = true;
  }
  line += answer == IDYES ? L" -> yes" : (stopped ? L" -> no answer given (--yes): stopped" : L" -> no");
  WriteErr(line + L"\n");
  return answer;
}

PasswordAnswer ConsoleUi::AskPassword(passwordfile::Password& password) {
  // The password was checked by the dialog's rules when it was read.
  return password.Assign(password_.c_str()) ? PasswordAnswer::kSet : PasswordAnswer::kNotShown;
}

}  // namespace cli
