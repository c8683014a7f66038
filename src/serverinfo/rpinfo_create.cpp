#include "serverinfo/rpinfo_create.h"

#include <cstring>
#include <iterator>

#include "log/trace_log.h"
#include "serverinfo/rpinfo_file.h"
#include "serverinfo/server_data_query.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01

bool SecondsToSystemTime(int64_t seconds, SYSTEMTIME* time) {
  const int64_t ticks = (seconds + kEpochSeconds) * kTicksPerSecond;
  FILETIME file;
  file.dwLowDateTime = static_cast<DWORD>(ticks);
  file.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ticks >= 0 && FileTimeToSystemTime(&file, time);
}

bool SystemTimeToSeconds(const SYSTEMTIME& time, int64_t* seconds) {
  FILETIME file;
  if (!SystemTimeToFileTime(&time, &file)) {
    return false;
  }
  const int64_t ticks = (static_cast<int64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
  *seconds = ticks / kTicksPerSecond - kEpochSeconds;
  return true;
}

int64_t CurrentSeconds() {
  FILETIME file;
  GetSystemTimeAsFileTime(&file);
  const int64_t ticks = (static_cast<int64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
  return ticks / kTicksPerSecond - kEpochSeconds;
}

}  // namespace

bool ComputeValidityExpiryTime(int days, int64_t nowUtc, const TIME_ZONE_INFORMATION* zone, int64_t* expiry) {
  if (expiry == nullptr) {
    return false;
  }
  SYSTEMTIME utc;
  SYSTEMTIME local;
  if (!SecondsToSystemTime(nowUtc + days * kSecondsPerDay, &utc) ||
      !SystemTimeToTzSpecificLocalTime(zone, &utc, &local)) {
    return false;
  }
  local.wHour = 23;
  local.wMinute = 59;
  local.wSecond = 59;
  local.wMilliseconds = 0;
  return SystemTimeToSeconds(local, expiry);
}

bool GetValidityExpiryTime(int days, int64_t* expiry) {
  return ComputeValidityExpiryTime(days, CurrentSeconds(), nullptr, expiry);
}

bool CreateRPInfoDatFileForClientPackager(const BuildOptions& options, const wchar_t* path, uint32_t* error) {
  constexpr wchar_t kTag[] = L"CreateRPInfoDatFileForClientPackager";
  TraceLog(tracelog::kLevelProgress, kTag, L"Entry");
  if (path == nullptr || error == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid parameters");
    return false;
  }
  *error = 0;
  const bool minimal = options.packageIndex == kPackageMinimal;

  ServerInfoRecord record;
  std::memset(&record, 0, sizeof record);
  if (!GetRPDatFileInfoFromDB(options.installFolder.c_str(), &record, error)) {
    TraceLog(tracelog::kLevelError, kTag, L"GetRPDatFileInfofromDB failed. Error = %lu",
             static_cast<unsigned long>(*error));
    return false;
  }

  record.validityEnabled = 0;
  record.expiryTime = 0;
  if (minimal && options.validityChecked) {
    const int index = options.validityIndex;
    int64_t expiry = 0;
    if (index < 0 || index >= static_cast<int>(std::size(kValidityDays)) ||
        !GetValidityExpiryTime(kValidityDays[index], &expiry)) {
      TraceLog(tracelog::kLevelError, kTag, L"GetValidityExpiryTime failed (period %d)", index);
      return false;
    }
    record.validityEnabled = 1;
    record.expiryTime = expiry;
  }
  record.minimalPackage = minimal ? 1 : 0;

  if (!CreateDefaultRPInfoDatFile(&record, path, error)) {
    TraceLog(tracelog::kLevelError, kTag, L"CreateDefaultRPInfoDatFile failed. Error = %lu",
             static_cast<unsigned long>(*error));
    return false;
  }
  TraceLog(tracelog::kLevelError, kTag, L"Exit");
  return true;
}
