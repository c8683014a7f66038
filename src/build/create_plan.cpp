#include "build/create_plan.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <initializer_list>
#include <optional>
#include <vector>

#include "build/file_utils.h"
#include "framework/ansi.h"
#include "handles/handles.h"

namespace {

constexpr size_t kMaxDomainLength = 255;
constexpr wchar_t kBlankIp[] = L"0.0.0.0";
// FileIdInfo of FILE_INFO_BY_HANDLE_CLASS, which the headers name only from Windows 8 on.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
constexpr wchar_t kOutsideFolders[] = L"Destn path %s lies in the server's build folders";

bool Fits(const std::wstring& path) { return path.size() < MAX_PATH; }

// Not empty, at most 255 characters, no white space or control character (which would break
// the settings file's line), and every character exactly in the ANSI code page: a settings
// template may be ANSI, and a look-alike or "?" there would name another server.
bool IsValidDomainName(const std::wstring& domain) {
  if (domain.empty() || domain.size() > kMaxDomainLength) {
    return false;
  }
  for (const wchar_t c : domain) {
    if (std::iswspace(c) || std::iswcntrl(c)) {
      return false;
    }
  }
  return fw::IsExactInAnsi(domain.c_str());
}

// True for text that names one folder whatever the current drive and folder are: "X:\..." or
// "\\server\share" (alone or followed by "\..."), but no device path ("\\?\", "\\.\").
bool IsAbsoluteFolderText(const std::wstring& text) {
  const auto isLetter = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); };
  if (text.size() >= 3 && isLetter(text[0]) && text[1] == L':' && text[2] == L'\\') {
    return true;
  }
  if (text.size() < 5 || text[0] != L'\\' || text[1] != L'\\') {
    return false;
  }
  const size_t serverEnd = text.find(L'\\', 2);
  if (serverEnd == std::wstring::npos || serverEnd == 2) {
    return false;
  }
  const std::wstring server = text.substr(2, serverEnd - 2);
  const size_t shareEnd = std::min(text.find(L'\\', serverEnd + 1), text.size());
  return server != L"?" && server != L"." && shareEnd > serverEnd + 1;
}

// The absolute long form of `path`, without a trailing backslash unless it is a drive's root.
// A path that does not exist keeps its absolute form. False when it does not fit MAX_PATH.
bool LongForm(const std::wstring& path, std::wstring* resolved) {
  wchar_t full[MAX_PATH];
  const DWORD fullLength = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  if (fullLength == 0 || fullLength >= MAX_PATH) {
    return false;
  }
  wchar_t longPath[MAX_PATH];
  const DWORD longLength = ::GetLongPathNameW(full, longPath, MAX_PATH);
  if (longLength >= MAX_PATH) {
    return false;
  }
  *resolved = longLength != 0 ? longPath : full;
  while (resolved->size() > 3 && resolved->back() == L'\\') {
    resolved->pop_back();
  }
  return true;
}

// True when `path` is `folder` or lies below it: both long forms, compared case-insensitively
// on whole path components.
bool IsSameOrInsideByPath(const std::wstring& path, const std::wstring& folder) {
  std::wstring inner, outer;
  if (!LongForm(path, &inner) || !LongForm(folder, &outer) || inner.size() < outer.size()) {
    return false;
  }
  const int length = static_cast<int>(outer.size());
  return ::CompareStringOrdinal(inner.c_str(), length, outer.c_str(), length, TRUE) == CSTR_EQUAL &&
         (inner.size() == outer.size() || inner[outer.size()] == L'\\' || outer.back() == L'\\');
}

// The volume and file ID of a folder, one for all of its names (drive letters, mapped drives,
// shares, links to it). FILE_ID_INFO's layout, which the headers offer only from Windows 8 on.
struct FolderId {
  ULONGLONG volume = 0;
  BYTE file[16] = {};

  bool operator==(const FolderId& other) const {
    return volume == other.volume && std::memcmp(file, other.file, sizeof file) == 0;
  }
};

