#include "build/create.h"

#include <algorithm>
#include <iterator>
#include <optional>

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

// Passes everything on to the caller's UI and keeps what ended the build: the last error shown,
// and whether a question that stops the build was answered No.
class RecordingUi final : public IBuildUi {
 public:
  explicit RecordingUi(IBuildUi& ui) : ui_(ui) {}

  void Show(const BuildMessage& message) override {
    if ((message.style & MB_ICONMASK) == MB_ICONERROR) {
      lastError_ = message;
    }
    ui_.Show(message);
  }
  bool Ask(BuildQuestion question) override {
    const bool yes = ui_.Ask(question);
    declined_ = declined_ || (!yes && question != BuildQuestion::kProtectWithPassword);
    return yes;
  }
  PasswordAnswer AskPassword(passwordfile::Password& password) override { return ui_.AskPassword(password); }
  void PaintNow() override { ui_.PaintNow(); }
  void Stage(BuildStage stage, bool started) override { ui_.Stage(stage, started); }

  const BuildMessage* lastError() const { return lastError_ ? &*lastError_ : nullptr; }
  bool declined() const { return declined_; }

 private:
  IBuildUi& ui_;
  std::optional<BuildMessage> lastError_;
  bool declined_ = false;
};

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
  RecordingUi ui(shownTo);
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
  if (const BuildMessage* error = ui.lastError()) {
    result.messageId = error->id();
    result.message = error->Format();
    result.outcome = IsRefusal(*error) ? CreateOutcome::kRefused : CreateOutcome::kFailed;
  } else if (ui.declined()) {
    result.outcome = CreateOutcome::kDeclined;
  }
  return result;
}
