#pragma once
// What one Create action produces, derived from the main dialog's four option combos, and the
// name of the installer or archive it leaves behind.

#include <cstdint>

enum class BuildKind : int32_t {
  WinExeAv = 0,     // Windows EXE, agent with the antivirus setup
  WinExeAgent = 1,  // Windows EXE, agent only; also the Minimal package
  WinMsi = 2,       // Windows MSI
  MacAv = 3,        // Mac build with antivirus
  MacAgent = 4,     // Mac build, agent only
  Linux32 = 5,
  Linux64 = 6,
};

struct BuildKindInfo {
  BuildKind kind = BuildKind::WinExeAgent;
  // 32 or 64. Chosen by the setup type for Windows builds; Linux builds follow their kind and
  // Mac builds are 64-bit.
  int bitness = 32;
  bool minimal = false;  // the Minimal package (always a 32-bit WinExeAgent)
};

// Takes the selected indexes of the package, platform, setup type and antivirus combos. The
// Minimal package decides alone; otherwise the platform, then the setup type and antivirus.
BuildKindInfo DeriveBuildKind(int packageIndex, int platformIndex, int setupTypeIndex, int antivirusIndex);

// "rmtsetup.exe" for the Minimal package, otherwise the file name of the kind and bitness
// (for example "wsnoav64.exe", "wsnode32.msi", "MCWSNODE.TAR", "LINUXWSNO64.TAR").
const wchar_t* BuildOutputName(const BuildKindInfo& info);
