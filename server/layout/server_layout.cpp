#include "layout/server_layout.h"

#include <cstdint>
#include <cstdio>
#include <cwctype>

#include "common/standin_files.h"
#include "handles/handles.h"

namespace serverlayout {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// One thing to lay out, relative to its target folder.
struct Item {
  enum Kind { kFolder, kBuilt, kText, kPayload };
  std::wstring path;
  Kind kind = kFolder;
  std::wstring builtName;  // kBuilt: file name in the build output folder
  std::string bytes;       // kText: content
  uint64_t size = 0;       // kPayload: length in bytes
};

Item Folder(const std::wstring& path) { return Item{path, Item::kFolder, {}, {}, 0}; }
Item Built(const std::wstring& path, const std::wstring& builtName) {
  return Item{path, Item::kBuilt, builtName, {}, 0};
}
Item Text(const std::wstring& path, std::string bytes) {
  return Item{path, Item::kText, {}, std::move(bytes), 0};
}
Item Payload(const std::wstring& path, uint64_t size) { return Item{path, Item::kPayload, {}, {}, size}; }

// ASCII text with CR LF line ends from lines given with "\n".
std::string CrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += '\r';
    }
    out += c;
  }
  return out;
}

// UTF-16LE with byte-order mark and CR LF line ends.
std::string Utf16Text(const std::string& text) {
  const std::wstring wide = standin::FromUtf8(CrLf(text));
  std::string out = "\xFF\xFE";
  for (wchar_t c : wide) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>((c >> 8) & 0xFF);
  }
  return out;
}

// Recognisable content: a first line naming the file, then numbered filler lines.
std::string PayloadBytes(const std::wstring& path, uint64_t size) {
  std::string bytes = "Halvane Endpoint Security stand-in payload: " + standin::ToUtf8(path) + "\r\n";
  char line[64];
  for (uint64_t n = 0; bytes.size() < size; ++n) {
    const int length =
        snprintf(line, sizeof line, "%s block %08llu\r\n", "payload", static_cast<unsigned long long>(n));
    bytes.append(line, static_cast<size_t>(length));
  }
  bytes.resize(static_cast<size_t>(size));
  return bytes;
}

// The 5206-byte block the data library serves for the selectors 1, 1, 3.
std::string DataBlock() {
  std::string block = "HES-DB block 1.1.3 (stand-in)";
  block.resize(5206, '\0');
  for (size_t i = 64; i < block.size(); ++i) {
    block[i] = static_cast<char>((i * 7 + 3) % 251);
  }
  return block;
}

std::string ConsoleConfig(const std::optional<std::wstring>& hesinstmode) {
  std::string text =
      "[ADMIN_CONSOLE_SECTION]\n"
      "console_port=4343\n"
      "mac_build_url=https://downloads.halvane.example/agent/mac/MWSNODE.DMG\n"
      "mac_build_url1=https://downloads.halvane.example/agent/mac/MACHOST.DMG\n"
      "linux_url1_32=https://downloads.halvane.example/agent/linux/heslin32.tar.gz\n"
      "linux_url2_32=https://mirror.halvane.example/agent/linux/heslin32.tar.gz\n"
      "linux_url1_64=https://downloads.halvane.example/agent/linux/heslin64.tar.gz\n"
      "linux_url2_64=https://mirror.halvane.example/agent/linux/heslin64.tar.gz\n";
  if (hesinstmode) {
    text += "hesinstmode=" + standin::ToUtf8(*hesinstmode) + "\n";
  }
  text +=
      "[DATABASE]\n"
      "db_folder=HESDB\n";
  return CrLf(text);
}

std::string SettingsTemplate(const char* platform) {
  return std::string(
             "[SETTING]\n"
             "SERVER_NAME=HESSRV01\n"
             "SERVER_PORT=4343\n"
             "SERVER_SSL_PORT=4345\n"
             "LOG_LEVEL=1\n"
             "[UPDATE]\n"
             "UPDATE_SOURCE=http://HESSRV01:8080/activeupdate\n"
             "CHECK_HOURS=1\n"
             "[AGENT]\n"
             "PLATFORM=") +
         platform +
         "\n"
         "LANGUAGE=1033\n";
}

constexpr char kPackagePlan[] =
    "[CLIENT_PACKAGE]\n"
    "FILE_COUNT=10\n"
    "0=NODESETP.EXE\n"
    "1=wsnode.ini\n"
    "2=rpinfo.dat\n"
    "3=sysprobe.dll\n"
    "4=verkit.dll\n"
    "5=build.cnf\n"
    "6=uistr.dll\n"
    "7=nodehelp.dll\n"
    "8=instctl.dll\n"
    "9=.\\afterins.exe\n"
    "[CLIENT_INSTALLER]\n"
    "SETUP=NODESETP.EXE\n"
    "PARAMETERS=/quiet\n";

