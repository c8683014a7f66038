// inspect FILE: what an installer the program made carries, its files and its SHA-256.

#include <windows.h>

#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "app/app.h"
#include "build/installer_hash.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "cli/installer_reader.h"
#include "groups/group_tree.h"
#include "log/trace_log.h"
#include "serverinfo/crc32.h"
#include "serverinfo/rpinfo_file.h"

namespace cli {
namespace {

// The settings file's text: UTF-16LE after its byte-order mark (Windows and Mac builds), the
// ANSI code page otherwise (Linux builds).
std::wstring DecodeSettings(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    memcpy(text.data(), bytes.data() + 2, text.size() * 2);
    return text;
  }
  const int size = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

std::wstring Trim(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

std::wstring Upper(std::wstring text) {
  ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

struct Settings {
  std::map<std::wstring, std::wstring> setting;  // [SETTING], keys in upper case
  std::vector<std::wstring> problems;
};

// Every line is a section, a key=value pair, a comment or blank; anything else, and a key that
// appears twice in one section (the profile functions would read only the first), is a problem.
Settings ParseSettings(const std::string& bytes) {
  Settings settings;
  const std::wstring text = DecodeSettings(bytes);
  std::wstring section;
  std::map<std::wstring, std::map<std::wstring, size_t>> seen;
  size_t number = 0;
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find(L'\n', at);
    if (end == std::wstring::npos) {
      end = text.size();
    }
    std::wstring clean = text.substr(at, end - at);
    if (!clean.empty() && clean.back() == L'\r') {
      clean.pop_back();
    }
    clean = Trim(clean);
    ++number;
    at = end + 1;
    if (clean.empty() || clean[0] == L';' || clean[0] == L'#') {
      continue;
    }
    if (clean.front() == L'[' && clean.back() == L']') {
      section = Upper(clean.substr(1, clean.size() - 2));
      continue;
    }
    const size_t equals = clean.find(L'=');
    if (equals == std::wstring::npos || equals == 0 || section.empty()) {
      settings.problems.push_back(L"line " + std::to_wstring(number) + L" is malformed: " + clean);
      continue;
    }
    const std::wstring key = Upper(Trim(clean.substr(0, equals)));
    auto& keys = seen[section];
    if (const auto earlier = keys.find(key); earlier != keys.end()) {
      settings.problems.push_back(L"line " + std::to_wstring(number) + L" repeats the key " +
                                  Trim(clean.substr(0, equals)) + L" of [" + section + L"] (first on line " +
                                  std::to_wstring(earlier->second) + L")");
      continue;
    }
    keys[key] = number;
    if (section == L"SETTING") {
      settings.setting[key] = Trim(clean.substr(equals + 1));
    }
  }
  return settings;
}

std::wstring SettingOr(const Settings& settings, const wchar_t* key, const wchar_t* otherwise) {
  const auto found = settings.setting.find(key);
  return found != settings.setting.end() && !found->second.empty() ? found->second : otherwise;
}

// The server-info record file: its CRC, the Minimal and validity flags and the expiry.
std::wstring DescribeRecord(const std::string& file) {
  if (file.size() != kServerInfoFileSize) {
    return L"damaged: " + std::to_wstring(file.size()) + L" bytes, not " +
           std::to_wstring(kServerInfoFileSize);
  }
  const Crc32 crc;
  uint32_t running = kCrc32Start;
  crc.Update(file.data() + kServerInfoHeaderSize, kServerInfoRecordSize, &running);
  uint32_t stored = 0;
  memcpy(&stored, file.data() + 4, sizeof stored);
  const bool headerZero = file[0] == 0 && file[1] == 0 && file[2] == 0 && file[3] == 0;
  std::wstring text = (~running == stored && headerZero) ? L"CRC valid" : L"CRC INVALID";
  ServerInfoRecord record;
  memcpy(&record, file.data() + kServerInfoHeaderSize, sizeof record);
  ScrambleBytes(&record, sizeof record);
  text += std::wstring(L", Minimal ") + (record.minimalPackage != 0 ? L"yes" : L"no");
  text += std::wstring(L", validity ") + (record.validityEnabled != 0 ? L"yes" : L"no");
  if (record.expiryTime == 0) {
    return text + L", no expiry";
  }
  // The expiry holds the local date and time as if it were UTC: shown as it stands.
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(record.expiryTime) * 10000000ull + 116444736000000000ull;
  FILETIME time{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME local{};
  if (record.expiryTime < 0 || !::FileTimeToSystemTime(&time, &local)) {
    return text + L", expiry unreadable (" + std::to_wstring(record.expiryTime) + L")";
  }
  wchar_t date[64];
  swprintf(date, 64, L", expires %04u-%02u-%02u %02u:%02u:%02u local time", local.wYear, local.wMonth,
           local.wDay, local.wHour, local.wMinute, local.wSecond);
  return text + date;
}

}  // namespace

int RunInspectCommand(int argc, wchar_t** argv) {
  Arguments arguments;
  std::wstring error;
  if (!ParseArguments(argc, argv, 2, CommandSyntax{{}, {}, 1}, arguments, error)) {
    WriteErr(L"tmrovane inspect: " + error + L" (see: tmrovane --help)\n");
    return kExitRefused;
  }
  tracelog::GetSettings().enabled = false;
  CtmrovaneApp app(::GetModuleHandleW(nullptr));
  app.InitTraceLog();
  app.LoadStringLibraryAndTexts();

  const std::wstring& path = arguments.positionals.front();
  InstallerContents contents;
  std::wstring hash;
  if (!ReadInstaller(path, contents, error) || !HashFileSha256(path.c_str(), hash)) {
    WriteErr(L"tmrovane inspect: " + (error.empty() ? L"cannot read " + path : error) + L"\n");
    return kExitUnreadable;
  }
  std::wstring report = L"file: " + path + L"\nformat: " + contents.format + L"\nsha256: " + hash + L"\n";
  if (contents.settings) {
    const Settings settings = ParseSettings(*contents.settings);
    report += L"installation mode: " + SettingOr(settings, L"CLNTINSTNETWK", L"(none)") + L"\n";
    report += L"alternate address: " + SettingOr(settings, L"SERVER_IP", L"(none)") + L"\n";
    const std::wstring guid = SettingOr(settings, L"PRESET_GROUP_ID", L"");
    if (guid.empty()) {
      report += L"group: (none)\n";
    } else {
      std::vector<groups::TreeGroup> tree;
      const groups::TreeGroup* group = nullptr;
      const bool known = groups::ReadGroupTree(tree, L"tmrovane.com inspect") &&
                         groups::FindGroup(tree, guid, &group) == groups::FindResult::kFound;
      report += L"group: " + guid + L" " + (known ? group->path : L"(not known to this server)") + L"\n";
    }
    for (const std::wstring& problem : settings.problems) {
      report += L"settings problem: " + problem + L"\n";
    }
  } else {
    report += L"settings: (no wsnode.ini)\n";
  }
  report +=
      L"server-info record: " + (contents.record ? DescribeRecord(*contents.record) : L"(none)") + L"\n";
  report += L"files:\n";
  for (const InstallerEntry& entry : contents.entries) {
    report += L"  " + std::to_wstring(entry.size) + L"\t" + entry.name + L"\n";
  }
  WriteOut(report);
  return kExitBuilt;
}

}  // namespace cli