// The identity of the folder `path`, read from a handle opened without access to its content;
// none when it cannot be opened or asked. The 128-bit ID (Windows 8 and later, and Wine) is one
// for every name of a folder; older systems give the volume serial and the 64-bit file index.
std::optional<FolderId> ReadFolderId(const std::wstring& path) {
  const fw::UniqueKernelHandle folder(
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) {
    return std::nullopt;
  }
  FolderId id;
  static_assert(sizeof id == 24, "FILE_ID_INFO is a 64-bit volume serial and a 128-bit file ID");
  if (::GetFileInformationByHandleEx(folder.get(), kFileIdInfo, &id, sizeof id)) {
    return id;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(folder.get(), &information)) {
    return std::nullopt;
  }
  id.volume = information.dwVolumeSerialNumber;
  std::memcpy(id.file, &information.nFileIndexLow, sizeof information.nFileIndexLow);
  std::memcpy(id.file + 4, &information.nFileIndexHigh, sizeof information.nFileIndexHigh);
  return id;
}

// The folder above `path` (a long form without trailing backslash, or a drive's root); empty at
// a drive's root or a share.
std::wstring ParentFolder(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash + 1 == path.size()) {
    return {};
  }
  if (path.compare(0, 2, L"\\\\") == 0) {
    // "\\server\share" is the top: its parent would be no folder.
    const size_t shareStart = path.find(L'\\', 2);
    return slash > shareStart ? path.substr(0, slash) : std::wstring();
  }
  return slash == 2 ? path.substr(0, 3) : path.substr(0, slash);
}

// True when `destination` (a long form) or a folder above it is one of `own`, by path or by
// identity.
bool LiesInOwnFolders(const std::wstring& destination, std::initializer_list<std::wstring> own) {
  std::vector<std::optional<FolderId>> ownIds;
  for (const std::wstring& folder : own) {
    if (IsSameOrInsideByPath(destination, folder)) {
      return true;
    }
    ownIds.push_back(ReadFolderId(folder));
  }
  for (std::wstring level = destination; !level.empty(); level = ParentFolder(level)) {
    const std::optional<FolderId> id = ReadFolderId(level);
    if (id && std::find(ownIds.begin(), ownIds.end(), id) != ownIds.end()) {
      return true;
    }
  }
  return false;
}

// The destination checks, before any file work. `folder` receives the destination resolved once
// (every later step uses it: the pack step changes the current folder).
PlanRefusal CheckDestination(const BuildOptions& options, const wchar_t* outputName,
                             const WindowsTarget& target, const std::wstring& packerRoot,
                             std::wstring* folder, std::wstring* installer) {
  const std::wstring& destination = options.destination;
  constexpr const UiText* kInvalidPath = &uitext::kErrInvalidPath;
  if (destination.empty()) {
    return {kInvalidPath, L"Destination path not specified"};
  }
  // Decided on the text itself: resolving would turn "D:out" into "D:\out".
  if (!IsAbsoluteFolderText(destination)) {
    return {kInvalidPath, L"Destn path %s is not absolute"};
  }
  const DWORD attributes = ::GetFileAttributesW(destination.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return {kInvalidPath, L"Destn path %s not found"};
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {kInvalidPath, L"Destn path %s is not a folder"};
  }
  if (!LongForm(destination, folder)) {
    return {kInvalidPath, L"Destn path %s too long"};
  }
  *installer = *folder + (folder->back() == L'\\' ? L"" : L"\\") + outputName;
  // The installer passes through <output>.tmp beside its place, so that name must fit too.
  if (!Fits(*installer + kTemporarySuffix)) {
    return {kInvalidPath, L"Destn path %s too long"};
  }
  // The build fills and empties these folders and serves from them: an installer put there
  // would be deleted by its own clean-up, or handed out as payload.
  if (LiesInOwnFolders(*folder, {packerRoot, packerRoot + L"\\64", target.work, target.webBuild})) {
    return {kInvalidPath, kOutsideFolders};
  }
  return {};
}

