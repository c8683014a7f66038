#pragma once
// A scripted fw::IUserPrompt: records every text and style shown and answers from a queue
// (IDOK once the queue is empty).

#include <deque>
#include <string>
#include <vector>

#include "framework/prompt.h"

namespace testsupport {

class ScriptedPrompt final : public fw::IUserPrompt {
 public:
  struct Shown {
    std::wstring text;
    UINT style;
  };

  void Answer(int button) { answers_.push_back(button); }
  const std::vector<Shown>& shown() const { return shown_; }

  int Show(const wchar_t* text, UINT style) override {
    shown_.push_back({text != nullptr ? text : L"", style});
    if (answers_.empty()) {
      return IDOK;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

 private:
  std::deque<int> answers_;
  std::vector<Shown> shown_;
};

}  // namespace testsupport
