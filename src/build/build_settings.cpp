#include "build/build_settings.h"

#include "log/trace_log.h"

bool WriteSettingsKey(const wchar_t* iniPath, const wchar_t* key, const wchar_t* value,
                      const wchar_t* traceTag) {
  if (iniPath == nullptr || key == nullptr || value == nullptr) {
    TraceLog(tracelog::kLevelError, traceTag, L"Invalid parameters");
    return false;
  }
  if (!WritePrivateProfileStringW(kSettingsSection, key, value, iniPath)) {
    TraceLog(tracelog::kLevelProgress, traceTag, L"WritePrivateProfileString failed (Err -> %u)",
             static_cast<unsigned>(GetLastError()));
    return false;
  }
  return true;
}

const wchar_t* InstallNetworkValue(bool alternateConnection, int installationMode) {
  return alternateConnection || installationMode == 2 ? L"2" : L"1";
}

BuildSettings BuildSettingsFor(BuildKind kind, const BuildOptions& options, const wchar_t* alternateAddress) {
  const bool isLinux = kind == BuildKind::Linux32 || kind == BuildKind::Linux64;
  BuildSettings settings;
  settings.groupGuid = isLinux ? nullptr : options.groupGuid.c_str();
  settings.alternateConnection = options.alternateConnection;
  settings.alternateAddress = alternateAddress;
  settings.installationMode = options.installationMode;
  settings.pullFrequency = isLinux;
  return settings;
}

bool WriteBuildSettings(const wchar_t* iniPath, const BuildSettings& settings, const wchar_t* traceTag) {
  if (settings.groupGuid != nullptr &&
      !WriteSettingsKey(iniPath, L"preset_group_id", settings.groupGuid, traceTag)) {
    return false;
  }
  if (settings.alternateConnection &&
      !WriteSettingsKey(iniPath, L"SERVER_IP", settings.alternateAddress, traceTag)) {
    return false;
  }
  if (!WriteSettingsKey(iniPath, L"clntinstnetwk",
                        InstallNetworkValue(settings.alternateConnection, settings.installationMode),
                        traceTag)) {
    return false;
  }
  return !settings.pullFrequency || WriteSettingsKey(iniPath, L"clntpullfreq", L"0", traceTag);
}
