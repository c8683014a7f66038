#pragma once
// A build's window side for tests: messages and questions answered from a script like
// ScriptedPrompt, the password dialog replaced by a function that may hand back a password.

#include <functional>
#include <string>
#include <vector>

#include "build/build_ui.h"
#include "support/scripted_prompt.h"

namespace testsupport {

class ScriptedBuildUi final : public IBuildUi {
 public:
  explicit ScriptedBuildUi(std::deque<int> answers = {}, int otherwise = IDOK)
      : prompt_(std::move(answers), otherwise) {}

  int Show(const wchar_t* text, UINT style) override {
    if (onShow) {
      onShow(text);
    }
    return prompt_.Show(text, style);
  }
  PasswordAnswer AskPassword(passwordfile::Password& answer) override {
    return password ? password(answer) : PasswordAnswer::kCancelled;
  }

  const std::vector<ScriptedPrompt::Shown>& shown() const { return prompt_.shown; }
  // The texts shown, in order.
  std::vector<std::wstring> texts() const {
    std::vector<std::wstring> all;
    for (const auto& s : prompt_.shown) {
      all.push_back(s.text);
    }
    return all;
  }

  // The password dialog's stand-in; none: Cancel.
  std::function<PasswordAnswer(passwordfile::Password& password)> password;
  // Called with every text before it is answered, e.g. to inject a fault at that point.
  std::function<void(const wchar_t* text)> onShow;

 private:
  ScriptedPrompt prompt_;
};

}  // namespace testsupport
