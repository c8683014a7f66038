// A data library that fills every text field to its last character without a terminator, for
// checking that the query bounds what it copies. The other calls succeed with fixed values.

#include <cstring>
#include <cwchar>

#include "contracts/cnsldata.h"

// Also writes fields of a larger record, as a later server's library may: into the room the
// caller must leave after the record.
uint8_t WINAPI GetHesBuildInfo(BuildInfoRecord* record, uint32_t*) {
  std::wmemset(record->text, L'B', kBuildInfoChars);
  std::memset(record + 1, 0x42, kBuildInfoSlackBytes);
  return 1;
}

uint8_t WINAPI ReadTMHESFeatureByID(uint32_t, uint8_t* value, uint32_t*) {
  *value = 7;
  return 1;
}

uint8_t WINAPI GetGenericData(uint32_t, void* buffer, uint32_t size, uint32_t*) {
  std::wmemset(static_cast<wchar_t*>(buffer), L'G', size / sizeof(wchar_t));
  return 1;
}

uint8_t WINAPI OpenDatabase(uint32_t* database) {
  *database = 5;
  return 1;
}

uint8_t WINAPI GetDataByType(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t size, void* data) {
  std::memset(data, 0x5A, size);
  return 1;
}

uint8_t WINAPI CloseDatabase(uint32_t) { return 1; }
