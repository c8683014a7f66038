#include "build/windows_build.h"

#include <cwchar>
#include <iterator>
#include <optional>

#include "build/archive_pack.h"
#include "build/build_settings.h"
#include "build/file_utils.h"
#include "build/msi_builder.h"
#include "handles/handles.h"
#include "log/trace_log.h"
#include "serverinfo/rpinfo_create.h"
#include "signing/signed_file.h"

namespace {

constexpr wchar_t kTag[] = L"CreateClientSetupExe";
constexpr wchar_t kArchiveName[] = L"root.7z";
constexpr wchar_t kSetup64[] = L"NDSETP64.EXE";
constexpr DWORD kAntivirusSpaceMb = 1024;
constexpr DWORD kOtherSpaceMb = 30;
constexpr uint32_t kBasePackSize = 15;
constexpr long long kBytesPerMb = 1048576;

// Outputs of earlier builds that must never be taken for this build's result.
constexpr const wchar_t* kOldOutputs[] = {L"wsnode32.exe", L"wsnode64.exe", L"wsnoav32.exe", L"wsnoav64.exe",
                                          L"wsnode32.msi", L"wsnode64.msi", L"rmtsetup.exe"};

// Which builds take a payload file.
enum class When { kMinimal, kNotMinimal, kAlways, kNotMsi, kAntivirus, kMsi };
// Where it comes from.
enum class From { kPacker, kWebBuild, kUiLibrary };
// What follows the copy.
enum class Then { kNothing, kSettings, kBasePackSize, kAntivirusPackSize, kPlanFor64Bit };

struct PlanCopy {
  const wchar_t* name32;
  const wchar_t* name64;  // null: the same as name32
  From from;
  When when;
  Then then;
  // Trace line of a failed copy: with the system error (%lu), or, for the MSI files, with the
  // source, the destination and the error.
  const wchar_t* failure;
  // The MSI files trace their copies in their own style (see `failure`).
  bool msiTrace = false;
  // Copied under the build's output name (the template MSI) rather than its own.
  bool asOutput = false;
};

constexpr wchar_t kMsiCopyFailure[] = L"File Copy failed. Source (%s), Destination (%s) (Err -> %u)";

// The payload plan in its copy order.
constexpr PlanCopy kPlan[] = {
    {L"netkit.dll", nullptr, From::kPacker, When::kMinimal, Then::kNothing,
     L"Copyfile failed for netkit.dll. Error = %lu"},
    {L"regshim.dll", nullptr, From::kPacker, When::kMinimal, Then::kNothing,
     L"Copyfile failed for regshim.dll. Error = %lu"},
    {L"msvcr90.dll", nullptr, From::kPacker, When::kMinimal, Then::kNothing,
     L"Copyfile failed for msvcr90.dll. Error = %lu"},
    {L"Microsoft.VC90.CRT.manifest", nullptr, From::kPacker, When::kMinimal, Then::kNothing,
     L"Copyfile failed for Microsoft.VC90.CRT.manifest. Error = %lu"},
    {L"NODESETP.EXE", kSetup64, From::kWebBuild, When::kNotMinimal, Then::kNothing,
     L"Copyfile failed for nodesetp"},
    {kSettingsFileName, nullptr, From::kWebBuild, When::kAlways, Then::kSettings,
     L"Copyfile failed for ini file"},
    {L"Deploy.exe", nullptr, From::kPacker, When::kNotMsi, Then::kNothing, L"Copyfile failed for deploy.exe"},
    {L"sysprobe.dll", nullptr, From::kPacker, When::kAlways, Then::kNothing, L"Copyfile failed for sysprobe"},
    {L"verkit.dll", nullptr, From::kPacker, When::kAlways, Then::kNothing, L"Copyfile failed for verkit.dll"},
    {L"build.cnf", nullptr, From::kPacker, When::kAlways, Then::kNothing, L"Copyfile failed for build.cnf"},
    {L"uistr.dll", nullptr, From::kUiLibrary, When::kAlways, Then::kBasePackSize,
     L"Copyfile failed for uistr.dll"},
    {L"nodedef.ini", nullptr, From::kWebBuild, When::kAntivirus, Then::kNothing,
     L"Copyfile failed for nodedef.ini"},
    {L"tmhostsv.exe", L"tmhost64.exe", From::kWebBuild, When::kAntivirus, Then::kAntivirusPackSize,
     L"Copyfile failed for tmhostsv.exe"},
    {L"purge.exe", nullptr, From::kWebBuild, When::kAntivirus, Then::kNothing, L"Copyfile failed."},
    {kPackagePlanFileName, nullptr, From::kWebBuild, When::kMsi, Then::kPlanFor64Bit, kMsiCopyFailure, true},
    {L"nodehelp.dll", nullptr, From::kPacker, When::kMsi, Then::kNothing, kMsiCopyFailure, true},
    {L"instctl.dll", nullptr, From::kPacker, When::kMsi, Then::kNothing, kMsiCopyFailure, true},
    {L"afterins.exe", nullptr, From::kPacker, When::kMsi, Then::kNothing, kMsiCopyFailure, true},
    {L"template.msi", nullptr, From::kPacker, When::kMsi, Then::kNothing, kMsiCopyFailure, true, true},
};

bool Applies(When when, const BuildKindInfo& build) {
  switch (when) {
    case When::kMinimal:
      return build.minimal;
    case When::kNotMinimal:
      return !build.minimal;
    case When::kAlways:
      return true;
    case When::kNotMsi:
      return build.kind != BuildKind::WinMsi;
    case When::kAntivirus:
      return build.kind == BuildKind::WinExeAv;
    case When::kMsi:
      return build.kind == BuildKind::WinMsi;
  }
  return false;
}

bool Fits(const std::wstring& path) { return path.size() < MAX_PATH; }

class WindowsBuild {
 public:
  // `programFolder` ends with a backslash; `program` is the same folder without it.
  WindowsBuild(const CreatePlan& plan, const WindowsTarget& folders, IBuildUi& ui,
               const wchar_t* programFolder, std::wstring program)
      : plan_(plan),
        ui_(ui),
        folders_(folders),
        programFolder_(programFolder),
        program_(std::move(program)),
        output_(plan.outputName) {}

