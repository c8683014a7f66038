#pragma once
// A build's window side for tests: messages and questions answered from a script like
// ScriptedPrompt, the password dialog replaced by a function that may write the password file.

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

  int Show(const wchar_t* text, UINT style) override { return prompt_.Show(text, style); }
  bool AskPassword(const wchar_t* programFolder) override {
    passwordFolders.push_back(programFolder);
    return password ? password(programFolder) : false;
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

  std::function<bool(const wchar_t* programFolder)> password;
  std::vector<std::wstring> passwordFolders;

 private:
  ScriptedPrompt prompt_;
};

}  // namespace testsupport
