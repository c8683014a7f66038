// create: one installer through the dialog's Create pipeline, its choices from the command line.

#include <windows.h>

#include <array>
#include <nlohmann/json.hpp>
#include <vector>

#include "app/app.h"
#include "build/create.h"
#include "build/installer_hash.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "cli/console_ui.h"
#include "groups/group_library.h"
#include "groups/group_tree.h"
#include "installation/server_paths.h"
#include "log/trace_log.h"
#include "password/password_file.h"
#include "password/set_pwd_dialog.h"
#include "uitext/ui_text.h"

namespace cli {
namespace {

constexpr wchar_t kTag[] = L"tmrovane.com create";

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
      return RefuseUnoffered(arguments, {L"--setup", L"--destination", L"--password-env"}, L"for Mac", error);
    default:
      return Select(arguments, L"--setup", kLinuxSetups, options.setupTypeIndex, error) &&
             RefuseUnoffered(arguments, {L"--antivirus", L"--group", L"--destination", L"--password-env"},
                             L"for Linux", error);
  }
}

// The text the dialog's IP address control gives for `text`: four decimal fields of 0 to 255,
// written without leading zeros; the blank address "0.0.0.0" for anything else, which the
// build refuses at its point with the dialog's own message.
std::wstring IpControlText(const std::wstring& text) {
  unsigned fields[4] = {};
  size_t at = 0;
  for (size_t i = 0; i < 4; ++i) {
    size_t digits = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9' && digits < 4) {
      fields[i] = fields[i] * 10 + static_cast<unsigned>(text[at++] - L'0');
      ++digits;
    }
    const bool separator = i < 3 ? at < text.size() && text[at] == L'.' : at == text.size();
    if (digits == 0 || digits > 3 || fields[i] > 255 || !separator) {
      return L"0.0.0.0";
    }
    ++at;
  }
  return std::to_wstring(fields[0]) + L"." + std::to_wstring(fields[1]) + L"." + std::to_wstring(fields[2]) +
         L"." + std::to_wstring(fields[3]);
}

// The password from the environment variable the administrator named. The variable is removed
// at once, whether or not its password is good, since 7-Zip and the packer inherit the
// environment. The password is checked by the password dialog's rules.
bool TakePassword(const std::wstring& variable, passwordfile::Password& password, std::wstring& error) {
  std::array<wchar_t, 1024> text{};
  const DWORD length =
      ::GetEnvironmentVariableW(variable.c_str(), text.data(), static_cast<DWORD>(text.size()));
  ::SetEnvironmentVariableW(variable.c_str(), nullptr);
  wchar_t message[1024] = L"";
  if (length == 0) {
    error = L"the environment variable " + variable + L" is not set or empty";
  } else if (length < CSetPwdDialog::kMinLength || length > CSetPwdDialog::kMaxLength) {
    LoadUiText(uitext::kErrPwdLength, message);
  } else if (!CSetPwdDialog::ValidatePassword(text.data())) {
    LoadUiText(uitext::kErrPwdHasSpace, message);
  } else if (!password.Assign(text.data())) {
    LoadUiText(uitext::kErrPwdNotStorable, message);
  }
  SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
  if (message[0] != L'\0') {
    WriteErr(MessageLine(message) + L"\n");
  }
  return error.empty() && message[0] == L'\0';
}

// What the dialog finds at start-up: the server's folders, the installation mode and the
// default group. Returns the exit code when it cannot go on, 0 otherwise.
int ReadServer(BuildOptions& options) {
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
  wchar_t text[1024];
  const groups::DefaultGroupResult group =
      groups::ReadDefaultGroupGuid(guid, static_cast<int>(groups::kGuidCapacity), kTag);
  if (group != groups::DefaultGroupResult::kLoaded) {
    LoadUiText(uitext::kErrLoadGroups, text);
    WriteErr(MessageLine(text) + L"\n");
    if (group == groups::DefaultGroupResult::kFailed) {
      return kExitBuildFailed;
    }
  }
  options.groupGuid = guid;
  LoadUiText(uitext::kDefaultGroupName, text);
  options.groupName = text;
  if (!installation::IsInstallFolderFound(installFolder)) {
    TraceLog(tracelog::kLevelError, kTag, L"Server installation folder not found: %s", installFolder);
    LoadUiText(uitext::kErrCreateSetup, text);
    WriteErr(MessageLine(text) + L"\n");
    return kExitBuildFailed;
  }
  return 0;
}

// The group named on the command line, from the server's tree.
int ChooseGroup(const std::wstring& selector, BuildOptions& options) {
  std::vector<groups::TreeGroup> tree;
  if (!groups::ReadGroupTree(tree, kTag)) {
    wchar_t text[1024];
    LoadUiText(uitext::kErrLoadGroups, text);
    WriteErr(MessageLine(text) + L"\n");
    return kExitBuildFailed;
  }
  const groups::TreeGroup* group = nullptr;
  switch (groups::FindGroup(tree, selector, &group)) {
    case groups::FindResult::kFound:
      options.groupName = group->name;
      options.groupGuid = group->guid;
      return 0;
    case groups::FindResult::kNotFound:
      WriteErr(L"No group " + selector + L" in the server's group tree (see: tmrovane groups).\n");
      return kExitRefused;
    case groups::FindResult::kAmbiguous:
      WriteErr(L"More than one group has the path " + selector + L"; name it by its GUID.\n");
      return kExitRefused;
    case groups::FindResult::kNoGuid:
      WriteErr(L"The group " + selector + L" has no valid GUID and cannot be chosen.\n");
      return kExitRefused;
  }
  return kExitRefused;
}

