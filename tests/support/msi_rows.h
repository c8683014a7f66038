#pragma once
// Reads back the Binary table of an MSI database through the Windows Installer API.

#include <windows.h>

#include <map>
#include <string>

#include "build/msi_handle.h"

namespace testsupport {

// Every Binary row: name and stream content. Empty when the database cannot be read.
inline std::map<std::wstring, std::string> BinaryRows(const std::wstring& database) {
  std::map<std::wstring, std::string> rows;
  UniqueMsiHandle db, view;
  if (::MsiOpenDatabaseW(database.c_str(), MSIDBOPEN_READONLY, db.put()) != ERROR_SUCCESS ||
      ::MsiDatabaseOpenViewW(db.get(), L"SELECT `Name`, `Data` FROM `Binary`", view.put()) != ERROR_SUCCESS ||
      ::MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
    return rows;
  }
  UniqueMsiHandle row;
  while (::MsiViewFetch(view.get(), row.put()) == ERROR_SUCCESS) {
    wchar_t name[MAX_PATH] = L"";
    DWORD nameLength = MAX_PATH;
    ::MsiRecordGetStringW(row.get(), 1, name, &nameLength);
    std::string data(::MsiRecordDataSize(row.get(), 2), '\0');
    DWORD dataLength = static_cast<DWORD>(data.size());
    ::MsiRecordReadStream(row.get(), 2, data.data(), &dataLength);
    data.resize(dataLength);
    rows[name] = data;
  }
  ::MsiViewClose(view.get());
  return rows;
}

}  // namespace testsupport
