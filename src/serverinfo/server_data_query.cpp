#include "serverinfo/server_data_query.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

// Last: it marks the unbounded string functions of the headers above as deprecated.
#include <strsafe.h>

#include "contracts/cnsldata.h"
#include "handles/handles.h"

namespace {

// At most this many characters of the build information field are looked at: a text that runs
// on to the field's last character is unterminated and far too long for the record anyway.
constexpr size_t kBuildInfoCharsLooked = kBuildInfoChars - 1;
constexpr size_t kGenericTextChars = kGenericDataBytes / sizeof(wchar_t);

// Converts a wide text of `length` characters to the ANSI code page into out (capacity bytes,
// zero-filled), NUL-terminated. Leaves out untouched when the converted text and its terminator
// do not fit.
void ToAnsiIfItFits(const wchar_t* text, size_t length, char* out, size_t capacity) {
  if (length == 0) {
    return;
  }
  const int needed =
      WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (needed <= 0 || static_cast<size_t>(needed) + 1 > capacity) {
    return;
  }
  if (WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), out, needed, nullptr, nullptr) !=
      needed) {
    std::memset(out, 0, capacity);
  }
}

// This computer's name: the server runs here.
void FillServerText(ServerInfoRecord* record) {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (GetComputerNameW(name, &length)) {
    ToAnsiIfItFits(name, wcsnlen(name, MAX_COMPUTERNAME_LENGTH), record->serverText,
                   sizeof record->serverText);
  }
}

template <typename Fn>
bool Lookup(HMODULE library, const char* name, Fn* fn) {
  *fn = fw::GetExport<Fn>(library, name);
  return *fn != nullptr;
}

// Closes an opened database when the query leaves, whichever way.
class DatabaseSession {
 public:
  explicit DatabaseSession(CloseDatabaseFn close) : close_(close) {}
  DatabaseSession(const DatabaseSession&) = delete;
  DatabaseSession& operator=(const DatabaseSession&) = delete;
  ~DatabaseSession() {
    if (open_) {
      close_(handle_);
    }
  }

  bool Open(OpenDatabaseFn open) {
    open_ = open(&handle_) != 0;
    return open_;
  }
  uint32_t handle() const { return handle_; }

 private:
  CloseDatabaseFn close_;
  uint32_t handle_ = 0;
  bool open_ = false;
};

}  // namespace

bool GetRPDatFileInfoFromDB(const wchar_t* serverFolder, ServerInfoRecord* record, uint32_t* error) {
  if (serverFolder == nullptr || record == nullptr || error == nullptr) {
    return false;
  }
  *error = 0;
  std::memset(record, 0, sizeof *record);
  FillServerText(record);

  // An empty folder would name a library in the root of the current drive.
  const size_t folderLength = wcsnlen(serverFolder, MAX_PATH);
  if (folderLength == 0) {
    return false;
  }
  wchar_t libraryPath[MAX_PATH];
  if (FAILED(StringCchCopyW(libraryPath, MAX_PATH, serverFolder)) ||
      (serverFolder[folderLength - 1] != L'\\' && FAILED(StringCchCatW(libraryPath, MAX_PATH, L"\\"))) ||
      FAILED(StringCchCatW(libraryPath, MAX_PATH, kDataLibraryName))) {
    return false;
  }
  fw::UniqueModule library(LoadLibraryExW(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!library) {
    return false;
  }

  GetHesBuildInfoFn getBuildInfo = nullptr;
  ReadFeatureByIdFn readFeature = nullptr;
  GetGenericDataFn getGenericData = nullptr;
  if (!Lookup(library.get(), kGetHesBuildInfoName, &getBuildInfo) ||
      !Lookup(library.get(), kReadFeatureByIdName, &readFeature) ||
      !Lookup(library.get(), kGetGenericDataName, &getGenericData)) {
    return false;
  }

  uint32_t libraryError = 0;
  // The record as this program knows it, at the start of a zeroed block with room to spare: a
  // server whose record has grown writes its further fields there, not past the buffer. Only
  // the known fields are read.
  struct {
    BuildInfoRecord record;
    unsigned char slack[kBuildInfoSlackBytes];
  } block{};
  const BuildInfoRecord& buildInfo = block.record;
  if (getBuildInfo(&block.record, &libraryError) == 0) {
    return false;
  }
  ToAnsiIfItFits(buildInfo.text, wcsnlen(buildInfo.text, kBuildInfoCharsLooked), record->buildInfo,
                 sizeof record->buildInfo);

  if (readFeature(kServerFeatureId, &record->featureFlag, &libraryError) == 0) {
    return false;
  }

  wchar_t genericText[kGenericTextChars] = {};
  if (getGenericData(kGenericDataKind, genericText, kGenericDataBytes, &libraryError) == 0) {
    return false;
  }
  // At most 1023 characters and a terminator, whether or not the library terminated the text.
  const size_t genericLength = wcsnlen(genericText, kGenericTextChars - 1);
  std::memcpy(record->genericText, genericText, genericLength * sizeof(wchar_t));

  OpenDatabaseFn openDatabase = nullptr;
  GetDataByTypeFn getDataByType = nullptr;
  CloseDatabaseFn closeDatabase = nullptr;
  if (!Lookup(library.get(), kOpenDatabaseName, &openDatabase) ||
      !Lookup(library.get(), kGetDataByTypeName, &getDataByType) ||
      !Lookup(library.get(), kCloseDatabaseName, &closeDatabase)) {
    return false;
  }
  DatabaseSession database(closeDatabase);
  if (!database.Open(openDatabase)) {
    return false;
  }
  return getDataByType(database.handle(), kServerDataSelector[0], kServerDataSelector[1],
                       kServerDataSelector[2], kServerDataBytes, record->serverData) != 0;
}