constexpr char kAntivirusDefaults[] =
    "[AV_DEFAULTS]\n"
    "RealTimeScan=1\n"
    "ScanCompressed=1\n"
    "ScheduledScan=Weekly\n"
    "QuarantineFolder=Quarantine\n";

constexpr char kMacAntivirusDefaults[] =
    "[MAC_AV_DEFAULTS]\n"
    "RealTimeScan=1\n"
    "ScheduledScan=Daily\n"
    "ExcludeFolders=/Volumes\n";

constexpr char kBuildConfig[] =
    "[BUILD]\n"
    "Product=Halvane Endpoint Security Agent\n"
    "Version=10.5\n"
    "Build=1234\n";

constexpr char kRuntimeManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "  <assemblyIdentity type=\"win32\" name=\"Microsoft.VC90.CRT\" version=\"9.0.21022.8\""
    " processorArchitecture=\"x86\"/>\n"
    "  <file name=\"msvcr90.dll\"/>\n"
    "</assembly>\n";

std::string LinuxReadme(const char* bits) {
  return std::string("Halvane Endpoint Security agent for Linux (") + bits +
         "-bit)\n"
         "\n"
         "Unpack this archive on the endpoint and run ./install as root. The agent is\n"
         "installed in /opt/halvane/agent (or $HES_AGENT_DIR) with the settings file\n"
         "wsnode.ini that came with it.\n";
}

constexpr char kLinuxInstall[] =
    "#!/bin/sh\n"
    "# Installs the Halvane Endpoint Security agent from the package beside this script.\n"
    "set -e\n"
    "here=$(cd \"$(dirname \"$0\")\" && pwd)\n"
    "dest=${HES_AGENT_DIR:-/opt/halvane/agent}\n"
    "mkdir -p \"$dest\"\n"
    "for package in \"$here\"/heslin*.tar.gz; do\n"
    "  tar -xzf \"$package\" -C \"$dest\"\n"
    "done\n"
    "cp \"$here/wsnode.ini\" \"$dest/\"\n"
    "echo \"Agent installed in $dest\"\n";

std::string DataText() {
  return CrLf(
      "# Data served by cnsldata.dll: key=value, the value taken as it stands.\n"
      "build_info=10.5.0.1234 HESSRV01\n"
      "feature.17=1\n"
      "generic.2=Halvane Endpoint Security Server HESSRV01\n");
}

std::string SwitchText(const std::vector<std::string>& calls) {
  std::string text;
  for (const std::string& call : calls) {
    text += call + "\r\n";
  }
  return text;
}

// Files that both packer folders hold.
void AddPackerFiles(const std::wstring& folder, std::vector<Item>* items) {
  items->push_back(Built(folder + L"\\pack.exe", L"pack.exe"));
  items->push_back(Built(folder + L"\\7z.sfx", L"serverfiles\\7z.sfx"));
  items->push_back(Built(folder + L"\\template.msi", L"serverfiles\\template.msi"));
  items->push_back(Built(folder + L"\\verkit.dll", L"verkit.dll"));
  items->push_back(Payload(folder + L"\\Deploy.exe", 96 * 1024));
  items->push_back(Payload(folder + L"\\sysprobe.dll", 48 * 1024));
  items->push_back(Text(folder + L"\\build.cnf", CrLf(kBuildConfig)));
  items->push_back(Payload(folder + L"\\nodehelp.dll", 40 * 1024));
  items->push_back(Payload(folder + L"\\instctl.dll", 56 * 1024));
  items->push_back(Payload(folder + L"\\afterins.exe", 24 * 1024));
}

