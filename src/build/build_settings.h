#pragma once
// The build settings file wsnode.ini that every client build carries: the builds copy the
// server's template into their working folder and set the keys of section SETTING in the copy.
// WritePrivateProfileStringW keeps the template's other sections and keys and its encoding.

#include <windows.h>

#include "options/build_kind.h"
#include "options/build_options.h"

inline constexpr wchar_t kSettingsFileName[] = L"wsnode.ini";
inline constexpr wchar_t kSettingsSection[] = L"SETTING";

// Sets one key of section SETTING. A failure is traced at level 2 under the caller's tag as
// "WritePrivateProfileString failed (Err -> %u)" with the system error. A null value is refused:
// it would delete the key instead of setting it.
bool WriteSettingsKey(const wchar_t* iniPath, const wchar_t* key, const wchar_t* value,
                      const wchar_t* traceTag);

// The clntinstnetwk value: "2" with the alternate connection or installation mode 2, else "1".
const wchar_t* InstallNetworkValue(bool alternateConnection, int installationMode);

// What one build writes. The pointers must outlive the write.
struct BuildSettings {
  const wchar_t* groupGuid = nullptr;  // preset_group_id, written first when set
  bool alternateConnection = false;
  const wchar_t* alternateAddress = L"";  // SERVER_IP, written only with the alternate connection
  int installationMode = 1;
  bool pullFrequency = false;  // clntpullfreq = "0", written last
};

// The settings of a build of the given kind: Windows and Mac builds carry the group, Linux builds
// the pull frequency instead. The result points into options and alternateAddress.
BuildSettings BuildSettingsFor(BuildKind kind, const BuildOptions& options, const wchar_t* alternateAddress);

// Writes preset_group_id, then SERVER_IP and clntinstnetwk (or clntinstnetwk alone), then
// clntpullfreq, as far as the settings ask for them. Stops at the first failed write.
bool WriteBuildSettings(const wchar_t* iniPath, const BuildSettings& settings, const wchar_t* traceTag);
