#include "build/archive_pack.h"

#include <direct.h>
#include <windows.h>

#include <string>

#include "build/archive_pack_resource.h"
#include "build/file_utils.h"
#include "handles/handles.h"
#include "log/trace_log.h"
#include "password/password_file.h"
#include "uitext/ui_text.h"

// The files of one run of the step.
struct StepFiles {
  explicit StepFiles(const ArchivePackInputs& inputs)
      : passwordFile(inputs.programFolder + passwordfile::kName),
        sevenZipFolder(inputs.programFolder + L"clPacker"),
        sevenZipDll(sevenZipFolder + L"\\7z.dll"),
        sevenZipExe(sevenZipFolder + L"\\7z.exe"),
        archive(inputs.packerFolder + L"\\root.7z"),
        packer(inputs.packerFolder + L"\\pack.exe"),
        output(inputs.packerFolder + L"\\" + inputs.outputName) {}

  // Lets go of the written-out 7-Zip and deletes it; nothing is deleted through a linked folder,
  // which would reach its target's files.
  void ReleaseSevenZip() {
    heldDll.reset();
    heldExe.reset();
    if (!IsLink(sevenZipFolder.c_str())) {
      ::DeleteFileW(sevenZipDll.c_str());
      ::DeleteFileW(sevenZipExe.c_str());
    }
  }

  const std::wstring passwordFile;
  const std::wstring sevenZipFolder;
  const std::wstring sevenZipDll;
  const std::wstring sevenZipExe;
  const std::wstring archive;
  const std::wstring packer;
  const std::wstring output;
  // 7-Zip as written out, held from its check until the archive run has ended.
  fw::UniqueKernelHandle heldDll;
  fw::UniqueKernelHandle heldExe;
};

