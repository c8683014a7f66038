#pragma once
// The last stage of a Windows EXE build: optional password, 7-Zip written out of the program's
// resources, the working folder archived into root.7z and the server's packer run on it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "build/build_ui.h"
#include "password/password_file.h"

// Which of the two 7-Zip releases among the program's resources the step writes out and runs.
enum class SevenZipRelease { kIa32, kX64 };

// The release that runs natively on this process's Windows: x64 for a 64-bit process or for a
// 32-bit one under WoW64, ia32 on 32-bit Windows (and when WoW64 cannot be asked about).
SevenZipRelease NativeSevenZipRelease();

struct ArchivePackInputs {
  std::wstring workFolder;     // the working folder (no trailing backslash)
  std::wstring packerFolder;   // Tools\clPacker or its 64 sub-folder (no trailing backslash)
  std::wstring programFolder;  // short form, trailing backslash
  std::wstring outputName;     // e.g. L"wsnode32.exe" or L"rmtsetup.exe"
  uint32_t packSize = 15;      // 0: left off the command line
  SevenZipRelease sevenZip = NativeSevenZipRelease();
  // Called with the path of the written-out 7z.exe right before it runs; may be empty.
  std::function<void(const std::wstring& sevenZipExe)> beforeArchiveRun;
};

// Asks for a password, writes 7-Zip out of the program's resources, archives the working folder
// into root.7z and runs the packer. False after a failure it has reported (3018) and cleaned up
// (working folder emptied and removed).
//
// The password file of an earlier run is deleted before the question. The password stays in
// memory until the packer is about to start; only then is the 40-byte password file created,
// for Administrators and SYSTEM only, and it is deleted as soon as the packer has ended. A
// setup asked to be protected is never packed without it. 7z.dll and 7z.exe are written new into
// the program folder's clPacker sub-folder (never through a link) and held open, readable
// only, from the check of their bytes until the archive run has ended, so that nobody can swap
// them in between. A 7-Zip or packer run that exits with any code but 0 is a failure. The
// password file, 7-Zip, a failed run's root.7z and partial setup are deleted on every path; on
// success root.7z and the setup stay in the packer folder for the caller, and the packer folder
// stays the process's current directory.
bool ArchiveAndPack(const ArchivePackInputs& inputs, IBuildUi& ui);

// The archive of many setups' common payload, beside root.7z in the packer folder.
inline constexpr wchar_t kSharedArchiveName[] = L"shared.7z";

struct StepFiles;

// The same step for many setups that differ only in their settings file. The password is asked
// for once and kept in memory for the whole run, 7-Zip is written out once and held until the
// object goes, and the working folder is archived once into the shared archive. Each Pack() then
// writes root.7z from the shared archive and one settings file by 7-Zip's update command, which
// adds the file as a block of its own, recompresses nothing and leaves the shared archive as it
// is, and runs the packer as ArchiveAndPack does. The shared archive, root.7z, a setup left in the
// packer folder, 7-Zip and the password file are deleted when the object goes; the working
// folder is the caller's.
class SharedArchivePack {
 public:
  SharedArchivePack(ArchivePackInputs inputs, IBuildUi& ui);
  ~SharedArchivePack();
  SharedArchivePack(const SharedArchivePack&) = delete;
  SharedArchivePack& operator=(const SharedArchivePack&) = delete;

  // Asks for the password, writes 7-Zip out and archives the working folder. False after a
  // failure it has reported (3018).
  bool Archive();
  // One setup, packerFolder\outputName, from the shared archive and `settingsFile` (a full path;
  // the archive holds it under its name alone). False after a failure it has reported (3018),
  // with no root.7z and no setup left; the shared archive serves the next setup.
  bool Pack(const std::wstring& settingsFile);

 private:
  const ArchivePackInputs inputs_;
  IBuildUi& ui_;
  std::unique_ptr<StepFiles> files_;
  const std::wstring shared_;
  passwordfile::Password password_;
  bool protect_ = false;
};
