#include "build/mac_build.h"

#include <cstdint>

#include "build/build_settings.h"
#include "build/tar_client_build.h"
#include "log/trace_log.h"
#include "serverinfo/rpinfo_create.h"
#include "serverinfo/rpinfo_file.h"

namespace {

constexpr wchar_t kTag[] = L"CtmrovaneDlg::CreateMacClientBuildFile";
constexpr wchar_t kSettingsTag[] = L"CreateMacClientBuildFile";

constexpr wchar_t kAgentImage[] = L"MWSNODE.DMG";
constexpr wchar_t kAntivirusImage[] = L"MACHOST.DMG";
constexpr wchar_t kDefaultsFile[] = L"macndef.ini";
constexpr wchar_t kMoveInFailed[] = L"MoveFileEx FAILED For Mac build (Error -> %lu)";

}  // namespace

bool CreateMacClientBuildFile(const CreatePlan& plan, const MacTarget& mac, IBuildUi& ui) {
  TraceLog(tracelog::kLevelProgress, kTag, L"Entry.");
  TarClientBuild build(ui, kTag);
  const bool antivirus = mac.antivirus;
  if (!build.SetPaths(mac) || !build.RemoveTemporaryTar() ||
      !build.CheckDiskSpace(plan.options.installFolder) || !build.ConfirmRebuild()) {
    return false;
  }

  // Disk images an interrupted build of either kind left in its working folder go home first,
  // so that the check below finds them.
  build.RecoverLeftovers(mac.workingFolder.c_str(), {kAntivirusImage, kAgentImage});
  build.RecoverLeftovers(mac.siblingWorkingFolder.c_str(), {kAntivirusImage, kAgentImage});
  bool present = true;
  if (antivirus) {
    present = build.SourceFileExists(kAntivirusImage) && build.SourceFileExists(kDefaultsFile);
  }
  if (!build.SourceFileExists(kAgentImage)) {
    TraceLog(tracelog::kLevelProgress, kTag, L"MWSNODE.DMG doesn't exist.");
    present = false;
  }
  if (!present) {
    return build.ShowError(uitext::kErrMacFilesMissing);
  }

  if (!build.PrepareWorkingFolder() || !build.CopyIn(mac.templateFolder.c_str(), kSettingsFileName,
                                                     L"CopyFile FAILED For Mac INI file (Error -> %lu)")) {
    return false;
  }
  wchar_t settingsPath[MAX_PATH];
  wchar_t serverInfoPath[MAX_PATH];
  if (!build.WorkingFile(kSettingsFileName, settingsPath) ||
      !build.WorkingFile(kServerInfoFileName, serverInfoPath)) {
    return false;
  }
  const BuildSettings settings =
      BuildSettingsFor(plan.build.kind, plan.options, plan.alternateAddress.c_str());
  if (!WriteBuildSettings(settingsPath, settings, kSettingsTag)) {
    return build.Abort();
  }
  uint32_t error = 0;
  if (!RunStage(ui, BuildStage::kWriteRecord,
                [&] { return CreateRPInfoDatFileForClientPackager(plan.options, serverInfoPath, &error); })) {
    TraceLog(tracelog::kLevelError, kTag, L"CreateRPInfoDatFileForClientPackager failed.");
    return build.Abort();
  }
  const bool gathered = RunStage(ui, BuildStage::kGatherPayload, [&] {
    return (!antivirus || (build.CopyIn(mac.templateFolder.c_str(), kDefaultsFile,
                                        L"CopyFile FAILED For macndef.ini (Error -> %lu)") &&
                           build.MoveIn(kAntivirusImage, kMoveInFailed))) &&
           build.MoveIn(kAgentImage, kMoveInFailed);
  });
  if (!gathered) {
    return false;
  }
  const bool written = antivirus ? build.WriteTar({kSettingsFileName, kServerInfoFileName, kDefaultsFile,
                                                   kAntivirusImage, kAgentImage},
                                                  false, L"CreateTarFile failed for Mac build. Error = %lu)")
                                 : build.WriteTar({kSettingsFileName, kServerInfoFileName, kAgentImage},
                                                  false, L"CreateTarFile failed for Mac build. Error = %lu)");
  if (written) {
    TraceLog(tracelog::kLevelProgress, kTag, L"Exit.");
  }
  return written;
}