namespace {

constexpr wchar_t kTag[] = L"CreateClientSetupExe";

// A path as one argument of a command line: in double quotes when it holds a space (which would
// otherwise split it, and make Windows try a shorter program path first), as it stands otherwise.
std::wstring Argument(const std::wstring& path) {
  return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

// 7-Zip's percentage, from what it writes with its progress switch: "  42%" and the like,
// rewritten in place with backspaces. Pieces may end anywhere, so a number is carried over.
class SevenZipPercent {
 public:
  // Called for every piece read; true, with `percent` set, when the piece raised the percentage.
  bool Read(const char* bytes, size_t length, unsigned& percent) {
    bool raised = false;
    for (size_t i = 0; i < length; ++i) {
      const char c = bytes[i];
      if (c >= '0' && c <= '9' && digits_ < 3) {
        number_ = number_ * 10 + static_cast<unsigned>(c - '0');
        ++digits_;
        continue;
      }
      if (c == '%' && digits_ > 0 && number_ <= 100 && (number_ > last_ || !seen_)) {
        last_ = number_;
        seen_ = true;
        raised = true;
      }
      number_ = 0;
      // Digits that run on past three are no percentage; skip to the next separator.
      digits_ = c >= '0' && c <= '9' ? 4 : 0;
    }
    percent = last_;
    return raised;
  }

 private:
  unsigned number_ = 0;
  unsigned digits_ = 0;
  unsigned last_ = 0;
  bool seen_ = false;
};

// The last words of a child read through a pipe, for the trace when it fails.
class ChildWords {
 public:
  void Add(const char* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      // Progress is rewritten with backspaces: what is rubbed out goes.
      if (bytes[i] == '\b') {
        if (!text_.empty()) {
          text_.pop_back();
        }
      } else if (bytes[i] != '\r') {
        text_ += bytes[i];
      }
    }
    if (text_.size() > 2 * kKept) {
      text_.erase(0, text_.size() - kKept);
    }
  }
  void Trace(const wchar_t* command) const {
    const size_t from = text_.size() > kKept ? text_.size() - kKept : 0;
    TraceLog(tracelog::kLevelError, kTag, L"%s wrote: %s", command, Wide(from, text_.size()).c_str());
  }
  // The last line that holds more than blanks, without its line end; empty when there is none.
  std::wstring LastLine() const {
    size_t end = text_.find_last_not_of(" \t\n");
    if (end == std::string::npos) {
      return {};
    }
    ++end;
    const size_t newline = text_.rfind('\n', end - 1);
    const size_t start = newline == std::string::npos ? 0 : newline + 1;
    return Wide(text_.find_first_not_of(" \t", start), end);
  }

 private:
  // Bytes [from, to) of the text; console programs write to a pipe in the OEM code page.
  std::wstring Wide(size_t from, size_t to) const {
    const int length = static_cast<int>(to - from);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    wide.resize(static_cast<size_t>(
        ::MultiByteToWideChar(CP_OEMCP, 0, text_.data() + from, length, wide.data(), length)));
    return wide;
  }

  // Within one trace line, with the command line.
  static constexpr size_t kKept = 1024;
  std::string text_;
};

// Runs `command` as `stage`. When the caller follows progress, what the child writes is read
// through a pipe, 7-Zip's percentages are passed on, and a failed child's last words are traced;
// otherwise it runs as it always did, its window hidden. True when the child ran to its end.
bool RunChild(IBuildUi& ui, BuildStage stage, const std::wstring& command, DWORD& exitCode) {
  return RunStage(ui, stage, [&] {
    if (!ui.FollowsProgress()) {
      return ExecFile(command.c_str(), SW_HIDE, true, &exitCode);
    }
    SevenZipPercent percent;
    ChildWords words;
    const ChildRun run = ExecFileReading(
        command.c_str(),
        [&](const char* bytes, size_t length) {
          unsigned now = 0;
          if (percent.Read(bytes, length, now)) {
            ui.Progress(stage, now, 100);
          }
          words.Add(bytes, length);
        },
        exitCode);
    const wchar_t* const child = stage == BuildStage::kPack ? L"the packer" : L"7-Zip";
    if (run == ChildRun::kNotStarted) {
      ui.ChildFailed(
          stage, std::wstring(child) + L" could not be started: system error " + std::to_wstring(exitCode));
    } else if (exitCode != 0) {
      words.Trace(command.c_str());
      const std::wstring last = words.LastLine();
      ui.ChildFailed(stage, std::wstring(child) + L" ended with exit code " + std::to_wstring(exitCode) +
                                (last.empty() ? L"" : L": " + last));
    }
    return run == ChildRun::kEnded;
  });
}

// Deletes `path` when it exists. False, traced, when a file there could not be deleted.
bool DeleteIfPresent(const std::wstring& path) {
  if (::DeleteFileW(path.c_str())) {
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return true;
  }
  TraceLog(tracelog::kLevelError, kTag, L"Deletefile failed for %s (Err -> %u)", path.c_str(), error);
  return false;
}

// Reports the failure and leaves nothing of the step behind: no password file, no 7-Zip, no
// archive, no partial setup, and no working folder.
bool Abort(const ArchivePackInputs& inputs, StepFiles& files, IBuildUi& ui) {
  ui.Show(TableMessage(uitext::kErrCreateSetup, {}, MB_ICONERROR));
  ::DeleteFileW(files.passwordFile.c_str());
  files.ReleaseSevenZip();
  ::DeleteFileW(files.archive.c_str());
  ::DeleteFileW(files.output.c_str());
  // A working folder that is, or holds, a link stays as it is (see EmptyFolderTree).
  if (CleanFolder(inputs.workFolder.c_str())) {
    ::RemoveDirectoryW(inputs.workFolder.c_str());
  }
  return false;
}

// Deletes the password file of an earlier run and asks for this run's password. False (traced)
// when the password dialog could not be shown: a setup asked to be protected is never packed
// without it.
bool AskForPassword(StepFiles& files, IBuildUi& ui, passwordfile::Password& password, bool& protect) {
  // A password file of an earlier run must never pass for this run's password.
  if (!DeleteIfPresent(files.passwordFile)) {
    return false;
  }
  protect = false;
  if (ui.Ask(BuildQuestion::kProtectWithPassword)) {
    const PasswordAnswer answer = ui.AskPassword(password);
    if (answer == PasswordAnswer::kNotShown) {
      TraceLog(tracelog::kLevelError, kTag, L"The password dialog could not be shown");
      return false;
    }
    protect = answer == PasswordAnswer::kSet;
  }
  return true;
}

// Writes 7-Zip out of the program's resources and holds it (see ArchiveAndPack).
bool WriteOutSevenZip(const ArchivePackInputs& inputs, StepFiles& files) {
  // What is written into a linked folder lands in its target, where others may reach it.
  if (IsLink(files.sevenZipFolder.c_str())) {
    TraceLog(tracelog::kLevelError, kTag, L"%s is a link; 7-Zip is not written there",
             files.sevenZipFolder.c_str());
    return false;
  }
  const bool x64 = inputs.sevenZip == SevenZipRelease::kX64;
  files.heldDll =
      ExtractExeToDisk(files.sevenZipDll.c_str(), x64 ? IDR_SEVENZIP_X64_DLL : IDR_SEVENZIP_DLL, L"DLL");
  if (!files.heldDll) {
    TraceLog(tracelog::kLevelError, kTag, L"ExtractResourceToDisk(7z.dll) failed");
    return false;
  }
  files.heldExe =
      ExtractExeToDisk(files.sevenZipExe.c_str(), x64 ? IDR_SEVENZIP_X64_EXE : IDR_SEVENZIP_EXE, L"EXE");
  if (!files.heldExe) {
    TraceLog(tracelog::kLevelError, kTag, L"ExtractResourceToDisk(7z.exe) failed");
    return false;
  }
  return true;
}

// Runs the written-out 7-Zip with `arguments` as the compress stage. True when it exited with 0;
// any other code means an incomplete archive (1: a file was left out, e.g. locked).
bool RunSevenZip(const ArchivePackInputs& inputs, const StepFiles& files, const std::wstring& arguments,
                 IBuildUi& ui) {
  TraceLog(tracelog::kLevelProgress, kTag, L"7z parameters: %s", arguments.c_str());
  // The progress switch is the console's alone: the dialog's command line stays as it was.
  const std::wstring command =
      Argument(files.sevenZipExe) + L" " + arguments + (ui.FollowsProgress() ? L" -bsp1" : L"");
  TraceLog(tracelog::kLevelProgress, kTag, L"Calling ExeFile..");
  if (inputs.beforeArchiveRun) {
    inputs.beforeArchiveRun(files.sevenZipExe);
  }
  DWORD exitCode = 0;
  if (!RunChild(ui, BuildStage::kCompress, command, exitCode)) {
    TraceLog(tracelog::kLevelError, kTag, L"failed to create root.7z");
    return false;
  }
  if (exitCode != 0) {
    TraceLog(tracelog::kLevelError, kTag, L"7z failed (exit code %lu)", static_cast<unsigned long>(exitCode));
    return false;
  }
  return true;
}

// Runs the packer on root.7z in the packer folder, which becomes the current directory. The
// password lies on disk only for the packer's run; `password` is cleared before the run unless
// `keepPassword` (for the setups still to come).
bool RunPacker(const ArchivePackInputs& inputs, const StepFiles& files, bool protect,
               passwordfile::Password& password, bool keepPassword, IBuildUi& ui) {
  // The packer takes bare file names in its current directory, which it inherits from ours.
  _wchdir((inputs.packerFolder + L"\\").c_str());
  std::wstring packCommand = Argument(files.packer) + L" root.7z " + inputs.outputName + L" ";
  if (protect) {
    packCommand += L"/PWD=" + Argument(files.passwordFile) + L" ";
  }
  if (inputs.packSize != 0) {
    packCommand += std::to_wstring(inputs.packSize);
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"%lu", static_cast<unsigned long>(inputs.packSize));
  TraceLog(tracelog::kLevelProgress, kTag, L"pack parameters: %s", packCommand.c_str());
  // The setup is never packed without the password asked for.
  if (protect && !passwordfile::SaveEncryptedPasswordToFile(files.passwordFile.c_str(), password)) {
    TraceLog(tracelog::kLevelError, kTag, L"Password file not written: %s", files.passwordFile.c_str());
    return false;
  }
  if (!keepPassword) {
    password.Clear();
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"Calling execfile");
  DWORD exitCode = 0;
  const bool packed = RunChild(ui, BuildStage::kPack, packCommand, exitCode);
  DeleteIfPresent(files.passwordFile);
  if (!packed) {
    TraceLog(tracelog::kLevelError, kTag, L"ExecFile failed for :%s", packCommand.c_str());
    return false;
  }
  if (exitCode != 0) {
    TraceLog(tracelog::kLevelError, kTag, L"pack.exe failed (exit code %lu)",
             static_cast<unsigned long>(exitCode));
    return false;
  }
  return true;
}

}  // namespace