  bool Run();
  // The payload gathered and archived once, then one installer for each of `groups`.
  bool RunForGroups(std::vector<GroupInstaller>& groups, IGroupRunReport& report);

 private:
  // The working folder emptied and filled: the server-info record and the payload; the earlier
  // outputs in the packer folder deleted. False after a failure it has shown and cleaned up.
  bool GatherPayload();
  // Puts `result` at `destination`, signed there when a signer is chosen. False after a failure,
  // with `signFailed` telling whether the signing step showed why; a failed move is traced.
  bool Commit(const std::wstring& result, const std::wstring& destination, bool& signFailed);
  // One group's installer: an EXE packed from the shared archive, or an MSI copied from the
  // filled one (`shared` null) with the settings row added. False after a failure it has shown.
  bool BuildGroup(SharedArchivePack* shared, const std::wstring& settingsFolder, GroupInstaller& group);
  ArchivePackInputs PackInputs() const;
  bool CopyPayload();
  bool AfterCopy(Then then, const std::wstring& source, const std::wstring& target);
  uint32_t AntivirusPackSize(const std::wstring& source) const;
  bool SetupIsNotEmpty(const std::wstring& path) const;
  // Signs the installer at its temporary name with the plan's signer: `bytes` is what the file
  // must hold before, and gets what it holds after. A failure is shown.
  bool Sign(const wchar_t* temporary, unsigned long long& bytes);
  // Shows "Error in creating setup", cleans up and returns false.
  bool Abort();
  void CleanUp() const;

