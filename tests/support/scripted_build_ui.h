#pragma once
// A build's window side for tests: messages and questions answered from a script like
// ScriptedPrompt (each shown as the dialog would show it), the password dialog replaced by a
// function that may hand back a password.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "build/build_ui.h"
#include "support/scripted_prompt.h"

namespace testsupport {

class ScriptedBuildUi final : public IBuildUi {
 public:
  explicit ScriptedBuildUi(std::deque<int> answers = {}, int otherwise = IDOK)
      : prompt_(std::move(answers), otherwise) {}

  void Show(const BuildMessage& message) override {
    ids.push_back(message.id());
    Record(message);
  }
  bool Ask(BuildQuestion question) override {
    questions.push_back(question);
    return Record(QuestionMessage(question)) == IDYES;
  }
  PasswordAnswer AskPassword(passwordfile::Password& answer) override {
    return password ? password(answer) : PasswordAnswer::kCancelled;
  }
  void Stage(BuildStage stage, bool started) override { stages.emplace_back(stage, started); }

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
  // Called with every message and question before it is answered, e.g. to inject a fault at that
  // point.
  std::function<void(const BuildMessage& message)> onShow;
  // The IDs of the messages shown and the questions asked, in order.
  std::vector<UINT> ids;
  std::vector<BuildQuestion> questions;
  // Every stage's start (true) and end (false), in order.
  std::vector<std::pair<BuildStage, bool>> stages;

 private:
  int Record(const BuildMessage& message) {
    if (onShow) {
      onShow(message);
    }
    return prompt_.Show(message.Format().c_str(), message.style);
  }

  ScriptedPrompt prompt_;
};

}  // namespace testsupport