SevenZipRelease NativeSevenZipRelease() {
  if constexpr (sizeof(void*) == 8) {
    return SevenZipRelease::kX64;
  }
  // IsWow64Process exists on every Windows the program runs on; IsWow64Process2 does not.
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64 ? SevenZipRelease::kX64
                                                                  : SevenZipRelease::kIa32;
}

bool ArchiveAndPack(const ArchivePackInputs& inputs, IBuildUi& ui) {
  StepFiles files(inputs);
  passwordfile::Password password;
  bool protect = false;
  if (!AskForPassword(files, ui, password, protect) || !WriteOutSevenZip(inputs, files) ||
      // 7-Zip's add command would update an archive left by an interrupted run, not replace it.
      !DeleteIfPresent(files.archive)) {
    return Abort(inputs, files, ui);
  }
  const bool archived =
      RunSevenZip(inputs, files, L"a \"" + files.archive + L"\" \"" + inputs.workFolder + L"\\*\"", ui);
  files.ReleaseSevenZip();
  if (!archived || !RunPacker(inputs, files, protect, password, false, ui)) {
    return Abort(inputs, files, ui);
  }
  return true;
}

SharedArchivePack::SharedArchivePack(ArchivePackInputs inputs, IBuildUi& ui)
    : inputs_(std::move(inputs)),
      ui_(ui),
      files_(std::make_unique<StepFiles>(inputs_)),
      shared_(inputs_.packerFolder + L"\\" + kSharedArchiveName) {}

