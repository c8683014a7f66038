// Stand-in data library. It serves the server's data from files beside the library:
//
//   serverdata.txt   "key=value" lines (UTF-8, byte-order mark optional, or UTF-16LE with
//                    byte-order mark; '#' starts a comment line); the value is the rest of the
//                    line, taken as it stands:
//                      build_info=<text>      GetHesBuildInfo
//                      feature.<id>=<0..255>  ReadTMHESFeatureByID
//                      generic.<kind>=<text>  GetGenericData
//   serverdata_<s1>_<s2>_<s3>.bin
//                    the block GetDataByType delivers for the selectors s1, s2, s3; the file
//                    must hold at least the requested size, whose first bytes are delivered.
//
// Every text is cut to fit the caller's field and terminated within it. A missing key, file
// or database handle fails the call.
//
// A file "cnsldata.fail" beside the library names exports that fail on demand (they write
// nothing then); with a file "success.ff" beside it, calls return 0xFF for success instead of
// 1. Every call, with its result, and the library's load and unload are recorded in
// "cnsldata.journal" beside it, one line each ("OpenDatabase ok 1", "CloseDatabase ok 1",
// "unload", ...), so that a caller can be checked for closing the database and freeing the
// library.

#include "contracts/cnsldata.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "common/standin_files.h"

namespace {

// Values of the error out-argument; 0 means success.
enum DataError : uint32_t {
  kOk = 0,
  kBadArgument = 1,
  kNoData = 2,  // the data file or key is missing or the value has the wrong form
  kSwitchedOff = 3,
  kBadHandle = 4,
  kNoMemory = 5,
};

HMODULE g_self = nullptr;
CRITICAL_SECTION g_lock;
std::set<uint32_t>* g_openDatabases = nullptr;
uint32_t g_nextDatabase = 1;

// Holds the lock on the open-database table for one scope.
class TableLock {
 public:
  TableLock() { ::EnterCriticalSection(&g_lock); }
  ~TableLock() { ::LeaveCriticalSection(&g_lock); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
};

std::wstring BesideLibrary(const std::wstring& name) { return standin::BesideModule(g_self, name); }

void Journal(const std::string& line) { standin::AppendJournal(BesideLibrary(L"cnsldata.journal"), line); }

bool SwitchedOff(const char* call) {
  return standin::IsSwitchedToFail(BesideLibrary(L"cnsldata.fail"), call);
}

DataError Lookup(const std::wstring& key, std::wstring* value) {
  std::string bytes;
  std::vector<std::wstring> lines;
  if (!standin::ReadWholeFile(BesideLibrary(L"serverdata.txt"), &bytes) ||
      !standin::DecodeLines(bytes, &lines)) {
    return kNoData;
  }
  for (const std::wstring& line : lines) {
    if (line.empty() || line[0] == L'#') {
      continue;
    }
    const size_t equals = line.find(L'=');
    if (equals != std::wstring::npos && line.compare(0, equals, key) == 0 && equals == key.size()) {
      *value = line.substr(equals + 1);
      return kOk;
    }
  }
  return kNoData;
}

// Copies `text` into `field` of `capacity` characters, cut to fit, always terminated.
void CopyTerminated(const std::wstring& text, wchar_t* field, size_t capacity) {
  size_t length = std::min(text.size(), capacity - 1);
  if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) {
    --length;
  }
  text.copy(field, length);
  field[length] = L'\0';
}

uint8_t Finish(const char* call, DataError result, uint32_t* error,
               std::initializer_list<uint32_t> details = {}) {
  if (error != nullptr) {
    *error = result;
  }
  standin::JournalCall(BesideLibrary(L"cnsldata.journal"), call, result, details);
  return result == kOk ? standin::SuccessByte(g_self) : 0;
}

DataError BuildInfo(BuildInfoRecord* record) {
  if (record == nullptr) {
    return kBadArgument;
  }
  if (SwitchedOff(kGetHesBuildInfoName)) {
    return kSwitchedOff;
  }
  std::wstring text;
  if (const DataError found = Lookup(L"build_info", &text); found != kOk) {
    return found;
  }
  CopyTerminated(text, record->text, kBuildInfoChars);
  record->label.data = record->text;
  record->label.length = static_cast<uint32_t>(wcslen(record->text));
  record->label.reserved = 0;
  return kOk;
}

DataError Feature(uint32_t featureId, uint8_t* value) {
  if (value == nullptr) {
    return kBadArgument;
  }
  if (SwitchedOff(kReadFeatureByIdName)) {
    return kSwitchedOff;
  }
  std::wstring text;
  if (const DataError found = Lookup(L"feature." + std::to_wstring(featureId), &text); found != kOk) {
    return found;
  }
  if (text.empty() || text.size() > 3 || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
    return kNoData;
  }
  const unsigned number = static_cast<unsigned>(std::stoul(text));
  if (number > 255) {
    return kNoData;
  }
  *value = static_cast<uint8_t>(number);
  return kOk;
}

DataError Generic(uint32_t kind, void* buffer, uint32_t size) {
  if (buffer == nullptr || size < sizeof(wchar_t)) {
    return kBadArgument;
  }
  if (SwitchedOff(kGetGenericDataName)) {
    return kSwitchedOff;
  }
  std::wstring text;
  if (const DataError found = Lookup(L"generic." + std::to_wstring(kind), &text); found != kOk) {
    return found;
  }
  CopyTerminated(text, static_cast<wchar_t*>(buffer), size / sizeof(wchar_t));
  return kOk;
}

DataError Block(uint32_t database, uint32_t s1, uint32_t s2, uint32_t s3, uint32_t size, void* data) {
  if (data == nullptr) {
    return kBadArgument;
  }
  if (SwitchedOff(kGetDataByTypeName)) {
    return kSwitchedOff;
  }
  {
    TableLock lock;
    if (g_openDatabases->count(database) == 0) {
      return kBadHandle;
    }
  }
  std::string bytes;
  const std::wstring name = L"serverdata_" + std::to_wstring(s1) + L"_" + std::to_wstring(s2) + L"_" +
                            std::to_wstring(s3) + L".bin";
  if (!standin::ReadWholeFile(BesideLibrary(name), &bytes) || bytes.size() < size) {
    return kNoData;
  }
  memcpy(data, bytes.data(), size);
  return kOk;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = instance;
    ::InitializeCriticalSection(&g_lock);
    g_openDatabases = new (std::nothrow) std::set<uint32_t>();
    if (g_openDatabases == nullptr) {
      ::DeleteCriticalSection(&g_lock);
      return FALSE;
    }
  }
  try {
    if (reason == DLL_PROCESS_ATTACH) {
      Journal("load");
    } else if (reason == DLL_PROCESS_DETACH) {
      Journal(reserved == nullptr ? "unload" : "process exit");
    }
  } catch (...) {
  }
  // At process exit the table is left to the system, as other threads may be gone mid-call.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    delete g_openDatabases;
    g_openDatabases = nullptr;
    ::DeleteCriticalSection(&g_lock);
  }
  return TRUE;
}

