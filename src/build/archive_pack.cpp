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

  // A password file of an earlier run must never pass for this run's password.
  if (!DeleteIfPresent(files.passwordFile)) {
    return Abort(inputs, files, ui);
  }
  passwordfile::Password password;
  bool protect = false;
  if (ui.Ask(BuildQuestion::kProtectWithPassword)) {
    const PasswordAnswer answer = ui.AskPassword(password);
    if (answer == PasswordAnswer::kNotShown) {
      TraceLog(tracelog::kLevelError, kTag, L"The password dialog could not be shown");
      return Abort(inputs, files, ui);
    }
    protect = answer == PasswordAnswer::kSet;
  }

  // What is written into a linked folder lands in its target, where others may reach it.
  if (IsLink(files.sevenZipFolder.c_str())) {
    TraceLog(tracelog::kLevelError, kTag, L"%s is a link; 7-Zip is not written there",
             files.sevenZipFolder.c_str());
    return Abort(inputs, files, ui);
  }
  const bool x64 = inputs.sevenZip == SevenZipRelease::kX64;
  files.heldDll =
      ExtractExeToDisk(files.sevenZipDll.c_str(), x64 ? IDR_SEVENZIP_X64_DLL : IDR_SEVENZIP_DLL, L"DLL");
  if (!files.heldDll) {
    TraceLog(tracelog::kLevelError, kTag, L"ExtractResourceToDisk(7z.dll) failed");
    return Abort(inputs, files, ui);
  }
  files.heldExe =
      ExtractExeToDisk(files.sevenZipExe.c_str(), x64 ? IDR_SEVENZIP_X64_EXE : IDR_SEVENZIP_EXE, L"EXE");
  if (!files.heldExe) {
    TraceLog(tracelog::kLevelError, kTag, L"ExtractResourceToDisk(7z.exe) failed");
    return Abort(inputs, files, ui);
  }

  // 7-Zip's add command would update an archive left by an interrupted run, not replace it.
  if (!DeleteIfPresent(files.archive)) {
    return Abort(inputs, files, ui);
  }
  const std::wstring archiveArguments = L"a \"" + files.archive + L"\" \"" + inputs.workFolder + L"\\*\"";
  TraceLog(tracelog::kLevelProgress, kTag, L"7z parameters: %s", archiveArguments.c_str());
  const std::wstring archiveCommand = Argument(files.sevenZipExe) + L" " + archiveArguments;
  TraceLog(tracelog::kLevelProgress, kTag, L"Calling ExeFile..");
  if (inputs.beforeArchiveRun) {
    inputs.beforeArchiveRun(files.sevenZipExe);
  }
  DWORD exitCode = 0;
  if (!RunStage(ui, BuildStage::kCompress,
                [&] { return ExecFile(archiveCommand.c_str(), SW_HIDE, true, &exitCode); })) {
    TraceLog(tracelog::kLevelError, kTag, L"failed to create root.7z");
    return Abort(inputs, files, ui);
  }
  files.ReleaseSevenZip();
  // Any other exit code means an incomplete archive; 1 means a file was left out (e.g. locked).
  if (exitCode != 0) {
    TraceLog(tracelog::kLevelError, kTag, L"7z failed (exit code %lu)", static_cast<unsigned long>(exitCode));
    return Abort(inputs, files, ui);
  }

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
  // The password lies on disk only for the packer's run, and the setup is never packed without
  // the password asked for.
  if (protect && !passwordfile::SaveEncryptedPasswordToFile(files.passwordFile.c_str(), password)) {
    TraceLog(tracelog::kLevelError, kTag, L"Password file not written: %s", files.passwordFile.c_str());
    return Abort(inputs, files, ui);
  }
  password.Clear();
  TraceLog(tracelog::kLevelProgress, kTag, L"Calling execfile");
  const bool packed = RunStage(ui, BuildStage::kPack,
                               [&] { return ExecFile(packCommand.c_str(), SW_HIDE, true, &exitCode); });
  DeleteIfPresent(files.passwordFile);
  if (!packed) {
    TraceLog(tracelog::kLevelError, kTag, L"ExecFile failed for :%s", packCommand.c_str());
    return Abort(inputs, files, ui);
  }
  if (exitCode != 0) {
    TraceLog(tracelog::kLevelError, kTag, L"pack.exe failed (exit code %lu)",
             static_cast<unsigned long>(exitCode));
    return Abort(inputs, files, ui);
  }
  return true;
}