SharedArchivePack::~SharedArchivePack() {
  password_.Clear();
  ::DeleteFileW(files_->passwordFile.c_str());
  files_->ReleaseSevenZip();
  ::DeleteFileW(shared_.c_str());
  ::DeleteFileW(files_->archive.c_str());
  ::DeleteFileW(files_->output.c_str());
}

bool SharedArchivePack::Archive() {
  if (!AskForPassword(*files_, ui_, password_, protect_) || !WriteOutSevenZip(inputs_, *files_) ||
      !DeleteIfPresent(shared_) || !DeleteIfPresent(files_->archive) ||
      !RunSevenZip(inputs_, *files_, L"a \"" + shared_ + L"\" \"" + inputs_.workFolder + L"\\*\"", ui_)) {
    ui_.Show(TableMessage(uitext::kErrCreateSetup, {}, MB_ICONERROR));
    return false;
  }
  return true;
}

bool SharedArchivePack::Pack(const std::wstring& settingsFile) {
  // The update command writes root.7z new from the shared archive, which stays as it is: every
  // item of it copied, the settings file compressed as a block of its own.
  if (!DeleteIfPresent(files_->archive) || !DeleteIfPresent(files_->output) ||
      !RunSevenZip(inputs_, *files_,
                   L"u \"" + shared_ + L"\" -u- \"-up1q1r2x2y2z1w2!" + files_->archive + L"\" \"" +
                       settingsFile + L"\"",
                   ui_) ||
      !RunPacker(inputs_, *files_, protect_, password_, true, ui_)) {
    ui_.Show(TableMessage(uitext::kErrCreateSetup, {}, MB_ICONERROR));
    ::DeleteFileW(files_->archive.c_str());
    ::DeleteFileW(files_->output.c_str());
    return false;
  }
  ::DeleteFileW(files_->archive.c_str());
  return true;
}
