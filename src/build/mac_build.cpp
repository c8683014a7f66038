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
constexpr wchar_t kAntivirusFolder[] = L"MCWSNOAV";
constexpr wchar_t kAgentFolder[] = L"MCWSNODE";
constexpr wchar_t kMoveInFailed[] = L"MoveFileEx FAILED For Mac build (Error -> %lu)";

}  // namespace

bool CreateMacClientBuildFile(const BuildOptions& options, fw::IUserPrompt& prompt) {
  TraceLog(tracelog::kLevelProgress, kTag, L"Entry.");
  TarClientBuild build(prompt, kTag);
  const BuildKind kind = options.build.kind;
  if (!build.CheckKind(kind, BuildKind::MacAv, BuildKind::MacAgent)) {
    return false;
  }
  const bool antivirus = kind == BuildKind::MacAv;

  const wchar_t* folderName = antivirus ? kAntivirusFolder : kAgentFolder;
  wchar_t buildPath[MAX_PATH];
  wchar_t sourceFolder[MAX_PATH];
  wchar_t tarPath[MAX_PATH];
  wchar_t workingFolder[MAX_PATH];
  wchar_t otherWorkingFolder[MAX_PATH];
  if (!ComposePath(buildPath, L"szBuildPath", kTag, {options.installFolder.c_str(), L"web\\build\\"}) ||
      !ComposePath(sourceFolder, L"szBuildPath", kTag, {options.webBuildFolder.c_str(), L"\\"}) ||
      !ComposePath(tarPath, L"szBuildPath", kTag, {buildPath, L"cnmac\\", BuildOutputName(options.build)}) ||
      !ComposePath(workingFolder, L"szBuildPath", kTag, {sourceFolder, folderName}) ||
      !ComposePath(otherWorkingFolder, L"szBuildPath", kTag,
                   {sourceFolder, antivirus ? kAgentFolder : kAntivirusFolder})) {
    return build.ShowError(uitext::kErrCreateSetup);
  }
  if (!build.SetPaths(sourceFolder, workingFolder, tarPath) || !build.RemoveTemporaryTar() ||
      !build.CheckDiskSpace(options.installFolder) || !build.ConfirmRebuild()) {
    return false;
  }

  // Disk images an interrupted build of either kind left in its working folder go home first,
  // so that the check below finds them.
  build.RecoverLeftovers(workingFolder, {kAntivirusImage, kAgentImage});
  build.RecoverLeftovers(otherWorkingFolder, {kAntivirusImage, kAgentImage});
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

  if (!build.PrepareWorkingFolder() ||
      !build.CopyIn(buildPath, kSettingsFileName, L"CopyFile FAILED For Mac INI file (Error -> %lu)")) {
    return false;
  }
  wchar_t settingsPath[MAX_PATH];
  wchar_t serverInfoPath[MAX_PATH];
  if (!build.WorkingFile(kSettingsFileName, settingsPath) ||
      !build.WorkingFile(kServerInfoFileName, serverInfoPath)) {
    return false;
  }
  const BuildSettings settings = BuildSettingsFor(kind, options, options.alternateAddress.c_str());
  if (!WriteBuildSettings(settingsPath, settings, kSettingsTag)) {
    return build.Abort();
  }
  uint32_t error = 0;
  if (!CreateRPInfoDatFileForClientPackager(options, serverInfoPath, &error)) {
    TraceLog(tracelog::kLevelError, kTag, L"CreateRPInfoDatFileForClientPackager failed.");
    return build.Abort();
  }
  if (antivirus &&
      (!build.CopyIn(buildPath, kDefaultsFile, L"CopyFile FAILED For macndef.ini (Error -> %lu)") ||
       !build.MoveIn(kAntivirusImage, kMoveInFailed))) {
    return false;
  }
  if (!build.MoveIn(kAgentImage, kMoveInFailed)) {
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