MacTarget PlanMac(const BuildOptions& options, const CreatePlan& plan) {
  MacTarget mac;
  mac.antivirus = plan.build.kind == BuildKind::MacAv;
  mac.templateFolder = options.installFolder + L"web\\build\\";
  const std::wstring tarFolder = mac.templateFolder + L"cnmac\\";
  mac.sourceFolder = options.webBuildFolder + L"\\";
  mac.workingFolder = mac.sourceFolder + (mac.antivirus ? L"MCWSNOAV" : L"MCWSNODE");
  mac.siblingWorkingFolder = mac.sourceFolder + (mac.antivirus ? L"MCWSNODE" : L"MCWSNOAV");
  mac.tarPath = tarFolder + plan.outputName;
  mac.siblingTarPath = tarFolder + (mac.antivirus ? L"MCWSNODE.TAR" : L"MCWSNOAV.TAR");
  mac.servedFolder = options.webBuildFolder + L"\\cnmac";
  return mac;
}

LinuxTarget PlanLinux(const BuildOptions& options, const CreatePlan& plan) {
  LinuxTarget target;
  target.is64 = plan.build.kind == BuildKind::Linux64;
  const wchar_t* folder = target.is64 ? L"heslin64" : L"heslin32";
  target.package = target.is64 ? L"heslin64.tar.gz" : L"heslin32.tar.gz";
  target.servedFolder = options.webBuildFolder + L"\\" + folder;
  target.sourceFolder = target.servedFolder + L"\\";
  target.workingFolder = target.sourceFolder + (target.is64 ? L"LinuxSetup64" : L"LinuxSetup32");
  const std::wstring buildPath = options.installFolder + L"web\\build\\";
  target.tarPath = buildPath + folder + L"\\" + plan.outputName;
  target.siblingTarPath =
      buildPath + (target.is64 ? L"heslin32\\LINUXWSNO32.TAR" : L"heslin64\\LINUXWSNO64.TAR");
  return target;
}

}  // namespace

const UiText* ValidateAlternateAddress(const BuildOptions& options, std::wstring* address) {
  address->clear();
  if (!options.alternateConnection) {
    return nullptr;
  }
  if (options.alternateByDomainName) {
    if (!IsValidDomainName(options.alternateDomain)) {
      return &uitext::kErrInvalidDomain;
    }
    *address = options.alternateDomain;
    return nullptr;
  }
  if (options.alternateIp == kBlankIp) {
    return &uitext::kErrInvalidIp;
  }
  *address = options.alternateIp;
  return nullptr;
}

CreatePlan PlanCreate(const BuildOptions& options) {
  CreatePlan plan;
  plan.options = options;
  plan.build = DeriveBuildKind(options.packageIndex, options.platformIndex, options.setupTypeIndex,
                               options.antivirusIndex);
  plan.outputName = BuildOutputName(plan.build);
  plan.addressRefusal = ValidateAlternateAddress(options, &plan.alternateAddress);
  switch (plan.build.kind) {
    case BuildKind::WinExeAv:
    case BuildKind::WinExeAgent:
    case BuildKind::WinMsi: {
      WindowsTarget windows;
      const std::wstring packerRoot = options.installFolder + L"Tools\\clPacker";
      windows.webBuild = options.installFolder + L"Web\\Build";
      windows.packer = plan.build.bitness == 64 ? packerRoot + L"\\64" : packerRoot;
      windows.work = packerRoot + L"\\Build";
      windows.destinationRefusal = CheckDestination(options, plan.outputName, windows, packerRoot,
                                                    &windows.destinationFolder, &plan.installer);
      plan.target = std::move(windows);
      break;
    }
    case BuildKind::MacAv:
    case BuildKind::MacAgent: {
      MacTarget mac = PlanMac(options, plan);
      plan.installer = mac.servedFolder + L"\\" + plan.outputName;
      plan.target = std::move(mac);
      break;
    }
    case BuildKind::Linux32:
    case BuildKind::Linux64: {
      LinuxTarget linuxTarget = PlanLinux(options, plan);
      plan.installer = linuxTarget.servedFolder + L"\\" + plan.outputName;
      plan.target = std::move(linuxTarget);
      break;
    }
  }
  return plan;
}
