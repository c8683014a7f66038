#pragma once
// The last stage of a Windows EXE build: optional password, 7-Zip written out of the program's
// resources, the working folder archived into root.7z and the server's packer run on it.

#include <cstdint>
#include <functional>
#include <string>

#include "build/build_ui.h"

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
