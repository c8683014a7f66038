#include "cli/console_ui.h"

#include "cli/console_text.h"

namespace cli {
namespace {

// "12.3 s"
std::wstring Seconds(ULONGLONG milliseconds) {
  return std::to_wstring(milliseconds / 1000) + L"." + std::to_wstring(milliseconds % 1000 / 100) + L" s";
}

// "1:05", minutes and seconds
std::wstring Clock(ULONGLONG milliseconds) {
  const ULONGLONG seconds = milliseconds / 1000 % 60;
  return std::to_wstring(milliseconds / 60000) + (seconds < 10 ? L":0" : L":") + std::to_wstring(seconds);
}

}  // namespace

const wchar_t* StageName(BuildStage stage) {
  switch (stage) {
    case BuildStage::kGatherPayload:
      return L"Gathering the payload";
    case BuildStage::kWriteRecord:
      return L"Writing the server-info record";
    case BuildStage::kCompress:
      return L"Compressing";
    case BuildStage::kPack:
      return L"Packing the setup";
    case BuildStage::kBuildMsi:
      return L"Building the MSI package";
    case BuildStage::kWriteTar:
      return L"Writing the TAR";
    case BuildStage::kSign:
      return L"Signing";
    case BuildStage::kCommit:
      return L"Putting the installer in place";
  }
  return L"?";
}

StageLines StageLinesForStandardError() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) ? StageLines::kLive : StageLines::kPlain;
}

void ConsoleUi::EndLiveLine() {
  if (lineOpen_) {
    WriteErr(L"\n");
    lineOpen_ = false;
  }
}

void ConsoleUi::DrawLiveLine(const std::wstring& text) {
  std::wstring line = L"\r" + text;
  if (lineOpen_ && text.size() < lineLength_) {
    line.append(lineLength_ - text.size(), L' ');
  }
  WriteErr(line);
  lineOpen_ = true;
  lineLength_ = text.size();
}

void ConsoleUi::Stage(BuildStage stage, bool started) {
  if (stages_ == StageLines::kNone) {
    return;
  }
  const ULONGLONG now = ::GetTickCount64();
  if (started) {
    running_.push_back({stage, now});
    if (stages_ == StageLines::kLive) {
      EndLiveLine();
      DrawLiveLine(std::wstring(StageName(stage)) + L"...");
      shownPercent_ = 0;
      shownAt_ = now;
    }
    return;
  }
  if (running_.empty() || running_.back().stage != stage) {
    return;
  }
  const std::wstring line = std::wstring(StageName(stage)) + L": " + Seconds(now - running_.back().started);
  running_.pop_back();
  // The live line is this stage's unless a stage inside it ended it.
  if (stages_ == StageLines::kLive && lineOpen_) {
    DrawLiveLine(line);
    EndLiveLine();
  } else {
    WriteErr(line + L"\n");
  }
}

void ConsoleUi::Progress(BuildStage stage, uint64_t done, uint64_t total) {
  if (stages_ != StageLines::kLive || !lineOpen_ || running_.empty() || running_.back().stage != stage ||
      total == 0) {
    return;
  }
  const unsigned percent = static_cast<unsigned>(done >= total ? 100 : done * 100 / total);
  const ULONGLONG now = ::GetTickCount64();
  // A new percentage, or the clock's next second.
  if (percent == shownPercent_ && now - shownAt_ < 1000) {
    return;
  }
  shownPercent_ = percent;
  shownAt_ = now;
  DrawLiveLine(std::wstring(StageName(stage)) + L"... " + std::to_wstring(percent) + L"%  " +
               Clock(now - running_.back().started));
}

// Shown whatever the stage lines: it explains the error message that follows.
void ConsoleUi::ChildFailed(BuildStage stage, const std::wstring& detail) {
  EndLiveLine();
  WriteErr(std::wstring(StageName(stage)) + L" failed: " + detail + L"\n");
}

void ConsoleUi::Show(const BuildMessage& message) {
  EndLiveLine();
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
  EndLiveLine();
  WriteErr(MessageLine(asked.id(), asked.Format()) +
           (yes ? L" -> yes" : (stopped ? L" -> no answer given (--yes): stopped" : L" -> no")) + L"\n");
  return yes;
}

PasswordAnswer ConsoleUi::AskPassword(passwordfile::Password& password) {
  // The password was checked by the dialog's rules when it was read.
  return password.Assign(password_.c_str()) ? PasswordAnswer::kSet : PasswordAnswer::kNotShown;
}

}  // namespace cli