std::vector<Item> ServerItems(const Options& options) {
  std::vector<Item> items;
  items.push_back(Built(L"grpstore.dll", options.grpstoreLibrary));
  items.push_back(Text(kGroupDataFile, options.groupData ? *options.groupData : DefaultGroupData()));
  if (!options.failingGroupCalls.empty()) {
    items.push_back(Text(kGroupSwitchFile, SwitchText(options.failingGroupCalls)));
  }
  items.push_back(Built(L"cnsldata.dll", options.cnsldataLibrary));
  items.push_back(Text(kDataFile, DataText()));
  items.push_back(Text(kDataBlockFile, DataBlock()));
  if (!options.failingDataCalls.empty()) {
    items.push_back(Text(kDataSwitchFile, SwitchText(options.failingDataCalls)));
  }
  items.push_back(Text(kConsoleConfigFile, ConsoleConfig(options.hesinstmode)));
  if (options.successFF) {
    items.push_back(Text(standin::kSuccessFFSwitchFile, {}));
  }

  const std::wstring web = L"Web\\Build";
  items.push_back(Payload(web + L"\\NODESETP.EXE", 2 * kMiB + 123));
  items.push_back(Payload(web + L"\\NDSETP64.EXE", 2 * kMiB + kMiB / 2));
  items.push_back(Payload(web + L"\\tmhostsv.exe", 3 * kMiB + 4567));
  items.push_back(Payload(web + L"\\tmhost64.exe", 4 * kMiB + 89));
  items.push_back(Payload(web + L"\\purge.exe", 64 * 1024));
  items.push_back(Text(web + L"\\wsnode.ini", Utf16Text(SettingsTemplate("windows"))));
  items.push_back(Text(web + L"\\nodedef.ini", CrLf(kAntivirusDefaults)));
  items.push_back(Text(web + L"\\macndef.ini", CrLf(kMacAntivirusDefaults)));
  items.push_back(Text(web + L"\\pkgplan.ini", CrLf(kPackagePlan)));
  if (options.layOutDownloads) {
    const uint64_t imageBytes = options.diskImageBytes;
    items.push_back(Payload(web + L"\\MWSNODE.DMG", imageBytes != 0 ? imageBytes : kMiB + 777));
    items.push_back(Payload(web + L"\\MACHOST.DMG", imageBytes != 0 ? imageBytes : 2 * kMiB + 555));
  }
  items.push_back(Folder(web + L"\\cnmac"));
  for (const char* bits : {"32", "64"}) {
    const std::wstring wideBits = standin::FromUtf8(bits);
    const std::wstring folder = web + L"\\heslin" + wideBits;
    if (options.layOutDownloads) {
      items.push_back(Built(folder + L"\\heslin" + wideBits + L".tar.gz",
                            L"serverfiles\\heslin" + wideBits + L".tar.gz"));
    }
    items.push_back(
        Text(folder + L"\\wsnode.ini", CrLf(SettingsTemplate(bits[0] == '3' ? "linux32" : "linux64"))));
    items.push_back(Text(folder + L"\\readme.txt", CrLf(LinuxReadme(bits))));
    items.push_back(Text(folder + L"\\install", kLinuxInstall));
  }

  const std::wstring packer = L"Tools\\clPacker";
  AddPackerFiles(packer, &items);
  items.push_back(Payload(packer + L"\\netkit.dll", 32 * 1024));
  items.push_back(Payload(packer + L"\\regshim.dll", 20 * 1024));
  items.push_back(Payload(packer + L"\\msvcr90.dll", 640 * 1024));
  items.push_back(Text(packer + L"\\Microsoft.VC90.CRT.manifest", CrLf(kRuntimeManifest)));
  AddPackerFiles(packer + L"\\64", &items);
  items.push_back(Built(packer + L"\\64\\uistr.dll", L"uistr.dll"));
  return items;
}

std::vector<Item> ProgramItems(const Options& options) {
  std::vector<Item> items = {Built(L"tmrovane.exe", L"tmrovane.exe"), Built(L"tmrovane.com", L"tmrovane.com"),
                             Built(L"uistr.dll", L"uistr.dll"), Built(L"verkit.dll", L"verkit.dll"),
                             Folder(L"clPacker")};
  if (options.productVersion) {
    items.push_back(
        Text(kVersionFile, CrLf("[Version]\nProduct=" + standin::ToUtf8(*options.productVersion) + "\n")));
  }
  if (options.successFF) {
    items.push_back(Text(standin::kSuccessFFSwitchFile, {}));
  }
  return items;
}

// The key the laid-out program looks up (see Options::registryKey).
std::wstring RegistryKey(const Options& options) {
  if (!options.registryKey.empty()) {
    return options.registryKey;
  }
  if (options.layOutProgram && options.productVersion && !options.productVersion->empty()) {
    return standin::VersionedName(kAppPathsKey, *options.productVersion);
  }
  return kAppPathsKey;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) {
    c = static_cast<wchar_t>(std::towlower(c));
  }
  return text;
}

