#include "options/build_kind.h"

#include <gtest/gtest.h>

#include <string>

#include "options/build_options.h"

namespace {

struct KindRow {
  const char* name;
  int package, platform, setupType, antivirus;
  BuildKind kind;
  int bitness;
  bool minimal;
  const wchar_t* output;
};

constexpr int kAny = 3;  // a setup type or antivirus index that the row must not depend on

const KindRow kKindRows[] = {
    {"minimal ignores mac, msi64 and antivirus", kPackageMinimal, kPlatformMac, kSetupMsi64, kAntivirusYes,
     BuildKind::WinExeAgent, 32, true, L"rmtsetup.exe"},
    {"minimal on linux 64", kPackageMinimal, kPlatformLinux, kSetupLinux64, kAntivirusNo,
     BuildKind::WinExeAgent, 32, true, L"rmtsetup.exe"},
    {"win exe32 antivirus", kPackageCustom, kPlatformWindows, kSetupExe32, kAntivirusYes, BuildKind::WinExeAv,
     32, false, L"wsnoav32.exe"},
    {"win exe32 agent", kPackageCustom, kPlatformWindows, kSetupExe32, kAntivirusNo, BuildKind::WinExeAgent,
     32, false, L"wsnode32.exe"},
    {"win exe64 antivirus", kPackageCustom, kPlatformWindows, kSetupExe64, kAntivirusYes, BuildKind::WinExeAv,
     64, false, L"wsnoav64.exe"},
    {"win exe64 agent", kPackageCustom, kPlatformWindows, kSetupExe64, kAntivirusNo, BuildKind::WinExeAgent,
     64, false, L"wsnode64.exe"},
    {"win msi32 antivirus yes", kPackageCustom, kPlatformWindows, kSetupMsi32, kAntivirusYes,
     BuildKind::WinMsi, 32, false, L"wsnode32.msi"},
    {"win msi32 antivirus no", kPackageCustom, kPlatformWindows, kSetupMsi32, kAntivirusNo, BuildKind::WinMsi,
     32, false, L"wsnode32.msi"},
    {"win msi64", kPackageCustom, kPlatformWindows, kSetupMsi64, kAntivirusNo, BuildKind::WinMsi, 64, false,
     L"wsnode64.msi"},
    {"mac antivirus", kPackageCustom, kPlatformMac, kAny, kAntivirusYes, BuildKind::MacAv, 64, false,
     L"MCWSNOAV.TAR"},
    {"mac agent", kPackageCustom, kPlatformMac, kSetupExe32, kAntivirusNo, BuildKind::MacAgent, 64, false,
     L"MCWSNODE.TAR"},
    {"linux 32 ignores antivirus", kPackageCustom, kPlatformLinux, kSetupLinux32, kAntivirusNo,
     BuildKind::Linux32, 32, false, L"LINUXWSNO32.TAR"},
    {"linux 64", kPackageCustom, kPlatformLinux, kSetupLinux64, kAntivirusYes, BuildKind::Linux64, 64, false,
     L"LINUXWSNO64.TAR"},
};

TEST(BuildKindTest, DerivesKindBitnessMinimalAndOutputName) {
  for (const KindRow& row : kKindRows) {
    SCOPED_TRACE(row.name);
    const BuildKindInfo info = DeriveBuildKind(row.package, row.platform, row.setupType, row.antivirus);
    EXPECT_EQ(row.kind, info.kind);
    EXPECT_EQ(row.bitness, info.bitness);
    EXPECT_EQ(row.minimal, info.minimal);
    EXPECT_EQ(std::wstring(row.output), BuildOutputName(info));
  }
}

}  // namespace
