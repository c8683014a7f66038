#pragma once
// The server-info record that Windows and Mac client builds carry in rpinfo.dat: a packed byte
// layout of 7355 bytes, multi-byte values little-endian, no padding.

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct ServerInfoRecord {
  uint8_t featureFlag;        // the data library's value of feature 17
  char serverText[50];        // narrow, NUL-terminated, zero-filled
  char buildInfo[40];         // server build information in the ANSI code page; all zero when too long
  uint8_t serverData[5206];   // opaque block of the server database
  uint8_t minimalPackage;     // 1 for the Minimal package
  uint8_t validityEnabled;    // 1 for the Minimal package with a validity period
  int64_t expiryTime;         // seconds since 1970 (local date at 23:59:59 taken as UTC), or 0
  uint8_t genericText[2048];  // UTF-16LE, at most 1023 characters and a NUL, zero-filled
};
#pragma pack(pop)

inline constexpr size_t kServerInfoRecordSize = 7355;
static_assert(sizeof(ServerInfoRecord) == kServerInfoRecordSize);
static_assert(offsetof(ServerInfoRecord, serverText) == 1);
static_assert(offsetof(ServerInfoRecord, buildInfo) == 51);
static_assert(offsetof(ServerInfoRecord, serverData) == 91);
static_assert(offsetof(ServerInfoRecord, minimalPackage) == 5297);
static_assert(offsetof(ServerInfoRecord, validityEnabled) == 5298);
static_assert(offsetof(ServerInfoRecord, expiryTime) == 5299);
static_assert(offsetof(ServerInfoRecord, genericText) == 5307);
