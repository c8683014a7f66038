#pragma once
// A snapshot of the main dialog's build options, taken when an action starts. The builds, the
// server-info record and the mail action read only this value, never the dialog's controls, so
// they run and are tested without a window.

#include <windows.h>

#include <string>

#include "options/build_kind.h"

// Combo indexes as the main dialog inserts its items.
enum PackageIndex : int { kPackageCustom = 0, kPackageMinimal = 1 };
enum PlatformIndex : int { kPlatformWindows = 0, kPlatformMac = 1, kPlatformLinux = 2 };
// Windows: 0 EXE/32 bit, 1 EXE/64 bit, 2 MSI/32 bit, 3 MSI/64 bit. Linux: 0 32 bit, 1 64 bit.
enum SetupTypeIndex : int {
  kSetupExe32 = 0,
  kSetupExe64 = 1,
  kSetupMsi32 = 2,
  kSetupMsi64 = 3,
  kSetupLinux32 = 0,
  kSetupLinux64 = 1,
};
enum AntivirusIndex : int { kAntivirusYes = 0, kAntivirusNo = 1 };
// Validity period list: 0 30 days, 1 60, 2 90, 3 180.
inline constexpr int kValidityDays[] = {30, 60, 90, 180};

struct BuildOptions {
  // What the administrator chose.
  int packageIndex = kPackageCustom;
  int platformIndex = kPlatformWindows;
  int setupTypeIndex = kSetupExe32;
  int antivirusIndex = kAntivirusYes;
  bool validityChecked = false;
  int validityIndex = 0;
  std::wstring destination;  // destination folder edit
  bool alternateConnection = false;
  bool alternateByDomainName = false;  // otherwise by IP address
  std::wstring alternateIp;            // IP address control text ("0.0.0.0" when blank)
  std::wstring alternateDomain;        // domain name edit

  // What start-up and the group selection found.
  std::wstring installFolder;   // server installation folder, ending with a backslash
  std::wstring webBuildFolder;  // its long form followed by "web\build"
  std::wstring groupName;
  std::wstring groupGuid;    // at most 39 characters
  int installationMode = 0;  // 1 or 2 from the console configuration
};
