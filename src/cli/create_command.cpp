// create: one installer through the dialog's Create pipeline, its choices from the command line.

#include <windows.h>

#include <array>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "build/create.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "cli/console_ui.h"
#include "cli/each_group_command.h"
#include "groups/group_library.h"
#include "groups/group_tree.h"
#include "installation/server_paths.h"
#include "log/trace_log.h"
#include "password/password_file.h"
#include "password/set_pwd_dialog.h"
#include "program/program_services.h"
#include "signing/certificate.h"
#include "signing/timestamp.h"
#include "uitext/ui_text.h"

namespace cli {
namespace {

constexpr wchar_t kTag[] = L"tmrovane.com create";

constexpr OptionSpec kCreateOptions[] = {
    {L"--platform", L"windows|mac|linux", L"OS platform (windows)"},
    {L"--package", L"custom|minimal", L"Client Agent package (custom); minimal is a Windows EXE"},
    {L"--setup", L"exe32|exe64|msi32|msi64|32|64",
     L"setup type: for Windows exe32 (the default), exe64, msi32 or\nmsi64; for Linux 32 (the default) or "
     L"64"},
    {L"--antivirus", L"yes|no", L"antivirus setup included (yes); Windows EXE and Mac"},
    {L"--validity", L"30|60|90|180", L"validity period in days; Minimal package only"},
    {L"--destination", L"FOLDER",
     L"where a Windows installer goes (Mac and Linux builds\ngo under the server's web build folder)"},
    {L"--group", L"PATH|GUID",
     L"the group, by its path in the tree\n(Workstations\\Engineering) or its GUID; Default"},
    {L"--ip", L"ADDRESS", L"the alternate connection by IP address, when the server\noffers it"},
    {L"--domain", L"NAME", L"the alternate connection by domain name, when the server\noffers it"},
    {L"--password-env", L"VARIABLE",
     L"protect an EXE setup with the password held in this\nenvironment variable; the variable is removed "
     L"once read"},
    {L"--sign-thumbprint", L"HEX",
     L"sign a Windows installer with the certificate of this SHA-1\nthumbprint, from the current user's "
     L"My store or the\nmachine's"},
    {L"--sign-pfx", L"FILE", L"sign a Windows installer with the certificate and key of\nthis PFX file"},
    {L"--sign-pfx-password-env", L"VARIABLE",
     L"the PFX file's password, held in this environment variable;\nthe variable is removed once read"},
    {L"--timestamp", L"URL",
     L"have the signature stamped by this RFC 3161 time-stamp\nauthority (http:// or https://), so that it "
     L"outlives the\ncertificate"},
    {L"--each-group", nullptr,
     L"an installer for every group at or under --group (the whole\ntree without it), each in a folder "
     L"named after the\ngroups' path below --destination; Windows only"},
    {L"--yes", nullptr,
     L"answer Yes to \"this will take some time\" and to\nbuilding a Mac or Linux TAR again"},
    {L"--json", nullptr, L"the outcome as one JSON object on standard output"},
    {L"--quiet", nullptr,
     L"no stage lines on standard error, only the messages (stages\nare shown live on a console, "
     L"one line each with its\nduration otherwise)"},
};

// A value of the command line and the combo index it selects.
struct Choice {
  const wchar_t* text;
  int index;
};
constexpr Choice kPlatforms[] = {
    {L"windows", kPlatformWindows}, {L"mac", kPlatformMac}, {L"linux", kPlatformLinux}};
constexpr Choice kPackages[] = {{L"custom", kPackageCustom}, {L"minimal", kPackageMinimal}};
constexpr Choice kWindowsSetups[] = {
    {L"exe32", kSetupExe32}, {L"exe64", kSetupExe64}, {L"msi32", kSetupMsi32}, {L"msi64", kSetupMsi64}};
constexpr Choice kLinuxSetups[] = {{L"32", kSetupLinux32}, {L"64", kSetupLinux64}};
constexpr Choice kAntivirus[] = {{L"yes", kAntivirusYes}, {L"no", kAntivirusNo}};

template <size_t N>
bool Select(const Arguments& arguments, const wchar_t* option, const Choice (&choices)[N], int& index,
            std::wstring& error) {
  if (!arguments.Has(option)) {
    return true;
  }
  const std::wstring value = arguments.Value(option);
  for (const Choice& choice : choices) {
    if (value == choice.text) {
      index = choice.index;
      return true;
    }
  }
  error = L"bad value for " + std::wstring(option) + L": " + value;
  return false;
}

// Options the dialog does not offer for these choices: refused rather than dropped silently.
bool RefuseUnoffered(const Arguments& arguments, std::initializer_list<const wchar_t*> options,
                     const wchar_t* why, std::wstring& error) {
  for (const wchar_t* option : options) {
    if (arguments.Has(option)) {
      error = std::wstring(option) + L" is not offered " + why;
      return false;
    }
  }
  return true;
}

// The administrator's choices from the command line into the dialog's combo indexes.
bool ReadChoices(const Arguments& arguments, BuildOptions& options, std::wstring& error) {
  if (!Select(arguments, L"--platform", kPlatforms, options.platformIndex, error) ||
      !Select(arguments, L"--package", kPackages, options.packageIndex, error) ||
      !Select(arguments, L"--antivirus", kAntivirus, options.antivirusIndex, error)) {
    return false;
  }
  if (options.packageIndex == kPackageMinimal) {
    if (!RefuseUnoffered(arguments, {L"--platform", L"--setup", L"--antivirus"}, L"with the Minimal package",
                         error)) {
      return false;
    }
    if (arguments.Has(L"--validity")) {
      const std::wstring days = arguments.Value(L"--validity");
      for (size_t i = 0; i < std::size(kValidityDays); ++i) {
        if (days == std::to_wstring(kValidityDays[i])) {
          options.validityChecked = true;
          options.validityIndex = static_cast<int>(i);
        }
      }
      if (!options.validityChecked) {
        error = L"bad value for --validity: " + days + L" (30, 60, 90 or 180)";
        return false;
      }
    }
    return true;
  }
  if (!RefuseUnoffered(arguments, {L"--validity"}, L"without the Minimal package", error)) {
    return false;
  }
  switch (options.platformIndex) {
    case kPlatformWindows:
      if (!Select(arguments, L"--setup", kWindowsSetups, options.setupTypeIndex, error)) {
        return false;
      }
      return options.setupTypeIndex < kSetupMsi32 ||
             RefuseUnoffered(arguments, {L"--antivirus", L"--password-env"}, L"for an MSI", error);
    case kPlatformMac:
      return RefuseUnoffered(arguments,
                             {L"--setup", L"--destination", L"--password-env", L"--sign-thumbprint",
                              L"--sign-pfx", L"--sign-pfx-password-env", L"--timestamp", L"--each-group"},
                             L"for Mac", error);
    default:
      return Select(arguments, L"--setup", kLinuxSetups, options.setupTypeIndex, error) &&
             RefuseUnoffered(
                 arguments,
                 {L"--antivirus", L"--group", L"--destination", L"--password-env", L"--sign-thumbprint",
                  L"--sign-pfx", L"--sign-pfx-password-env", L"--timestamp", L"--each-group"},
                 L"for Linux", error);
  }
}

// How the command ended, and the message that ended it when it was not built.
struct Report {
  Outcome outcome = Outcome::kRefused;
  UINT messageId = uitext::kOwnText;
  std::wstring message;
  CreateResult result;   // the build's, once it ran
  bool written = false;  // the report is on standard output already (--each-group)
};

// A refusal or failure in a text of the program's own, written to standard error.
Report Stop(Outcome outcome, const std::wstring& text) {
  WriteErr(text + L"\n");
  return {outcome, uitext::kOwnText, text, {}};
}

// A refusal or failure in a text of the table, written with its ID.
Report Stop(Outcome outcome, const UiText& text) {
  wchar_t loaded[1024];
  LoadUiText(text, loaded);
  WriteErr(MessageLine(text.id, loaded) + L"\n");
  return {outcome, text.id, loaded, {}};
}

Report UsageError(const std::wstring& error) {
  WriteUsageError(L"create", error);
  return {Outcome::kRefused, uitext::kOwnText, L"tmrovane create: " + error, {}};
}

// A secret read from the environment variable the administrator named, wiped when it goes.
class EnvironmentSecret {
 public:
  EnvironmentSecret() = default;
  EnvironmentSecret(const EnvironmentSecret&) = delete;
  EnvironmentSecret& operator=(const EnvironmentSecret&) = delete;
  ~EnvironmentSecret() { SecureZeroMemory(text_.data(), sizeof text_); }

