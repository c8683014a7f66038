#include "build/linux_build.h"

#include <cstdint>
#include <cstring>

#include "build/build_settings.h"
#include "build/tar_client_build.h"
#include "log/trace_log.h"
#include "serverinfo/server_data_query.h"

namespace {

constexpr wchar_t kTag[] = L"CtmrovaneDlg::CreateLinuxClientBuildFile";
constexpr wchar_t kSettingsTag[] = L"CreateLinuxClientBuildFile";
constexpr wchar_t kReadme[] = L"readme.txt";
constexpr wchar_t kInstallScript[] = L"install";

}  // namespace

bool CreateLinuxClientBuildFile(const CreatePlan& plan, const LinuxTarget& linuxTarget, IBuildUi& ui) {
  TraceLog(tracelog::kLevelProgress, kTag, L"Entry.");
  TarClientBuild build(ui, kTag);
  const wchar_t* package = linuxTarget.package;
  const wchar_t* sourceFolder = linuxTarget.sourceFolder.c_str();
  if (!build.SetPaths(linuxTarget) || !build.RemoveTemporaryTar() ||
      !build.CheckDiskSpace(plan.options.installFolder)) {
    return false;
  }
  // The server must answer its data query, although the Linux build carries no record.
  ServerInfoRecord scratch;
  std::memset(&scratch, 0, sizeof scratch);
  uint32_t error = 0;
  if (!GetRPDatFileInfoFromDB(plan.options.installFolder.c_str(), &scratch, &error)) {
    TraceLog(tracelog::kLevelError, kTag, L"GetRPDatFileInfoFromDB failed, Error:%lu",
             static_cast<unsigned long>(error));
    return build.ShowError(uitext::kErrCreateSetup);
  }
  if (!build.ConfirmRebuild()) {
    return false;
  }

  // A package archive an interrupted build left in the working folder goes home first, so that
  // the check below finds it.
  build.RecoverLeftovers(linuxTarget.workingFolder.c_str(), {package});
  bool present = true;
  if (!build.SourceFileExists(package)) {
    TraceLog(tracelog::kLevelProgress, kTag,
             linuxTarget.is64 ? L"heslin64.tar.gz doesn't exist." : L"heslin32.tar.gz doesn't exist.");
    present = false;
  }
  for (const wchar_t* name : {kSettingsFileName, kReadme, kInstallScript}) {
    present = build.SourceFileExists(name) && present;
  }
  if (!present) {
    TraceLog(tracelog::kLevelProgress, kTag, L"Required Files doesn't exist.");
    return build.ShowError(uitext::kErrLinuxFilesMissing);
  }

  if (!build.PrepareWorkingFolder() ||
      !build.CopyIn(sourceFolder, kSettingsFileName, L"CopyFile FAILED For Linux INI file (Error -> %lu)")) {
    return false;
  }
  wchar_t settingsPath[MAX_PATH];
  if (!build.WorkingFile(kSettingsFileName, settingsPath)) {
    return false;
  }
  if (!WriteBuildSettings(settingsPath,
                          BuildSettingsFor(plan.build.kind, plan.options, plan.alternateAddress.c_str()),
                          kSettingsTag)) {
    return build.Abort();
  }
  if (!RunStage(ui, BuildStage::kGatherPayload, [&] {
        return build.CopyIn(sourceFolder, kReadme, L"CopyFile FAILED For Linux file (Error -> %lu)") &&
               build.CopyIn(sourceFolder, kInstallScript,
                            L"CopyFile FAILED For Linux install file (Error -> %lu)") &&
               build.MoveIn(package, L"MoveFileEx FAILED For Linux build (Error -> %lu)");
      })) {
    return false;
  }
  if (!build.WriteTar({kSettingsFileName, kReadme, kInstallScript, package}, true,
                      L"CreateTarFile failed for Linux build. Error = %lu)")) {
    return false;
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"Exit.");
  return true;
}