bool IsOmitted(const std::wstring& path, const std::vector<std::wstring>& omit) {
  const std::wstring lowered = Lower(path);
  for (const std::wstring& entry : omit) {
    std::wstring prefix = Lower(entry);
    while (!prefix.empty() && prefix.back() == L'\\') {
      prefix.pop_back();
    }
    if (prefix.empty()) {
      continue;
    }
    if (lowered == prefix || lowered.compare(0, prefix.size() + 1, prefix + L"\\") == 0) {
      return true;
    }
  }
  return false;
}

std::wstring ErrorText(const std::wstring& what, const std::wstring& path, DWORD error) {
  return what + L" " + path + L" (error " + std::to_wstring(error) + L")";
}

bool CreateFolderTree(const std::wstring& folder, std::wstring* error) {
  if (folder.empty()) {
    return true;
  }
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return true;
  }
  const size_t slash = folder.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 0 && folder[slash - 1] != L':' &&
      !CreateFolderTree(folder.substr(0, slash), error)) {
    return false;
  }
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = ErrorText(L"cannot create the folder", folder, ::GetLastError());
    return false;
  }
  return true;
}

bool LayOutItems(const std::wstring& target, const std::vector<Item>& items,
                 const std::vector<std::wstring>& omit, const std::wstring& builtFolder,
                 std::wstring* error) {
  for (const Item& item : items) {
    if (IsOmitted(item.path, omit)) {
      continue;
    }
    const std::wstring path = target + L"\\" + item.path;
    const std::wstring parent = path.substr(0, path.find_last_of(L'\\'));
    if (!CreateFolderTree(item.kind == Item::kFolder ? path : parent, error)) {
      return false;
    }
    switch (item.kind) {
      case Item::kFolder:
        break;
      case Item::kBuilt: {
        const std::wstring source = builtFolder + item.builtName;
        if (!::CopyFileW(source.c_str(), path.c_str(), FALSE)) {
          *error = ErrorText(L"cannot copy", source, ::GetLastError());
          return false;
        }
        // A copied file keeps the attributes of the build output; a read-only one would stop
        // the next layout over this folder.
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        break;
      }
      case Item::kText:
        if (!standin::WriteWholeFile(path, item.bytes)) {
          *error = ErrorText(L"cannot write", path, ::GetLastError());
          return false;
        }
        break;
      case Item::kPayload:
        if (!standin::WriteWholeFile(path, PayloadBytes(item.path, item.size))) {
          *error = ErrorText(L"cannot write", path, ::GetLastError());
          return false;
        }
        break;
    }
  }
  return true;
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') {
    path.pop_back();
  }
  return path;
}

bool LongForm(const std::wstring& path, std::wstring* out) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetLongPathNameW(path.c_str(), buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return false;
  }
  *out = buffer;
  return true;
}

// The server's setup is a 32-bit program: its App Paths entry lies in the 32-bit registry view.
constexpr REGSAM kSetupView = KEY_WOW64_32KEY;

bool Register(const Options& options, const std::wstring& serverFolder, Result* result) {
  if (options.registration == Registration::kNone) {
    return true;
  }
  const std::wstring keyPath = RegistryKey(options);
  result->registryKey = keyPath;
  if (options.registration == Registration::kRemove) {
    const LSTATUS status = ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), kSetupView, 0);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      result->error = ErrorText(L"cannot delete the registry key", keyPath, static_cast<DWORD>(status));
      return false;
    }
    return true;
  }
  if (options.registration == Registration::kKeyOnly) {
    fw::UniqueRegKey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                                       KEY_SET_VALUE | kSetupView, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS) {
      status = ::RegDeleteValueW(key.get(), kPathValue);
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      result->error = ErrorText(L"cannot create the registry key", keyPath, static_cast<DWORD>(status));
      return false;
    }
    return true;
  }
  std::wstring value = serverFolder;
  if (options.registration == Registration::kShortPath) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetShortPathNameW(serverFolder.c_str(), buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      result->error = ErrorText(L"cannot find the short form of", serverFolder, ::GetLastError());
      return false;
    }
    value = buffer;
  }
  if (options.trailingBackslash) {
    value += L"\\";
  }
  fw::UniqueRegKey key;
  LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE | kSetupView, nullptr, key.put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = ::RegSetValueExW(key.get(), kPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  if (status != ERROR_SUCCESS) {
    result->error = ErrorText(L"cannot register the server under", keyPath, static_cast<DWORD>(status));
    return false;
  }
  result->registeredPath = value;
  return true;
}