uint8_t WINAPI GetHesBuildInfo(BuildInfoRecord* record, uint32_t* error) {
  DataError result = kNoMemory;
  try {
    result = BuildInfo(record);
  } catch (...) {
  }
  return Finish(kGetHesBuildInfoName, result, error);
}

uint8_t WINAPI ReadTMHESFeatureByID(uint32_t featureId, uint8_t* value, uint32_t* error) {
  DataError result = kNoMemory;
  try {
    result = Feature(featureId, value);
  } catch (...) {
  }
  return Finish(kReadFeatureByIdName, result, error, {featureId});
}

uint8_t WINAPI GetGenericData(uint32_t kind, void* buffer, uint32_t size, uint32_t* error) {
  DataError result = kNoMemory;
  try {
    result = Generic(kind, buffer, size);
  } catch (...) {
  }
  return Finish(kGetGenericDataName, result, error, {kind});
}

uint8_t WINAPI OpenDatabase(uint32_t* database) {
  DataError result = kNoMemory;
  uint32_t handle = 0;
  try {
    if (database == nullptr) {
      result = kBadArgument;
    } else if (SwitchedOff(kOpenDatabaseName)) {
      result = kSwitchedOff;
    } else {
      TableLock lock;
      g_openDatabases->insert(g_nextDatabase);
      handle = g_nextDatabase++;
      *database = handle;
      result = kOk;
    }
  } catch (...) {
  }
  if (result != kOk) {
    return Finish(kOpenDatabaseName, result, nullptr);
  }
  return Finish(kOpenDatabaseName, result, nullptr, {handle});
}

uint8_t WINAPI GetDataByType(uint32_t database, uint32_t selector1, uint32_t selector2, uint32_t selector3,
                             uint32_t size, void* data) {
  DataError result = kNoMemory;
  try {
    result = Block(database, selector1, selector2, selector3, size, data);
  } catch (...) {
  }
  return Finish(kGetDataByTypeName, result, nullptr, {database, selector1, selector2, selector3, size});
}

uint8_t WINAPI CloseDatabase(uint32_t database) {
  DataError result = kNoMemory;
  try {
    if (SwitchedOff(kCloseDatabaseName)) {
      result = kSwitchedOff;
    } else {
      TableLock lock;
      result = g_openDatabases->erase(database) != 0 ? kOk : kBadHandle;
    }
  } catch (...) {
  }
  return Finish(kCloseDatabaseName, result, nullptr, {database});
}
