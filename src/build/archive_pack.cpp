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
  const std::wstring command = Argument(files.sevenZipExe) + L" " + arguments;
  TraceLog(tracelog::kLevelProgress, kTag, L"Calling ExeFile..");
  if (inputs.beforeArchiveRun) {
    inputs.beforeArchiveRun(files.sevenZipExe);
  }
  DWORD exitCode = 0;
  if (!RunStage(ui, BuildStage::kCompress,
                [&] { return ExecFile(command.c_str(), SW_HIDE, true, &exitCode); })) {
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
  const bool packed = RunStage(ui, BuildStage::kPack,
                               [&] { return ExecFile(packCommand.c_str(), SW_HIDE, true, &exitCode); });
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
