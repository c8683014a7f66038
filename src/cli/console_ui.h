#pragma once
// A build's window side on the console: every message goes to standard error with its ID, and
// questions are answered from what the command line said in advance. A question without an
// answer given is answered No, which stops the build before it changes anything, and is
// remembered so that the program ends with its own exit code. The build's stages are shown on
// standard error too, as StageLines says; what 7-Zip and the packer write never reaches the
// console.

#include <windows.h>

#include <string>
#include <vector>

#include "build/build_ui.h"

namespace cli {

// How the stages of a build are shown on standard error.
enum class StageLines {
  kLive,   // a console: each stage as it starts, with its percentage and elapsed time on one line
           // that is rewritten, then its duration
  kPlain,  // redirected: one plain line per stage, with its duration, once it has ended
  kNone,   // --quiet, or a run for each group, whose line per group is the progress
};

// The name a stage line gives `stage`.
const wchar_t* StageName(BuildStage stage);

// kLive when standard error is a console, kPlain otherwise.
StageLines StageLinesForStandardError();

class ConsoleUi final : public IBuildUi {
 public:
  // `yes` answers the questions about a long build and about building a TAR again; the
  // password question is answered Yes exactly when `password` holds one.
  ConsoleUi(bool yes, const passwordfile::Password& password, StageLines stages = StageLines::kNone)
      : yes_(yes), password_(password), stages_(stages) {}

  void Show(const BuildMessage& message) override;
  bool Ask(BuildQuestion question) override;
  PasswordAnswer AskPassword(passwordfile::Password& password) override;
  void Stage(BuildStage stage, bool started) override;
  bool FollowsProgress() const override { return true; }
  void Progress(BuildStage stage, uint64_t done, uint64_t total) override;
  void ChildFailed(BuildStage stage, const std::wstring& detail) override;

  bool unanswered() const { return unanswered_; }

 private:
  struct Running {
    BuildStage stage;
    ULONGLONG started;
  };
  // Ends the rewritten line, so that the next text starts on a line of its own.
  void EndLiveLine();
  // Rewrites the live line with `text`, blanking what is left of a longer earlier text.
  void DrawLiveLine(const std::wstring& text);

  bool yes_;
  const passwordfile::Password& password_;
  StageLines stages_;
  bool unanswered_ = false;
  std::vector<Running> running_;
  bool lineOpen_ = false;  // the live line has no line end yet
  size_t lineLength_ = 0;  // characters of the live line as last drawn
  unsigned shownPercent_ = 0;
  ULONGLONG shownAt_ = 0;
};

}  // namespace cli
