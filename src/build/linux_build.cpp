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

bool CreateLinuxClientBuildFile(const BuildOptions& options, fw::IUserPrompt& prompt) {
  TraceLog(tracelog::kLevelProgress, kTag, L"Entry.");
  TarClientBuild build(prompt, kTag);
  const BuildKind kind = options.build.kind;
  if (!build.CheckKind(kind, BuildKind::Linux32, BuildKind::Linux64)) {
    return false;
  }
  const bool is64 = kind == BuildKind::Linux64;

  const wchar_t* bitnessFolder = is64 ? L"heslin64\\" : L"heslin32\\";
  const wchar_t* package = is64 ? L"heslin64.tar.gz" : L"heslin32.tar.gz";
  wchar_t buildPath[MAX_PATH];
  wchar_t sourceFolder[MAX_PATH];
  wchar_t tarPath[MAX_PATH];
  wchar_t workingFolder[MAX_PATH];
  if (!ComposePath(buildPath, L"szBuildPath", kTag, {options.installFolder.c_str(), L"web\\build\\"}) ||
      !ComposePath(sourceFolder, L"szBuildPath", kTag,
                   {options.webBuildFolder.c_str(), L"\\", bitnessFolder}) ||
      !ComposePath(tarPath, L"szBuildPath", kTag,
                   {buildPath, bitnessFolder, BuildOutputName(options.build)}) ||
      !ComposePath(workingFolder, L"szBuildPath", kTag,
                   {sourceFolder, is64 ? L"LinuxSetup64" : L"LinuxSetup32"})) {
    return build.ShowError(uitext::kErrCreateSetup);
  }
  if (!build.SetPaths(sourceFolder, workingFolder, tarPath) || !build.RemoveTemporaryTar() ||
      !build.CheckDiskSpace(options.installFolder)) {
    return false;
  }
  // The server must answer its data query, although the Linux build carries no record.
  ServerInfoRecord scratch;
  std::memset(&scratch, 0, sizeof scratch);
  uint32_t error = 0;
  if (!GetRPDatFileInfoFromDB(options.installFolder.c_str(), &scratch, &error)) {
    TraceLog(tracelog::kLevelError, kTag, L"GetRPDatFileInfoFromDB failed, Error:%lu",
             static_cast<unsigned long>(error));
    return build.ShowError(uitext::kErrCreateSetup);
  }
  if (!build.ConfirmRebuild()) {
    return false;
  }

  // A package archive an interrupted build left in the working folder goes home first, so that
  // the check below finds it.
  build.RecoverLeftovers(workingFolder, {package});
  bool present = true;
  if (!build.SourceFileExists(package)) {
    TraceLog(tracelog::kLevelProgress, kTag,
             is64 ? L"heslin64.tar.gz doesn't exist." : L"heslin32.tar.gz doesn't exist.");
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
  if (!WriteBuildSettings(settingsPath, BuildSettingsFor(kind, options, options.alternateAddress.c_str()),
                          kSettingsTag)) {
    return build.Abort();
  }
  if (!build.CopyIn(sourceFolder, kReadme, L"CopyFile FAILED For Linux file (Error -> %lu)") ||
      !build.CopyIn(sourceFolder, kInstallScript, L"CopyFile FAILED For Linux install file (Error -> %lu)") ||
      !build.MoveIn(package, L"MoveFileEx FAILED For Linux build (Error -> %lu)")) {
    return false;
  }
  if (!build.WriteTar({kSettingsFileName, kReadme, kInstallScript, package}, true,
                      L"CreateTarFile failed for Linux build. Error = %lu)")) {
    return false;
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"Exit.");
  return true;
}
