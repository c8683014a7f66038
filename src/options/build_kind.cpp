#include "options/build_kind.h"

#include "options/build_options.h"

BuildKindInfo DeriveBuildKind(int packageIndex, int platformIndex, int setupTypeIndex, int antivirusIndex) {
  BuildKindInfo info;
  if (packageIndex == kPackageMinimal) {
    info.kind = BuildKind::WinExeAgent;
    info.bitness = 32;
    info.minimal = true;
    return info;
  }
  if (platformIndex == kPlatformMac) {
    info.kind = antivirusIndex == kAntivirusYes ? BuildKind::MacAv : BuildKind::MacAgent;
    info.bitness = 64;
    return info;
  }
  if (platformIndex == kPlatformLinux) {
    const bool is32 = setupTypeIndex == kSetupLinux32;
    info.kind = is32 ? BuildKind::Linux32 : BuildKind::Linux64;
    info.bitness = is32 ? 32 : 64;
    return info;
  }
  switch (setupTypeIndex) {
    case kSetupMsi32:
      info.kind = BuildKind::WinMsi;
      info.bitness = 32;
      break;
    case kSetupMsi64:
      info.kind = BuildKind::WinMsi;
      info.bitness = 64;
      break;
    default:
      info.kind = antivirusIndex == kAntivirusYes ? BuildKind::WinExeAv : BuildKind::WinExeAgent;
      info.bitness = setupTypeIndex == kSetupExe32 ? 32 : 64;
      break;
  }
  return info;
}

const wchar_t* BuildOutputName(const BuildKindInfo& info) {
  if (info.minimal) {
    return L"rmtsetup.exe";
  }
  const bool is32 = info.bitness == 32;
  switch (info.kind) {
    case BuildKind::WinExeAv:
      return is32 ? L"wsnoav32.exe" : L"wsnoav64.exe";
    case BuildKind::WinExeAgent:
      return is32 ? L"wsnode32.exe" : L"wsnode64.exe";
    case BuildKind::WinMsi:
      return is32 ? L"wsnode32.msi" : L"wsnode64.msi";
    case BuildKind::MacAv:
      return L"MCWSNOAV.TAR";
    case BuildKind::MacAgent:
      return L"MCWSNODE.TAR";
    case BuildKind::Linux32:
      return L"LINUXWSNO32.TAR";
    case BuildKind::Linux64:
      return L"LINUXWSNO64.TAR";
  }
  return L"";
}