  // Reads `variable` and removes it at once, whatever it holds, since 7-Zip and the packer
  // inherit the environment. The length; 0 when it is not set or empty, more than kCapacity when
  // it is too long (nothing is then held).
  DWORD Take(const std::wstring& variable) {
    const DWORD length = ::GetEnvironmentVariableW(variable.c_str(), text_.data(), kCapacity);
    ::SetEnvironmentVariableW(variable.c_str(), nullptr);
    if (length >= kCapacity) {
      SecureZeroMemory(text_.data(), sizeof text_);
    }
    return length;
  }
  const wchar_t* c_str() const { return text_.data(); }

  static constexpr DWORD kCapacity = 1024;

 private:
  std::array<wchar_t, kCapacity> text_{};
};

// The password from the environment variable the administrator named, checked by the password
// dialog's rules. False with the report.
bool TakePassword(const std::wstring& variable, passwordfile::Password& password, Report& report) {
  EnvironmentSecret text;
  const DWORD length = text.Take(variable);
  const UiText* refusal = nullptr;
  if (length == 0) {
    report = UsageError(L"the environment variable " + variable + L" is not set or empty");
  } else if (length < CSetPwdDialog::kMinLength || length > CSetPwdDialog::kMaxLength) {
    refusal = &uitext::kErrPwdLength;
  } else if (!CSetPwdDialog::ValidatePassword(text.c_str())) {
    refusal = &uitext::kErrPwdHasSpace;
  } else if (!password.Assign(text.c_str())) {
    refusal = &uitext::kErrPwdNotStorable;
  }
  if (refusal != nullptr) {
    report = Stop(Outcome::kRefused, *refusal);
  }
  return length != 0 && refusal == nullptr;
}

// The PFX file's password from the variable --sign-pfx-password-env names, removed at once; an
// empty password without it. False with the report.
bool TakePfxPassword(const Arguments& arguments, EnvironmentSecret& password, Report& report) {
  if (!arguments.Has(L"--sign-pfx-password-env")) {
    return true;
  }
  const std::wstring variable = arguments.Value(L"--sign-pfx-password-env");
  const DWORD length = password.Take(variable);
  if (length == 0 || length >= EnvironmentSecret::kCapacity) {
    report =
        UsageError(L"the environment variable " + variable +
                   (length == 0 ? L" is not set or empty" : L" holds a password too long for a PFX file"));
    return false;
  }
  return true;
}

// What a refused signing certificate lacks, as the administrator reads it.
const wchar_t* CertificateRefusal(signing::CertificateCheck check) {
  switch (check) {
    case signing::CertificateCheck::kBadThumbprint:
      return L"the thumbprint is not 40 hexadecimal digits";
    case signing::CertificateCheck::kNotFound:
      return L"no certificate with this thumbprint is in the current user's or the local machine's My store";
    case signing::CertificateCheck::kPfxUnreadable:
      return L"the PFX file cannot be read";
    case signing::CertificateCheck::kWrongPassword:
      return L"the PFX file does not open with this password";
    case signing::CertificateCheck::kNoCodeSigning:
      return L"it is not issued for code signing";
    case signing::CertificateCheck::kOutsideValidity:
      return L"it is expired or not yet valid";
    case signing::CertificateCheck::kNotRsa:
      return L"its key is not an RSA key";
    case signing::CertificateCheck::kNoPrivateKey:
      return L"its private key is missing or cannot be used without a prompt";
    case signing::CertificateCheck::kKeyMismatch:
      return L"its private key, as imported, does not make signatures that its certificate verifies";
    case signing::CertificateCheck::kOk:
      break;
  }
  return L"";
}

// The certificate the signing options name, checked before anything is built; none without
// them. False with the report.
bool TakeSigner(const Arguments& arguments, const EnvironmentSecret& pfxPassword,
                std::unique_ptr<signing::SigningCertificate>& signer, Report& report) {
  const bool byThumbprint = arguments.Has(L"--sign-thumbprint");
  const bool byPfx = arguments.Has(L"--sign-pfx");
  if (byThumbprint && byPfx) {
    report = Stop(Outcome::kRefused, L"tmrovane create: --sign-thumbprint and --sign-pfx exclude each other");
    return false;
  }
  if (arguments.Has(L"--sign-pfx-password-env") && !byPfx) {
    report = Stop(Outcome::kRefused, L"tmrovane create: --sign-pfx-password-env needs --sign-pfx");
    return false;
  }
  if (arguments.Has(L"--timestamp")) {
    const std::wstring url = arguments.Value(L"--timestamp");
    if (!byThumbprint && !byPfx) {
      report = Stop(Outcome::kRefused, L"tmrovane create: --timestamp needs --sign-thumbprint or --sign-pfx");
      return false;
    }
    if (!signing::IsTimestampUrl(url)) {
      report = Stop(Outcome::kRefused,
                    L"tmrovane create: bad value for --timestamp: " + url + L" (an http:// or https:// URL)");
      return false;
    }
  }
  if (!byThumbprint && !byPfx) {
    return true;
  }
  const signing::CertificateCheck check =
      byThumbprint ? signing::SelectByThumbprint(arguments.Value(L"--sign-thumbprint"), signer)
                   : signing::SelectFromPfx(arguments.Value(L"--sign-pfx"), pfxPassword.c_str(), signer);
  if (check == signing::CertificateCheck::kOk) {
    return true;
  }
  TraceLog(tracelog::kLevelError, kTag, L"Signing certificate refused: %s",
           signing::CertificateCheckName(check));
  report = Stop(Outcome::kRefused, std::wstring(L"The signing certificate is refused: ") +
                                       CertificateRefusal(check) + L" (check: " +
                                       signing::CertificateCheckName(check) + L").");
  return false;
}

// What the dialog finds at start-up: the server's folders, the installation mode and the
// default group. False, with the report, when it cannot go on.
bool ReadServer(BuildOptions& options, Report& report) {
  wchar_t installFolder[installation::kPathCapacity];
  installation::FindInstallFolder(installFolder, kTag);
  wchar_t webBuildFolder[installation::kPathCapacity] = L"";
  installation::BuildWebBuildFolder(installFolder, webBuildFolder);
  wchar_t configPath[installation::kPathCapacity] = L"";
  installation::BuildConfigFilePath(installFolder, configPath);
  options.installFolder = installFolder;
  options.webBuildFolder = webBuildFolder;
  options.installationMode = installation::ReadInstallMode(configPath);

  wchar_t guid[groups::kGuidCapacity] = {};
  const groups::DefaultGroupResult group =
      groups::ReadDefaultGroupGuid(guid, static_cast<int>(groups::kGuidCapacity), kTag);
  if (group != groups::DefaultGroupResult::kLoaded) {
    report = Stop(Outcome::kFailed, uitext::kErrLoadGroups);
    if (group == groups::DefaultGroupResult::kFailed) {
      return false;
    }
  }
  options.groupGuid = guid;
  wchar_t text[1024];
  LoadUiText(uitext::kDefaultGroupName, text);
  options.groupName = text;
  if (!installation::IsInstallFolderFound(installFolder)) {
    TraceLog(tracelog::kLevelError, kTag, L"Server installation folder not found: %s", installFolder);
    report = Stop(Outcome::kFailed, uitext::kErrCreateSetup);
    return false;
  }
  return true;
}

// The group named on the command line, from the server's tree. False with the report.
bool ChooseGroup(const std::wstring& selector, BuildOptions& options, Report& report) {
  std::vector<groups::TreeGroup> tree;
  if (!groups::ReadGroupTree(tree, kTag)) {
    report = Stop(Outcome::kFailed, uitext::kErrLoadGroups);
    return false;
  }
  const groups::TreeGroup* group = nullptr;
  switch (groups::FindGroup(tree, selector, &group)) {
    case groups::FindResult::kFound:
      options.groupName = group->name;
      options.groupGuid = group->guid;
      return true;
    case groups::FindResult::kNotFound:
      report = Stop(Outcome::kRefused,
                    L"No group " + selector + L" in the server's group tree (see: tmrovane groups).");
      return false;
    case groups::FindResult::kAmbiguous:
      report = Stop(Outcome::kRefused,
                    L"More than one group has the path " + selector + L"; name it by its GUID.");
      return false;
    case groups::FindResult::kNoGuid:
      report =
          Stop(Outcome::kRefused, L"The group " + selector + L" has no valid GUID and cannot be chosen.");
      return false;
  }
  return false;
}

// The build's outcome as the console's.
Outcome OutcomeOf(const CreateResult& result, const ConsoleUi& ui) {
  switch (result.outcome) {
    case CreateOutcome::kBuilt:
      return Outcome::kBuilt;
    case CreateOutcome::kRefused:
      return Outcome::kRefused;
    case CreateOutcome::kDeclined:
      // The console declines only the questions it had no answer for.
      return ui.unanswered() ? Outcome::kUnanswered : Outcome::kFailed;
    case CreateOutcome::kFailed:
      break;
  }
  return Outcome::kFailed;
}

Report Create(const Arguments& arguments, const passwordfile::Password& password,
              const EnvironmentSecret& pfxPassword, const wchar_t* programFolder) {
  Report report;
  BuildOptions options;
  if (!ReadServer(options, report)) {
    return report;
  }
  std::wstring error;
  if (!ReadChoices(arguments, options, error)) {
    return Stop(Outcome::kRefused, L"tmrovane create: " + error);
  }
  const bool eachGroup = arguments.Has(L"--each-group");
  if (!eachGroup && arguments.Has(L"--group") && !ChooseGroup(arguments.Value(L"--group"), options, report)) {
    return report;
  }
  if (arguments.Has(L"--ip") || arguments.Has(L"--domain")) {
    if (options.installationMode != installation::kInstallModeOffered) {
      return Stop(Outcome::kRefused, L"This server's configuration does not offer an alternate connection.");
    }
    if (arguments.Has(L"--ip") && arguments.Has(L"--domain")) {
      return Stop(Outcome::kRefused, L"tmrovane create: --ip and --domain exclude each other");
    }
    options.alternateConnection = true;
    options.alternateByDomainName = arguments.Has(L"--domain");
    options.alternateIp = IpControlText(arguments.Value(L"--ip"));
    options.alternateDomain = arguments.Value(L"--domain");
  }
  options.destination = arguments.Value(L"--destination");
  std::unique_ptr<signing::SigningCertificate> signer;
  if (!TakeSigner(arguments, pfxPassword, signer, report)) {
    return report;
  }

  // A run for each group shows a line per group instead of stages.
  ConsoleUi ui(arguments.Has(L"--yes"), password,
               arguments.Has(L"--quiet") || eachGroup ? StageLines::kNone : StageLinesForStandardError());
  if (eachGroup) {
    const std::wstring selector = arguments.Value(L"--group");
    report.outcome =
        CreateForEachGroup(options, arguments.Has(L"--group") ? &selector : nullptr, ui, programFolder,
                           signer.get(), arguments.Value(L"--timestamp"), arguments.Has(L"--json"));
    report.written = true;
    return report;
  }
  // Standard output carries the installer's path alone: what 7-Zip and the packer write is read
  // by the build through a pipe (ConsoleUi follows progress).
  try {
    report.result =
        RunCreate(options, ui, programFolder, kTag, signer.get(), arguments.Value(L"--timestamp"));
  } catch (const std::exception& failure) {
    TraceLog(tracelog::kLevelError, kTag, L"The build ended by an exception");
    return Stop(Outcome::kFailed, L"tmrovane create: " + FromUtf8(failure.what()));
  }
  report.outcome = OutcomeOf(report.result, ui);
  report.messageId = report.result.messageId;
  report.message = report.result.message;
  if (report.outcome == Outcome::kBuilt) {
    WriteErr(L"SHA-256: " + (report.result.sha256.empty() ? L"(cannot be read)" : report.result.sha256) +
             L"\n");
  }
  return report;
}

// The report on standard output: the installer's path alone after a build, or with --json one
// object for every outcome.
int Finish(const Report& report, bool json) {
  if (report.written) {
    return ExitCode(report.outcome);
  }
  const bool built = report.outcome == Outcome::kBuilt;
  if (json) {
    nlohmann::json object{{"built", built}, {"outcome", RowOf(report.outcome).name}};
    if (built) {
      const CreateResult& result = report.result;
      object["kind"] = ToUtf8(BuildKindName(result.kind));
      object["installer"] = ToUtf8(result.installer);
      object["sha256"] =
          result.sha256.empty() ? nlohmann::json(nullptr) : nlohmann::json(ToUtf8(result.sha256));
    } else {
      object["messageId"] =
          report.messageId != uitext::kOwnText ? nlohmann::json(report.messageId) : nlohmann::json(nullptr);
      object["message"] =
          report.message.empty() ? nlohmann::json(nullptr) : nlohmann::json(ToUtf8(report.message));
    }
    WriteOut(FromUtf8(object.dump(2)) + L"\n");
  } else if (built) {
    WriteOut(report.result.installer + L"\n");
  }
  return ExitCode(report.outcome);
}

// Whether the command line asks for JSON, read before it is parsed: a refused command line is
// reported as JSON too.
bool AsksForJson(int argc, wchar_t** argv) {
  for (int i = 2; i < argc && std::wstring(argv[i]) != L"--"; ++i) {
    if (std::wstring(argv[i]) == L"--json") {
      return true;
    }
  }
  return false;
}

}  // namespace

const wchar_t* BuildKindName(BuildKind kind) {
  switch (kind) {
    case BuildKind::WinExeAv:
      return L"WinExeAv";
    case BuildKind::WinExeAgent:
      return L"WinExeAgent";
    case BuildKind::WinMsi:
      return L"WinMsi";
    case BuildKind::MacAv:
      return L"MacAv";
    case BuildKind::MacAgent:
      return L"MacAgent";
    case BuildKind::Linux32:
      return L"Linux32";
    case BuildKind::Linux64:
      return L"Linux64";
  }
  return L"";
}

const CommandSpec kCreateCommand{L"create", nullptr, L"build one installer, as the dialog's Create does",
                                 kCreateOptions};

int RunCreateCommand(int argc, wchar_t** argv) {
  Arguments arguments;
  std::wstring error;
  const bool parsed = ParseArguments(argc, argv, 2, kCreateCommand, arguments, error);
  if (parsed && arguments.help) {
    WriteOut(CommandHelp(kCreateCommand));
    return ExitCode(Outcome::kBuilt);
  }
  const bool json = AsksForJson(argc, argv);

  ProgramServices app(::GetModuleHandleW(nullptr));
  app.InitTraceLog();
  // Until this copy holds the lock, the log may be another copy's: nothing is written to it.
  tracelog::GetSettings().enabled = false;
  app.LoadStringLibraryAndTexts();
  // The variable goes before anything else can start a child process, also when the command
  // line is refused.
  passwordfile::Password password;
  EnvironmentSecret pfxPassword;
  Report report;
  // Both variables go, whichever of them is refused.
  const bool pfxPasswordTaken = TakePfxPassword(arguments, pfxPassword, report);
  const bool passwordTaken = (!arguments.Has(L"--password-env") ||
                              TakePassword(arguments.Value(L"--password-env"), password, report)) &&
                             pfxPasswordTaken;
  if (!parsed) {
    report = UsageError(error);
  }
  if (!parsed || !passwordTaken) {
    return Finish(report, json);
  }

  switch (app.AcquireSingleInstance()) {
    case ProgramServices::InstanceLock::kAcquired:
      tracelog::GetSettings().enabled = true;
      passwordfile::RemoveLeftover(app.programFolder());
      report = Create(arguments, password, pfxPassword,
                      app.programFolder()[0] != L'\0' ? app.programFolder() : nullptr);
      break;
    case ProgramServices::InstanceLock::kOtherCopy:
      report = Stop(
          Outcome::kOtherCopy,
          L"Another copy of the Client Packager is running for this server; try again when it has ended.");
      break;
    case ProgramServices::InstanceLock::kDenied:
      report = Stop(Outcome::kOtherCopy, uitext::kErrInstanceLockDenied);
      break;
    case ProgramServices::InstanceLock::kFailed: {
      // No copy is known to run: this is a failure of this one, not another copy's lock.
      wchar_t text[512];
      FormatUiText(uitext::kErrInstanceLockFailed, text, ARRAYSIZE(text), static_cast<int>(app.lockError()));
      report = Stop(Outcome::kFailed, std::wstring(text));
      break;
    }
  }
  app.ExitInstance();
  return Finish(report, json);
}

}  // namespace cli
