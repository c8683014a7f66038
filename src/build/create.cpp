#include "build/create.h"

#include <algorithm>
#include <iterator>

#include "build/create_plan.h"
#include "build/installer_hash.h"
#include "build/linux_build.h"
#include "build/mac_build.h"
#include "build/windows_build.h"
#include "log/trace_log.h"
#include "uitext/ui_text.h"

namespace {

constexpr wchar_t kCreateTag[] = L"CreateClientSetupExe";

// The texts of the checks that refuse what was asked for, before anything is built.
constexpr const UiText* kRefusals[] = {&uitext::kErrInvalidPath,     &uitext::kErrDiskSpace,
                                       &uitext::kErrInvalidIp,       &uitext::kErrInvalidDomain,
                                       &uitext::kErrMacFilesMissing, &uitext::kErrLinuxFilesMissing};

bool IsRefusal(const BuildMessage& message) {
  return std::find(std::begin(kRefusals), std::end(kRefusals), message.text) != std::end(kRefusals);
}

// The end of a Mac or Linux build: a failure is traced (the build showed its message), a success
// shown as 118 with the archive's name and the folder it is served from.
bool ReportTarBuild(const CreatePlan& plan, const TarTarget& served, IBuildUi& ui, bool built,
                    const wchar_t* failure) {
  if (!built) {
    TraceLog(tracelog::kLevelError, kCreateTag, failure);
    return false;
  }
  ui.Show(TableMessage(uitext::kTarCreatedAt, {plan.outputName, served.servedFolder},
                       MB_OK | MB_ICONINFORMATION));
  return true;
}

}  // namespace

CreateResult RunCreate(const BuildOptions& options, IBuildUi& shownTo, const wchar_t* programFolder,
                       const wchar_t* tag, const signing::SigningCertificate* signer,
                       const std::wstring& timestampUrl) {
  CreatePlan plan = PlanCreate(options);
  plan.signer = signer;
  plan.timestampUrl = timestampUrl;
  RecordingBuildUi ui(shownTo);
  bool built = false;
  if (const auto* windows = std::get_if<WindowsTarget>(&plan.target)) {
    if (programFolder == nullptr) {
      TraceLog(tracelog::kLevelError, tag, L"GetProgramFolder failed");
      ui.Show(TableMessage(uitext::kErrCreateSetup));
    } else {
      built = CreateClientSetupExe(plan, *windows, ui, programFolder);
    }
  } else if (plan.addressRefusal != nullptr) {
    // An invalid alternate address stops a Mac or Linux build before anything is touched.
    ui.Show(TableMessage(*plan.addressRefusal));
  } else if (const auto* mac = std::get_if<MacTarget>(&plan.target)) {
    built = ReportTarBuild(plan, *mac, ui, CreateMacClientBuildFile(plan, *mac, ui),
                           L"CreateMacClientBuildFile failed");
  } else if (const auto* linuxTarget = std::get_if<LinuxTarget>(&plan.target)) {
    built = ReportTarBuild(plan, *linuxTarget, ui, CreateLinuxClientBuildFile(plan, *linuxTarget, ui),
                           L"CreateLinuxClientBuildFile failed");
  }

  CreateResult result;
  result.kind = plan.build.kind;
  if (built) {
    result.outcome = CreateOutcome::kBuilt;
    result.installer = plan.installer;
    if (HashFileSha256(result.installer.c_str(), result.sha256)) {
      TraceLog(tracelog::kLevelError, tag, L"SHA-256 of %s: %s", result.installer.c_str(),
               result.sha256.c_str());
    } else {
      TraceLog(tracelog::kLevelError, tag, L"SHA-256 of %s not computed (Err -> %u)",
               result.installer.c_str(), ::GetLastError());
    }
    return result;
  }
  DescribeEnd(ui, result);
  return result;
}

void DescribeEnd(const RecordingBuildUi& ui, CreateResult& result) {
  if (const BuildMessage* error = ui.lastError()) {
    result.messageId = error->id();
    result.message = error->Format();
    result.outcome = IsRefusal(*error) ? CreateOutcome::kRefused : CreateOutcome::kFailed;
  } else if (ui.declined()) {
    result.outcome = CreateOutcome::kDeclined;
  }
}