bool LayOut(const Options& options, Result* result) {
  std::wstring builtFolder = options.builtFolder;
  if (!builtFolder.empty()) {
    if (builtFolder.back() != L'\\') {
      builtFolder += L'\\';
    }
  } else if (!standin::ModuleFolder(nullptr, &builtFolder)) {
    result->error = L"cannot find the folder of the running program";
    return false;
  }
  if (options.serverFolder.empty()) {
    result->error = L"no server folder given";
    return false;
  }
  const std::wstring requested = WithoutTrailingBackslash(options.serverFolder);
  if (!CreateFolderTree(requested, &result->error) || !LongForm(requested, &result->serverFolder)) {
    if (result->error.empty()) {
      result->error = ErrorText(L"cannot find the long form of", requested, ::GetLastError());
    }
    return false;
  }
  if (!LayOutItems(result->serverFolder, ServerItems(options), options.omit, builtFolder, &result->error)) {
    return false;
  }
  if (options.layOutProgram) {
    const std::wstring program = options.programFolder.empty()
                                     ? result->serverFolder + L"\\" + kProgramSubfolder
                                     : WithoutTrailingBackslash(options.programFolder);
    if (!CreateFolderTree(program, &result->error) || !LongForm(program, &result->programFolder) ||
        !LayOutItems(result->programFolder, ProgramItems(options), options.omitProgramFiles, builtFolder,
                     &result->error)) {
      if (result->error.empty()) {
        result->error = ErrorText(L"cannot find the long form of", program, ::GetLastError());
      }
      return false;
    }
  }
  return Register(options, result->serverFolder, result);
}

}  // namespace

std::string DefaultGroupData() {
  return CrLf(std::string("# id\tparent\tGUID\tname (tab-separated; parent 0 = top of the tree)\n"
                          "1\t0\t") +
              kDefaultGroupGuid +
              "\tDefault\n"
              "2\t0\t{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C02}\tServers\n"
              "3\t2\t{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C03}\tWeb servers\n"
              "4\t2\t{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C04}\tDatabase servers\n"
              "5\t0\t{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C05}\tWorkstations\n"
              "6\t5\t{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C06}\tFinance\n"
              "7\t5\t{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C07}\tEngineering\n"
              "8\t7\t{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C08}\tBuild agents\n");
}

std::string GroupData(GroupTree tree) {
  const auto line = [](int id, int parent, const std::string& name) {
    char guid[40];
    snprintf(guid, sizeof(guid), "{1A2B3C4D-5E6F-4A1B-8C2D-%012d}", id);
    return std::to_string(id) + "\t" + std::to_string(parent) + "\t" + guid + "\t" + name + "\n";
  };
  const std::string defaultGroup = std::string("1\t0\t") + kDefaultGroupGuid + "\tDefault\n";
  std::string text = "# id\tparent\tGUID\tname (tab-separated; parent 0 = top of the tree)\n";
  switch (tree) {
    case GroupTree::kStandard:
      return DefaultGroupData();
    case GroupTree::kDeep:
      for (int id = 100; id < 130; ++id) {
        text += line(id, 0, "Site " + std::to_string(id - 99));
      }
      text += line(2, 0, "Level 1");
      for (int level = 2; level <= 8; ++level) {
        text += line(level + 1, level, "Level " + std::to_string(level));
      }
      text += std::string("1\t9\t") + kDefaultGroupGuid + "\tDefault\n";
      break;
    case GroupTree::kSubGroupFirst:
      // Group 20 comes before its parent 22, itself a sub-group.
      text += defaultGroup + line(21, 0, "Branch office") + line(20, 22, "Sub-group before its parent") +
              line(22, 21, "Branch desktops");
      break;
    case GroupTree::kDuplicateNames:
      text += defaultGroup + line(30, 0, "Laptops") + line(31, 0, "Laptops") + line(32, 30, "Sales") +
              line(33, 31, "Sales");
      break;
    case GroupTree::kFolderNames:
      text += defaultGroup + line(40, 0, "Z\xC3\xBCrich office") +
              line(41, 40,
                   "Ingenier\xC3\xAD"
                   "a") +
              line(42, 41, "Build agents") + line(43, 0, "Sales\\East") + line(44, 0, "Lab: <west>?") +
              line(45, 0, "CON") + line(46, 0, "Kiosk.") + line(47, 0, "kiosk") +
              "48\t0\tnot-a-guid\tUnmanaged\n";
      break;
    case GroupTree::kNone:
      break;
  }
  return CrLf(text);
}

bool LayOutServer(const Options& options, Result* result) {
  Result local;
  Result& out = result != nullptr ? *result : local;
  out = Result{};
  try {
    return LayOut(options, &out);
  } catch (...) {
    out.error = L"out of memory";
    return false;
  }
}

}  // namespace serverlayout
