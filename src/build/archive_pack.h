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
// The password file of an earlier run is deleted before the question; after OK in the password
// dialog a 40-byte password file must be there, or the step fails rather than pack without it.
// A 7-Zip or packer run that exits with any code but 0 is a failure. The password file, 7-Zip,
// a failed run's root.7z and partial setup are deleted on every path; on success root.7z and the
// setup stay in the packer folder for the caller, and the packer folder stays the process's
// current directory.
bool ArchiveAndPack(const ArchivePackInputs& inputs, IBuildUi& ui);
