// inspect FILE: what an installer the program made carries, its files and its SHA-256.

#include <windows.h>

#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "build/installer_hash.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "cli/installer_reader.h"
#include "groups/group_tree.h"
#include "log/trace_log.h"
#include "program/program_services.h"
#include "serverinfo/crc32.h"
#include "serverinfo/rpinfo_file.h"
#include "signing/signed_file.h"

namespace cli {
namespace {

constexpr OptionSpec kInspectOptions[] = {
    {L"--json", nullptr, L"the report as one JSON document on standard output"},
};

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
Settings ParseSettings(const std::wstring& text) {
  Settings settings;
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

// What the server-info record file says.
struct RecordReport {
  std::wstring damage;  // why it cannot be read at all; empty when it can
  bool crcValid = false;
  bool minimal = false;
  bool validity = false;
  std::optional<std::wstring> expiry;  // "YYYY-MM-DD HH:MM:SS" local time; none for 0
  std::wstring expiryProblem;          // set for a value that is no date
};

RecordReport ReadRecord(const std::string& file) {
  RecordReport report;
  if (file.size() != kServerInfoFileSize) {
    report.damage = std::to_wstring(file.size()) + L" bytes, not " + std::to_wstring(kServerInfoFileSize);
    return report;
  }
  const Crc32 crc;
  uint32_t running = kCrc32Start;
  crc.Update(file.data() + kServerInfoHeaderSize, kServerInfoRecordSize, &running);
  uint32_t stored = 0;
  memcpy(&stored, file.data() + 4, sizeof stored);
  report.crcValid = ~running == stored && file[0] == 0 && file[1] == 0 && file[2] == 0 && file[3] == 0;
  ServerInfoRecord record;
  memcpy(&record, file.data() + kServerInfoHeaderSize, sizeof record);
  ScrambleBytes(&record, sizeof record);
  report.minimal = record.minimalPackage != 0;
  report.validity = record.validityEnabled != 0;
  if (record.expiryTime == 0) {
    return report;
  }
  // The expiry holds the local date and time as if it were UTC: shown as it stands.
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(record.expiryTime) * 10000000ull + 116444736000000000ull;
  FILETIME time{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME local{};
  if (record.expiryTime < 0 || !::FileTimeToSystemTime(&time, &local)) {
    report.expiryProblem = L"no date: " + std::to_wstring(record.expiryTime);
    return report;
  }
  wchar_t date[32];
  swprintf(date, 32, L"%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
           local.wMinute, local.wSecond);
  report.expiry = date;
  return report;
}

// Everything inspect says about one installer.
struct Report {
  std::wstring path;
  const wchar_t* format = L"";
  std::wstring sha256;
  bool hasSettings = false;
  std::optional<std::wstring> installationMode;
  std::optional<std::wstring> alternateAddress;
  std::optional<std::wstring> groupGuid;
  std::optional<std::wstring> groupPath;  // when this server knows the group
  std::vector<std::wstring> settingsProblems;
  std::optional<RecordReport> record;
  std::vector<InstallerEntry> files;
  // A Windows installer's signature; a problem that keeps it from being read instead.
  std::optional<signing::SignatureReport> signature;
  std::wstring signatureProblem;
};

std::optional<std::wstring> SettingValue(const Settings& settings, const wchar_t* key) {
  const auto found = settings.setting.find(key);
  if (found == settings.setting.end() || found->second.empty()) {
    return std::nullopt;
  }
  return found->second;
}

Report MakeReport(const std::wstring& path, InstallerContents& contents, const std::wstring& hash) {
  Report report;
  report.path = path;
  report.format = contents.format;
  report.sha256 = hash;
  report.files = std::move(contents.entries);
  if (std::wstring_view(report.format) != L"TAR") {
    signing::SignatureReport signature;
    if (signing::ReadSignature(path, signature, report.signatureProblem)) {
      report.signature = std::move(signature);
    }
  }
  if (contents.record) {
    report.record = ReadRecord(*contents.record);
  }
  if (!contents.settings) {
    return report;
  }
  report.hasSettings = true;
  const Settings settings = ParseSettings(*contents.settings);
  report.installationMode = SettingValue(settings, L"CLNTINSTNETWK");
  report.alternateAddress = SettingValue(settings, L"SERVER_IP");
  report.groupGuid = SettingValue(settings, L"PRESET_GROUP_ID");
  report.settingsProblems = settings.problems;
  std::vector<groups::TreeGroup> tree;
  const groups::TreeGroup* group = nullptr;
  if (report.groupGuid && groups::ReadGroupTree(tree, L"tmrovane.com inspect") &&
      groups::FindGroup(tree, *report.groupGuid, &group) == groups::FindResult::kFound) {
    report.groupPath = group->path;
  }
  return report;
}

// One signature's lines, each name after `prefix`.
std::wstring SignatureText(const signing::SignatureReport& signature, const std::wstring& prefix) {
  std::wstring text = L"\n" + prefix + L"signature: " + signature.digestAlgorithm + L", digest " +
                      (!signature.digestMatches   ? L"not checked"
                       : *signature.digestMatches ? L"matches the file"
                                                  : L"DOES NOT MATCH the file (changed after signing)");
  text += L"\n" + prefix + L"signer: " + signature.subject + L"\n" + prefix + L"signer issuer: " +
          signature.issuer + L"\n" + prefix + L"signer thumbprint: " + signature.thumbprint;
  text +=
      L"\n" + prefix + L"timestamp: " +
      (signature.timestampTime.empty() ? L"(none)"
                                       : signature.timestampTime + L" by " + signature.timestampAuthority);
  return text;
}

std::wstring RenderText(const Report& report) {
  const auto orNone = [](const std::optional<std::wstring>& value) { return value ? *value : L"(none)"; };
  std::wstring text =
      L"file: " + report.path + L"\nformat: " + report.format + L"\nsha256: " + report.sha256 + L"\n";
  if (report.hasSettings) {
    text += L"installation mode: " + orNone(report.installationMode) + L"\n";
    text += L"alternate address: " + orNone(report.alternateAddress) + L"\n";
    text += L"group: " +
            (report.groupGuid ? *report.groupGuid + L" " +
                                    (report.groupPath ? *report.groupPath : L"(not known to this server)")
                              : L"(none)") +
            L"\n";
    for (const std::wstring& problem : report.settingsProblems) {
      text += L"settings problem: " + problem + L"\n";
    }
  } else {
    text += L"settings: (no wsnode.ini)\n";
  }
  text += L"server-info record: ";
  if (!report.record) {
    text += L"(none)";
  } else if (!report.record->damage.empty()) {
    text += L"damaged: " + report.record->damage;
  } else {
    const RecordReport& record = *report.record;
    text += std::wstring(record.crcValid ? L"CRC valid" : L"CRC INVALID") + L", Minimal " +
            (record.minimal ? L"yes" : L"no") + L", validity " + (record.validity ? L"yes" : L"no");
    text += record.expiry
                ? L", expires " + *record.expiry + L" local time"
                : (record.expiryProblem.empty() ? L", no expiry" : L", expiry " + record.expiryProblem);
  }
  if (report.signature && report.signature->present) {
    text += SignatureText(*report.signature, L"");
    for (size_t i = 0; i < report.signature->nested.size(); ++i) {
      text += SignatureText(report.signature->nested[i], L"nested " + std::to_wstring(i + 1) + L" ");
    }
  } else if (report.signature) {
    text += L"\nsignature: (none)";
  } else if (std::wstring_view(report.format) != L"TAR") {
    text += L"\nsignature: damaged: " + report.signatureProblem;
  }
  text += L"\nfiles:\n";
  for (const InstallerEntry& entry : report.files) {
    text += L"  " + std::to_wstring(entry.size) + L"\t" + entry.name + L"\n";
  }
  return text;
}

nlohmann::json Optional(const std::optional<std::wstring>& value) {
  return value ? nlohmann::json(ToUtf8(*value)) : nlohmann::json(nullptr);
}

nlohmann::json SignatureJson(const signing::SignatureReport& signature) {
  nlohmann::json timestamp = nullptr;
  if (!signature.timestampTime.empty()) {
    timestamp = {{"time", ToUtf8(signature.timestampTime)},
                 {"authority", ToUtf8(signature.timestampAuthority)}};
  }
  return {{"subject", ToUtf8(signature.subject)},
          {"issuer", ToUtf8(signature.issuer)},
          {"thumbprint", ToUtf8(signature.thumbprint)},
          {"digestAlgorithm", ToUtf8(signature.digestAlgorithm)},
          {"digestMatches",
           signature.digestMatches ? nlohmann::json(*signature.digestMatches) : nlohmann::json()},
          {"timestamp", timestamp}};
}

nlohmann::json RenderJson(const Report& report) {
  nlohmann::json json{
      {"file", ToUtf8(report.path)}, {"format", ToUtf8(report.format)}, {"sha256", ToUtf8(report.sha256)}};
  json["settings"] = nullptr;
  if (report.hasSettings) {
    nlohmann::json problems = nlohmann::json::array();
    for (const std::wstring& problem : report.settingsProblems) {
      problems.push_back(ToUtf8(problem));
    }
    json["settings"] = {{"installationMode", Optional(report.installationMode)},
                        {"alternateAddress", Optional(report.alternateAddress)},
                        {"groupGuid", Optional(report.groupGuid)},
                        {"groupPath", Optional(report.groupPath)},
                        {"problems", problems}};
  }
  json["record"] = nullptr;
  if (report.record && !report.record->damage.empty()) {
    json["record"] = {{"damaged", ToUtf8(report.record->damage)}};
  } else if (report.record) {
    const RecordReport& record = *report.record;
    json["record"] = {{"crcValid", record.crcValid},
                      {"minimal", record.minimal},
                      {"validity", record.validity},
                      {"expiryLocal", Optional(record.expiry)}};
  }
  json["signature"] = nullptr;
  if (report.signature && report.signature->present) {
    json["signature"] = SignatureJson(*report.signature);
    nlohmann::json nested = nlohmann::json::array();
    for (const signing::SignatureReport& inner : report.signature->nested) {
      nested.push_back(SignatureJson(inner));
    }
    json["signature"]["nested"] = nested;
  } else if (!report.signature && std::wstring_view(report.format) != L"TAR") {
    json["signature"] = {{"damaged", ToUtf8(report.signatureProblem)}};
  }
  nlohmann::json files = nlohmann::json::array();
  for (const InstallerEntry& entry : report.files) {
    files.push_back({{"name", ToUtf8(entry.name)}, {"size", entry.size}});
  }
  json["files"] = files;
  return json;
}

}  // namespace

const CommandSpec kInspectCommand{L"inspect", L"FILE",
                                  L"what an installer made by this program carries: mode, alternate address, "
                                  L"group,\nserver-info record, signature, files, SHA-256",
                                  kInspectOptions};

int RunInspectCommand(int argc, wchar_t** argv) {
  Arguments arguments;
  std::wstring error;
  if (!ParseArguments(argc, argv, 2, kInspectCommand, arguments, error)) {
    WriteUsageError(L"inspect", error);
    return ExitCode(Outcome::kRefused);
  }
  if (arguments.help) {
    WriteOut(CommandHelp(kInspectCommand));
    return ExitCode(Outcome::kBuilt);
  }
  tracelog::GetSettings().enabled = false;
  ProgramServices app(::GetModuleHandleW(nullptr));
  app.InitTraceLog();
  app.LoadStringLibraryAndTexts();

  const std::wstring& path = arguments.positionals.front();
  InstallerContents contents;
  std::wstring hash;
  if (!ReadInstaller(path, contents, error) || !HashFileSha256(path.c_str(), hash)) {
    WriteErr(L"tmrovane inspect: " + (error.empty() ? L"cannot read " + path : error) + L"\n");
    return ExitCode(Outcome::kUnreadable);
  }
  const Report report = MakeReport(path, contents, hash);
  WriteOut(arguments.Has(L"--json") ? FromUtf8(RenderJson(report).dump(2)) + L"\n" : RenderText(report));
  return ExitCode(Outcome::kBuilt);
}

}  // namespace cli