int Create(const Arguments& arguments, const passwordfile::Password& password, const wchar_t* programFolder) {
  BuildOptions options;
  if (const int code = ReadServer(options)) {
    return code;
  }
  std::wstring error;
  if (!ReadChoices(arguments, options, error)) {
    WriteErr(L"tmrovane create: " + error + L"\n");
    return kExitRefused;
  }
  if (arguments.Has(L"--group")) {
    if (const int code = ChooseGroup(arguments.Value(L"--group"), options)) {
      return code;
    }
  }
  if (arguments.Has(L"--ip") || arguments.Has(L"--domain")) {
    if (options.installationMode != installation::kInstallModeOffered) {
      WriteErr(L"This server's configuration does not offer an alternate connection.\n");
      return kExitRefused;
    }
    if (arguments.Has(L"--ip") && arguments.Has(L"--domain")) {
      WriteErr(L"tmrovane create: --ip and --domain exclude each other\n");
      return kExitRefused;
    }
    options.alternateConnection = true;
    options.alternateByDomainName = arguments.Has(L"--domain");
    options.alternateIp = IpControlText(arguments.Value(L"--ip"));
    options.alternateDomain = arguments.Value(L"--domain");
  }
  options.destination = arguments.Value(L"--destination");

  ConsoleUi ui(arguments.Has(L"--yes"), password);
  // Standard output carries the installer's path alone: what 7-Zip and the packer print while
  // the build runs goes to standard error with the build's messages.
  HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::SetStdHandle(STD_OUTPUT_HANDLE, ::GetStdHandle(STD_ERROR_HANDLE));
  const CreateResult result = RunCreate(options, ui, programFolder, kTag);
  ::SetStdHandle(STD_OUTPUT_HANDLE, output);
  TraceInstallerSha256(result, kTag);
  if (result.built) {
    std::wstring hash;
    const bool hashed = HashFileSha256(result.installer.c_str(), hash);
    WriteErr(L"SHA-256: " + (hashed ? hash : L"(cannot be read)") + L"\n");
    if (arguments.Has(L"--json")) {
      const nlohmann::json json{{"built", true},
                                {"kind", ToUtf8(BuildKindName(result.kind))},
                                {"installer", ToUtf8(result.installer)},
                                {"sha256", hashed ? nlohmann::json(ToUtf8(hash)) : nlohmann::json(nullptr)}};
      WriteOut(FromUtf8(json.dump(2)) + L"\n");
    } else {
      WriteOut(result.installer + L"\n");
    }
    return kExitBuilt;
  }
  if (ui.unanswered()) {
    return kExitUnanswered;
  }
  // The checks before anything is built refuse the input; every other failure is the build's.
  switch (ui.lastErrorId()) {
    case 3017:  // invalid path
    case 3025:  // disk space
    case 4163:  // IP address
    case 4164:  // domain name
    case 3143:  // Mac files missing
    case 4172:  // Linux files missing
      return kExitRefused;
    default:
      return kExitBuildFailed;
  }
}

}  // namespace

int RunCreateCommand(int argc, wchar_t** argv) {
  const CommandSyntax syntax{{L"--platform", L"--package", L"--setup", L"--antivirus", L"--validity",
                              L"--destination", L"--group", L"--ip", L"--domain", L"--password-env"},
                             {L"--yes", L"--json"},
                             0};
  Arguments arguments;
  std::wstring error;
  const bool parsed = ParseArguments(argc, argv, 2, syntax, arguments, error);

  CtmrovaneApp app(::GetModuleHandleW(nullptr));
  app.InitTraceLog();
  // Until this copy holds the lock, the log may be another copy's: nothing is written to it.
  tracelog::GetSettings().enabled = false;
  app.LoadStringLibraryAndTexts();
  // The variable goes before anything else can start a child process, also when the command
  // line is refused.
  passwordfile::Password password;
  const bool passwordTaken =
      !arguments.Has(L"--password-env") || TakePassword(arguments.Value(L"--password-env"), password, error);
  if (!parsed || !passwordTaken) {
    if (!error.empty()) {
      WriteUsageError(L"create", error);
    }
    return kExitRefused;
  }

  int code = kExitOtherCopy;
  switch (app.AcquireSingleInstance()) {
    case CtmrovaneApp::InstanceLock::kAcquired:
      tracelog::GetSettings().enabled = true;
      passwordfile::RemoveLeftover(app.programFolder());
      code = Create(arguments, password, app.programFolder()[0] != L'\0' ? app.programFolder() : nullptr);
      break;
    case CtmrovaneApp::InstanceLock::kOtherCopy:
      WriteErr(
          L"Another copy of the Client Packager is running for this server; try again when it has ended.\n");
      break;
    case CtmrovaneApp::InstanceLock::kDenied: {
      wchar_t text[1024];
      LoadUiText(uitext::kErrInstanceLockDenied, text);
      WriteErr(MessageLine(text) + L"\n");
      break;
    }
  }
  app.ExitInstance();
  return code;
}

}  // namespace cli
