#pragma once
// What a build shows or asks while it runs: messages by their text ID and arguments, questions
// by what they ask, and the password dialog. The main dialog supplies the real windows; the
// console writes and answers them; tests a script.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "password/password_file.h"
#include "uitext/ui_text.h"

// How the password dialog ended.
enum class PasswordAnswer {
  kSet,        // OK: the password was handed back
  kCancelled,  // the administrator chose to go on without a password
  kNotShown,   // the dialog could not be shown: the build must stop, not go on unprotected
};

// The Yes/No questions a build asks.
enum class BuildQuestion {
  kTakesSomeTime,       // an antivirus EXE build will take some time: go on?
  kRebuildTar,          // the Mac or Linux TAR exists already: build it again?
  kProtectWithPassword  // protect the setup with a password?
};

// The stages of a build, each reported when it starts and when it ends.
enum class BuildStage {
  kGatherPayload,  // the payload files copied or moved into the working folder
  kWriteRecord,    // the server-info record written
  kCompress,       // 7-Zip archives the working folder
  kPack,           // the server's packer makes the setup
  kBuildMsi,       // the payload inserted into the MSI database
  kWriteTar,       // the TAR written and read back
  kSign,           // the installer signed at its temporary name in the destination folder
  kCommit,         // the result put in its place
};

// One message as the build means it: a text of the table with the arguments of its conversions
// (118: the archive's name and folder, which replace its tokens), or a text of the program's own
// that has no ID (such as the Windows Installer's formatted error), with the message box style.
struct BuildMessage {
  const UiText* text = nullptr;  // null: `own` is shown as it stands
  std::vector<std::wstring> arguments;
  std::wstring own;
  UINT style = MB_OK | MB_ICONERROR;

  // The text's ID; uitext::kOwnText for a text of the program's own.
  UINT id() const { return text != nullptr ? text->id : uitext::kOwnText; }
  // The text a message box shows: fetched and formatted.
  std::wstring Format() const;
};

// The text of a question, with the question icon and Yes and No buttons.
BuildMessage QuestionMessage(BuildQuestion question);

class IBuildUi {
 public:
  virtual ~IBuildUi() = default;
  // Shows one message (errors with the error icon, successes with the information icon).
  virtual void Show(const BuildMessage& message) = 0;
  // Asks one question; true for Yes.
  virtual bool Ask(BuildQuestion question) = 0;
  // Shows the password dialog, modal to the main window; on kSet `password` holds the password,
  // otherwise it is empty. The password stays in memory: nothing is written.
  virtual PasswordAnswer AskPassword(passwordfile::Password& password) = 0;
  // Gives the main window the focus and paints it at once, before long synchronous work.
  virtual void PaintNow() {}
  // A stage started (`started`) or ended, whether or not it succeeded.
  virtual void Stage(BuildStage /*stage*/, bool /*started*/) {}
  // Whether the caller follows the running stage's progress (the console does, the dialog does
  // not). Then the build reads what 7-Zip and the packer write through a pipe instead of letting
  // it reach the console, asks 7-Zip for its percentage, and calls Progress.
  virtual bool FollowsProgress() const { return false; }
  // How far the running stage has got: `done` of `total` (percent while compressing, bytes of
  // content while writing a TAR).
  virtual void Progress(BuildStage /*stage*/, uint64_t /*done*/, uint64_t /*total*/) {}
  // A program the stage runs (7-Zip or the packer) could not be started or ended with an error
  // exit code; `detail` says which, with its last line of output, as in "the packer ended with
  // exit code 5: pack: ...". Called only when the caller follows progress, before the build's
  // own message.
  virtual void ChildFailed(BuildStage /*stage*/, const std::wstring& /*detail*/) {}
};

// Reports a stage's start when made and its end when it goes.
class StageScope {
 public:
  StageScope(IBuildUi& ui, BuildStage stage) : ui_(ui), stage_(stage) { ui_.Stage(stage_, true); }
  ~StageScope() { ui_.Stage(stage_, false); }
  StageScope(const StageScope&) = delete;
  StageScope& operator=(const StageScope&) = delete;

 private:
  IBuildUi& ui_;
  BuildStage stage_;
};

// Runs `step` as `stage` and gives its result.
template <typename Step>
auto RunStage(IBuildUi& ui, BuildStage stage, Step step) {
  const StageScope scope(ui, stage);
  return step();
}

// A message of the table: error icon unless `style` says otherwise.
inline BuildMessage TableMessage(const UiText& text, std::vector<std::wstring> arguments = {},
                                 UINT style = MB_OK | MB_ICONERROR) {
  return BuildMessage{&text, std::move(arguments), {}, style};
}
// A text of the program's own, with the error icon.
inline BuildMessage OwnMessage(std::wstring text) { return BuildMessage{nullptr, {}, std::move(text)}; }

// Passes everything on to the caller's UI and keeps what ended the build: the last error shown,
// and whether a question that stops the build was answered No.
class RecordingBuildUi final : public IBuildUi {
 public:
  explicit RecordingBuildUi(IBuildUi& ui) : ui_(ui) {}

  void Show(const BuildMessage& message) override {
    if ((message.style & MB_ICONMASK) == MB_ICONERROR) {
      lastError_ = message;
    }
    ui_.Show(message);
  }
  bool Ask(BuildQuestion question) override {
    const bool yes = ui_.Ask(question);
    declined_ = declined_ || (!yes && question != BuildQuestion::kProtectWithPassword);
    return yes;
  }
  PasswordAnswer AskPassword(passwordfile::Password& password) override { return ui_.AskPassword(password); }
  void PaintNow() override { ui_.PaintNow(); }
  void Stage(BuildStage stage, bool started) override { ui_.Stage(stage, started); }
  bool FollowsProgress() const override { return ui_.FollowsProgress(); }
  void Progress(BuildStage stage, uint64_t done, uint64_t total) override {
    ui_.Progress(stage, done, total);
  }
  void ChildFailed(BuildStage stage, const std::wstring& detail) override { ui_.ChildFailed(stage, detail); }

  const BuildMessage* lastError() const { return lastError_ ? &*lastError_ : nullptr; }
  bool declined() const { return declined_; }
  // Forgets the last error, for a run that goes on to its next installer.
  void ForgetError() { lastError_.reset(); }

 private:
  IBuildUi& ui_;
  std::optional<BuildMessage> lastError_;
  bool declined_ = false;
};
