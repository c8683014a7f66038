#pragma once
// The server data query: fills a server-info record from the server's data library
// cnsldata.dll in the server installation folder, loaded for this one call.

#include <cstdint>

#include "serverinfo/server_info_record.h"

inline constexpr wchar_t kDataLibraryName[] = L"cnsldata.dll";

// Clears the record and fills featureFlag, serverText (this computer's name), buildInfo,
// serverData and genericText; the package fields stay zero. False when the folder is empty or
// too long, the library does not load, an export is missing or a library call fails. The
// library is freed and an opened database closed on every path. error is set to 0 and stays 0.
bool GetRPDatFileInfoFromDB(const wchar_t* serverFolder, ServerInfoRecord* record, uint32_t* error);
