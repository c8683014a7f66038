#pragma once
// A prompt for tests: records every text and style shown and answers from a script.

#include <windows.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "framework/prompt.h"

namespace testsupport {

class ScriptedPrompt final : public fw::IUserPrompt {
 public:
  struct Shown {
    std::wstring text;
    UINT style;
  };

  // Answers in order; once they run out every question gets `otherwise`.
  explicit ScriptedPrompt(std::deque<int> answers = {}, int otherwise = IDOK)
      : answers_(std::move(answers)), otherwise_(otherwise) {}

  int Show(const wchar_t* text, UINT style) override {
    shown.push_back({text != nullptr ? text : L"", style});
    if (answers_.empty()) {
      return otherwise_;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  std::vector<Shown> shown;

 private:
  std::deque<int> answers_;
  int otherwise_;
};

}  // namespace testsupport