  const CreatePlan& plan_;
  IBuildUi& ui_;
  const WindowsTarget& folders_;
  const wchar_t* programFolder_;
  const std::wstring program_;
  const wchar_t* output_;
  uint32_t packSize_ = 0;
  // The settings file is written for each group of a run, not into the shared payload.
  bool settingsPerGroup_ = false;
};

bool WindowsBuild::GatherPayload() {
  if (!EmptyFolderTree(folders_.work.c_str())) {
    TraceLog(tracelog::kLevelError, kTag, L"Cannot empty the working folder %s", folders_.work.c_str());
    return Abort();
  }
  const std::wstring recordPath = folders_.work + L"\\rpinfo.dat";
  uint32_t recordError = 0;
  if (!RunStage(ui_, BuildStage::kWriteRecord, [&] {
        return CreateRPInfoDatFileForClientPackager(plan_.options, recordPath.c_str(), &recordError);
      })) {
    TraceLog(tracelog::kLevelError, kTag, L"CreateRPInfoDatFileForClientPackager failed.");
    return Abort();
  }
  if (!RunStage(ui_, BuildStage::kGatherPayload, [&] { return CopyPayload(); })) {
    return Abort();
  }
  for (const wchar_t* old : kOldOutputs) {
    ::DeleteFileW((folders_.packer + L"\\" + old).c_str());
  }
  // An earlier setup of this name that stays would pass for this build's, should the packer
  // write nothing.
  const std::wstring packed = folders_.packer + L"\\" + output_;
  if (plan_.build.kind != BuildKind::WinMsi &&
      ::GetFileAttributesW(packed.c_str()) != INVALID_FILE_ATTRIBUTES) {
    TraceLog(tracelog::kLevelError, kTag, L"Cannot delete the earlier setup %s", packed.c_str());
    return Abort();
  }
  return true;
}

bool WindowsBuild::Run() {
  const std::wstring& destinationPath = plan_.installer;
  if (!GatherPayload()) {
    return false;
  }
  const std::wstring packed = folders_.packer + L"\\" + output_;
  std::wstring result;
  if (plan_.build.kind != BuildKind::WinMsi) {
    if (!ArchiveAndPack(PackInputs(), ui_)) {
      // Reported already; what the step may have left in the packer folder goes as well.
      CleanUp();
      return false;
    }
    result = packed;
    if (!SetupIsNotEmpty(result)) {
      TraceLog(tracelog::kLevelError, kTag, L"Setup %s missing or empty after packing", result.c_str());
      return Abort();
    }
  } else {
    TraceLog(tracelog::kLevelProgress, kTag, L"Creating MSI setup file ...");
    if (!RunStage(ui_, BuildStage::kBuildMsi, [&] {
          return AddBinaryFilesToMsi(folders_.work.c_str(), output_, ui_) &&
                 VerifyMsiBinaryRows(folders_.work.c_str(), output_);
        })) {
      TraceLog(tracelog::kLevelProgress, kTag, L"MSI setup file creation... failed");
      return Abort();
    }
    TraceLog(tracelog::kLevelProgress, kTag, L"MSI setup creation success.");
    result = folders_.work + L"\\" + output_;
  }

  bool signFailed = false;
  if (!Commit(result, destinationPath, signFailed)) {
    if (signFailed) {
      // The signing step showed why; what the packer left goes.
      ::DeleteFileW(result.c_str());
      CleanUp();
      return false;
    }
    return Abort();
  }
  ui_.Show(TableMessage(uitext::kSetupCreated, {output_}, MB_OK | MB_ICONINFORMATION));
  CleanUp();
  TraceLog(tracelog::kLevelProgress, kTag, L"OnBnClickedBtnCreate success");
  return true;
}

ArchivePackInputs WindowsBuild::PackInputs() const {
  ArchivePackInputs inputs;
  inputs.workFolder = folders_.work;
  inputs.packerFolder = folders_.packer;
  inputs.programFolder = programFolder_;
  inputs.outputName = output_;
  inputs.packSize = packSize_;
  return inputs;
}

bool WindowsBuild::Commit(const std::wstring& result, const std::wstring& destination, bool& signFailed) {
  // The old installer is replaced only by a whole new one, signed when a signer is chosen, in
  // one rename; any failure keeps it.
  DWORD moveError = 0;
  signFailed = false;
  FinishTemporary sign;
  if (plan_.signer != nullptr) {
    sign = [&](const wchar_t* temporary, unsigned long long& bytes) {
      signFailed = !RunStage(ui_, BuildStage::kSign, [&] { return Sign(temporary, bytes); });
      return !signFailed;
    };
  }
  if (RunStage(ui_, BuildStage::kCommit, [&] {
        const bool moved = MoveFileIntoPlace(result.c_str(), destination.c_str(), sign);
        moveError = ::GetLastError();
        return moved;
      })) {
    return true;
  }
  if (!signFailed) {
    TraceLog(tracelog::kLevelProgress, kTag,
             L"MoveFileEx failed for tmrovane.exe (Error = %lu) :: source :: %s \t dest :: %s", moveError,
             result.c_str(), destination.c_str());
  }
  return false;
}

bool WindowsBuild::RunForGroups(std::vector<GroupInstaller>& groups, IGroupRunReport& report) {
  const bool msi = plan_.build.kind == BuildKind::WinMsi;
  settingsPerGroup_ = !msi;
  if (!GatherPayload()) {
    return false;
  }
  std::optional<SharedArchivePack> shared;
  if (msi) {
    // Filled once without the settings file, whose row each group's copy gets.
    if (!RunStage(ui_, BuildStage::kBuildMsi, [&] {
          return AddBinaryFilesToMsi(folders_.work.c_str(), output_, ui_, kSettingsFileName) &&
                 VerifyMsiBinaryRows(folders_.work.c_str(), output_, kSettingsFileName);
        })) {
      TraceLog(tracelog::kLevelProgress, kTag, L"MSI setup file creation... failed");
      return Abort();
    }
  } else {
    shared.emplace(PackInputs(), ui_);
    if (!shared->Archive()) {
      CleanUp();
      return false;
    }
  }
  // Each group's settings file (and MSI) is written here, after the payload was archived.
  const std::wstring settingsFolder = folders_.work + L"\\group";
  if (!::CreateDirectoryW(settingsFolder.c_str(), nullptr)) {
    TraceLog(tracelog::kLevelError, kTag, L"CreateDirectory failed for %s (Err -> %lu)",
             settingsFolder.c_str(), ::GetLastError());
    return Abort();
  }
  for (size_t i = 0; i < groups.size() && !report.Stopped(i); ++i) {
    report.GroupDone(i, BuildGroup(shared ? &*shared : nullptr, settingsFolder, groups[i]));
  }
  CleanUp();
  return true;
}

// Creates every level of `folder` below `root`; a level that exists must be a folder.
bool MakeFolders(const std::wstring& root, const std::wstring& folder) {
  for (size_t end = 0; end != std::wstring::npos;) {
    end = folder.find(L'\\', end + 1);
    const std::wstring level = root + L"\\" + folder.substr(0, end);
    if (!::CreateDirectoryW(level.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      TraceLog(tracelog::kLevelError, kTag, L"CreateDirectory failed for %s (Err -> %lu)", level.c_str(),
               ::GetLastError());
      return false;
    }
    const DWORD attributes = ::GetFileAttributesW(level.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      TraceLog(tracelog::kLevelError, kTag, L"%s is no folder", level.c_str());
      return false;
    }
  }
  return true;
}

bool WindowsBuild::BuildGroup(SharedArchivePack* shared, const std::wstring& settingsFolder,
                              GroupInstaller& group) {
  const std::wstring& root = folders_.destinationFolder;
  group.installer = root + (root.back() == L'\\' ? L"" : L"\\") + group.folder + L"\\" + output_;
  if (!Fits(group.installer + kTemporarySuffix)) {
    TraceLog(tracelog::kLevelError, kTag, L"Destn path %s too long", group.installer.c_str());
    ui_.Show(TableMessage(uitext::kErrInvalidPath));
    return false;
  }
  if (!MakeFolders(root.back() == L'\\' ? root.substr(0, root.size() - 1) : root, group.folder)) {
    ui_.Show(TableMessage(uitext::kErrInvalidPath));
    return false;
  }
  BuildOptions options = plan_.options;
  options.groupGuid = group.guid;
  const std::wstring settings = settingsFolder + L"\\" + kSettingsFileName;
  const std::wstring result =
      shared != nullptr ? folders_.packer + L"\\" + output_ : settingsFolder + L"\\" + output_;
  if (!RemoveLeftoverTemporary(group.installer.c_str()) ||
      !::CopyFileW((folders_.webBuild + L"\\" + kSettingsFileName).c_str(), settings.c_str(), FALSE) ||
      !WriteBuildSettings(settings.c_str(),
                          BuildSettingsFor(plan_.build.kind, options, plan_.alternateAddress.c_str()),
                          kTag)) {
    TraceLog(tracelog::kLevelError, kTag, L"The settings file of group %s not written", group.guid.c_str());
    ui_.Show(TableMessage(uitext::kErrCreateSetup));
    return false;
  }
  if (shared != nullptr) {
    if (!shared->Pack(settings)) {
      return false;
    }
  } else if (!RunStage(ui_, BuildStage::kBuildMsi, [&] {
               return ::CopyFileW((folders_.work + L"\\" + output_).c_str(), result.c_str(), FALSE) &&
                      InsertMsiBinaryRow(result.c_str(), settingsFolder.c_str(), kSettingsFileName, ui_);
             })) {
    TraceLog(tracelog::kLevelError, kTag, L"The MSI of group %s not written", group.guid.c_str());
    ui_.Show(TableMessage(uitext::kErrCreateSetup));
    ::DeleteFileW(result.c_str());
    return false;
  }
  if (!SetupIsNotEmpty(result)) {
    TraceLog(tracelog::kLevelError, kTag, L"Setup %s missing or empty after packing", result.c_str());
    ui_.Show(TableMessage(uitext::kErrCreateSetup));
    ::DeleteFileW(result.c_str());
    return false;
  }
  bool signFailed = false;
  if (!Commit(result, group.installer, signFailed)) {
    if (!signFailed) {
      ui_.Show(TableMessage(uitext::kErrCreateSetup));
    }
    ::DeleteFileW(result.c_str());
    return false;
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"Installer of group %s: %s", group.guid.c_str(),
           group.installer.c_str());
  return true;
}

bool WindowsBuild::CopyPayload() {
  const bool is64 = plan_.build.bitness == 64;
  for (const PlanCopy& copy : kPlan) {
    if (!Applies(copy.when, plan_.build) || (settingsPerGroup_ && copy.then == Then::kSettings)) {
      continue;
    }
    const wchar_t* name = is64 && copy.name64 != nullptr ? copy.name64 : copy.name32;
    const std::wstring& folder = copy.from == From::kWebBuild             ? folders_.webBuild
                                 : copy.from == From::kUiLibrary && !is64 ? program_
                                                                          : folders_.packer;
    const std::wstring source = folder + L"\\" + name;
    const std::wstring target = folders_.work + L"\\" + (copy.asOutput ? output_ : name);
    const bool msiStyle = copy.msiTrace;
    if (!Fits(source) || !Fits(target) || !::CopyFileW(source.c_str(), target.c_str(), FALSE)) {
      const DWORD error = Fits(source) && Fits(target) ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
      if (msiStyle) {
        TraceLog(tracelog::kLevelError, kTag, copy.failure, source.c_str(), target.c_str(), error);
      } else {
        TraceLog(tracelog::kLevelError, kTag, copy.failure, static_cast<unsigned long>(error));
      }
      return false;
    }
    if (msiStyle) {
      TraceLog(tracelog::kLevelProgress, kTag, L"File Copy success. Source (%s), Destination (%s)",
               source.c_str(), target.c_str());
    } else {
      TraceLog(tracelog::kLevelProgress, kTag, L"File Copy Success ..... source=>%-70s \t Destination=>%s",
               source.c_str(), target.c_str());
    }
    if (!AfterCopy(copy.then, source, target)) {
      return false;
    }
  }
  return true;
}

bool WindowsBuild::AfterCopy(Then then, const std::wstring& source, const std::wstring& target) {
  switch (then) {
    case Then::kNothing:
      return true;
    case Then::kSettings:
      return WriteBuildSettings(
          target.c_str(), BuildSettingsFor(plan_.build.kind, plan_.options, plan_.alternateAddress.c_str()),
          kTag);
    case Then::kBasePackSize:
      packSize_ = kBasePackSize;
      return true;
    case Then::kAntivirusPackSize:
      packSize_ = AntivirusPackSize(source);
      return true;
    case Then::kPlanFor64Bit:
      if (plan_.build.bitness != 64) {
        return true;
      }
      TraceLog(
          tracelog::kLevelProgress, kTag,
          L"Change pkgplan.ini [CLIENT_PACKAGE] & [CLIENT_INSTALLER] section setup name to NDSETP64.EXE");
      if (!::WritePrivateProfileStringW(kPlanPackageSection, L"0", kSetup64, target.c_str()) ||
          !::WritePrivateProfileStringW(kPlanInstallerSection, L"SETUP", kSetup64, target.c_str())) {
        TraceLog(tracelog::kLevelProgress, kTag, L"WritePrivateProfileString failed (Err -> %u)",
                 ::GetLastError());
        return false;
      }
      return true;
  }
  return false;
}

// Twice the desktop component's whole megabytes, plus the base; 0 when it cannot be read.
uint32_t WindowsBuild::AntivirusPackSize(const std::wstring& source) const {
  const fw::UniqueKernelHandle file(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size)) {
    TraceLog(tracelog::kLevelError, kTag, L"open file failed for tmhostsv.exe");
    return 0;
  }
  return static_cast<uint32_t>(size.QuadPart / kBytesPerMb) * 2 + kBasePackSize;
}

bool WindowsBuild::SetupIsNotEmpty(const std::wstring& path) const {
  unsigned long long bytes = 0;
  return ReadFileSize(path.c_str(), bytes) && bytes != 0;
}

bool WindowsBuild::Sign(const wchar_t* temporary, unsigned long long& bytes) {
  // A short copy is not signed: the signature would cover the wrong bytes.
  unsigned long long before = 0;
  if (!ReadFileSize(temporary, before) || before != bytes) {
    TraceLog(tracelog::kLevelError, kTag, L"%s does not hold the %llu bytes of the installer", temporary,
             bytes);
    ui_.Show(TableMessage(uitext::kErrCreateSetup));
    return false;
  }
  DWORD error = 0;
  signing::SignOptions options;
  options.timestampUrl = plan_.timestampUrl;
  std::wstring problem;
  const signing::SignResult result = signing::SignFile(temporary, *plan_.signer, error, options, &problem);
  std::wstring why;
  switch (result) {
    case signing::SignResult::kSigned:
      if (ReadFileSize(temporary, bytes)) {
        TraceLog(tracelog::kLevelProgress, kTag, L"Signed %s (%llu bytes)", temporary, bytes);
        return true;
      }
      error = ::GetLastError();
      why = L"it cannot be read after signing";
      break;
    case signing::SignResult::kAlreadySigned:
      why = L"the packer's setup carries a signature that cannot take another one nested in it";
      break;
    case signing::SignResult::kTimestampFailed:
      why = L"the time-stamp authority " + plan_.timestampUrl + L" gave no timestamp: " + problem;
      break;
    case signing::SignResult::kUnsupported:
      why = L"it is neither a program image under 4 GiB nor an MSI database";
      break;
    case signing::SignResult::kReadFailed:
      why = L"it cannot be read";
      break;
    case signing::SignResult::kWriteFailed:
      why = L"the signature cannot be written into it";
      break;
    case signing::SignResult::kSignFailed:
      why = L"the certificate's key refused to sign";
      break;
  }
  wchar_t code[16] = L"";
  if (error != 0) {
    std::swprintf(code, std::size(code), L"0x%08lX", static_cast<unsigned long>(error));
  }
  TraceLog(tracelog::kLevelError, kTag, L"Signing %s failed: %s (Err -> %s)", temporary, why.c_str(), code);
  ui_.Show(OwnMessage(L"The installer " + std::wstring(output_) + L" was not signed: " + why +
                      (error != 0 ? L" (error " + std::wstring(code) + L")" : L"") +
                      L". No installer was replaced."));
  return false;
}

bool WindowsBuild::Abort() {
  ui_.Show(TableMessage(uitext::kErrCreateSetup));
  CleanUp();
  return false;
}

void WindowsBuild::CleanUp() const {
  ::DeleteFileW((folders_.packer + L"\\" + kArchiveName).c_str());
  if (plan_.build.kind != BuildKind::WinMsi) {
    ::DeleteFileW((folders_.packer + L"\\" + output_).c_str());
  }
}

// Free space of the destination folder itself (also a share's). A network destination whose free
// space cannot be read is not checked.
bool HasDiskSpace(const std::wstring& folder, BuildKind kind) {
  const std::wstring query = folder.back() == L'\\' ? folder : folder + L"\\";
  const bool network =
      query.compare(0, 2, L"\\\\") == 0 || ::GetDriveTypeW(query.substr(0, 3).c_str()) == DRIVE_REMOTE;
  ULARGE_INTEGER available{};
  if (network && !::GetDiskFreeSpaceExW(query.c_str(), &available, nullptr, nullptr)) {
    TraceLog(tracelog::kLevelProgress, kTag, L"Free space of %s unknown (Err -> %u): not checked",
             query.c_str(), ::GetLastError());
    return true;
  }
  return IsDiskSpaceAvailable(query.c_str(), kind == BuildKind::WinExeAv ? kAntivirusSpaceMb : kOtherSpaceMb);
}

// The checks of a Windows build and its working folder, before any file work. False after a
// refusal or failure it has shown.
bool StartWindowsBuild(const CreatePlan& plan, const WindowsTarget& folders, IBuildUi& ui,
                       const std::wstring* installer) {
  TraceLog(tracelog::kLevelProgress, kTag, L"called");
  if (folders.destinationRefusal) {
    TraceLog(tracelog::kLevelError, kTag, folders.destinationRefusal.trace, plan.options.destination.c_str());
    ui.Show(TableMessage(*folders.destinationRefusal.text));
    return false;
  }
  if (plan.addressRefusal != nullptr) {
    ui.Show(TableMessage(*plan.addressRefusal));
    return false;
  }
  if (!HasDiskSpace(folders.destinationFolder, plan.build.kind)) {
    ui.Show(TableMessage(uitext::kErrDiskSpace));
    return false;
  }
  if (plan.build.kind == BuildKind::WinExeAv && !ui.Ask(BuildQuestion::kTakesSomeTime)) {
    return false;
  }
  ui.PaintNow();
  if (installer != nullptr && !RemoveLeftoverTemporary(installer->c_str())) {
    ui.Show(TableMessage(uitext::kErrCreateSetup));
    return false;
  }

  TraceLog(tracelog::kLevelProgress, kTag, L"Web build path: %s", folders.webBuild.c_str());
  TraceLog(tracelog::kLevelProgress, kTag, L"Client packer: %s", folders.packer.c_str());
  TraceLog(tracelog::kLevelProgress, kTag, L"Creating directory: %s", folders.work.c_str());
  // The longest path below the working folder is a payload name of up to 27 characters.
  // An existing working folder is used as it is; a file of that name is no working folder.
  const auto haveWorkFolder = [&] {
    if (!::CreateDirectoryW(folders.work.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    const DWORD attributes = ::GetFileAttributesW(folders.work.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  };
  if (!Fits(folders.work + L"\\Microsoft.VC90.CRT.manifest") || !haveWorkFolder()) {
    TraceLog(tracelog::kLevelError, kTag, L"CreateDirectory failed");
    ui.Show(TableMessage(uitext::kErrCreateSetup));
    return false;
  }
  return true;
}

std::wstring WithoutTrailingBackslash(const wchar_t* folder) {
  std::wstring program = folder;
  if (!program.empty() && program.back() == L'\\') {
    program.pop_back();
  }
  return program;
}

}  // namespace

bool CreateClientSetupExe(const CreatePlan& plan, const WindowsTarget& folders, IBuildUi& ui,
                          const wchar_t* programFolder) {
  if (!StartWindowsBuild(plan, folders, ui, &plan.installer)) {
    return false;
  }
  // Goes after the build, and so after its last message.
  WorkingFolderGuard workFolder;
  workFolder.Arm(folders.work.c_str(), kTag);
  return WindowsBuild(plan, folders, ui, programFolder, WithoutTrailingBackslash(programFolder)).Run();
}

bool CreateClientSetupsForGroups(const CreatePlan& plan, const WindowsTarget& folders,
                                 std::vector<GroupInstaller>& groups, IBuildUi& ui,
                                 const wchar_t* programFolder, IGroupRunReport& report) {
  if (!StartWindowsBuild(plan, folders, ui, nullptr)) {
    return false;
  }
  WorkingFolderGuard workFolder;
  workFolder.Arm(folders.work.c_str(), kTag);
  return WindowsBuild(plan, folders, ui, programFolder, WithoutTrailingBackslash(programFolder))
      .RunForGroups(groups, report);
}
