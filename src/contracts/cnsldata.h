#pragma once
// The server's data library (cnsldata.dll): build information, feature values, generic data
// and blocks of the server database. Loaded at run time, exports looked up by name. Results
// are one byte, non-zero meaning success (any non-zero value, not only 1).

#include <windows.h>

#include <cstdint>

inline constexpr size_t kBuildInfoChars = 260;
// Room the caller leaves after a BuildInfoRecord, zeroed, for a library whose record is larger.
inline constexpr size_t kBuildInfoSlackBytes = 4096;
inline constexpr uint32_t kServerFeatureId = 17;
inline constexpr uint32_t kGenericDataKind = 2;
inline constexpr uint32_t kGenericDataBytes = 2048;
inline constexpr uint32_t kServerDataSelector[3] = {1, 1, 3};
inline constexpr uint32_t kServerDataBytes = 5206;

// Out-record of GetHesBuildInfo. `label` is the library's own; callers hand it in zeroed and
// read only `text`.
struct BuildInfoRecord {
  struct {
    const wchar_t* data;
    uint32_t length;
    uint32_t reserved;
  } label;
  wchar_t text[kBuildInfoChars];
};

inline constexpr char kGetHesBuildInfoName[] = "GetHesBuildInfo";
inline constexpr char kReadFeatureByIdName[] = "ReadTMHESFeatureByID";
inline constexpr char kGetGenericDataName[] = "GetGenericData";
inline constexpr char kOpenDatabaseName[] = "OpenDatabase";
inline constexpr char kGetDataByTypeName[] = "GetDataByType";
inline constexpr char kCloseDatabaseName[] = "CloseDatabase";

extern "C" {
uint8_t WINAPI GetHesBuildInfo(BuildInfoRecord* record, uint32_t* error);
// Writes exactly one byte, the feature's value.
uint8_t WINAPI ReadTMHESFeatureByID(uint32_t featureId, uint8_t* value, uint32_t* error);
// Writes a NUL-terminated UTF-16 text into the buffer of `size` bytes.
uint8_t WINAPI GetGenericData(uint32_t kind, void* buffer, uint32_t size, uint32_t* error);
uint8_t WINAPI OpenDatabase(uint32_t* database);
// Writes exactly `size` bytes of the block the three selectors name.
uint8_t WINAPI GetDataByType(uint32_t database, uint32_t selector1, uint32_t selector2, uint32_t selector3,
                             uint32_t size, void* data);
uint8_t WINAPI CloseDatabase(uint32_t database);
}

using GetHesBuildInfoFn = decltype(&GetHesBuildInfo);
using ReadFeatureByIdFn = decltype(&ReadTMHESFeatureByID);
using GetGenericDataFn = decltype(&GetGenericData);
using OpenDatabaseFn = decltype(&OpenDatabase);
using GetDataByTypeFn = decltype(&GetDataByType);
using CloseDatabaseFn = decltype(&CloseDatabase);
