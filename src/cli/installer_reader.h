#pragma once
// What an installer made by the program carries, read back from the file: its entries with
// their sizes, the text of its settings file and the bytes of its server-info record. EXE setups
// are read by the carried 7-Zip, written into a private temporary folder; MSI databases through
// the Windows Installer API; the Mac and Linux TARs header by header with build/tar_format.h.
// None is read whole: only the two small files the report reads are kept, each within a size
// bound, and a listing holds at most a bounded number of entries.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct InstallerEntry {
  std::wstring name;  // as stored: a path inside the archive, or the MSI Binary row's name
  uint64_t size = 0;
};

struct InstallerContents {
  const wchar_t* format = L"";  // "EXE", "MSI" or "TAR"
  std::vector<InstallerEntry> entries;
  std::optional<std::wstring> settings;  // wsnode.ini's text, when the installer has one
  std::optional<std::string> record;     // rpinfo.dat's bytes, when it has one
};

// False, with `error` saying why, when the file cannot be opened, is none of the three kinds, or
// its reader fails part way or finds damage: a kept file larger than its bound, a settings file
// that is no text of its encoding or has an overlong line, too many entries. A report is then
// never made from what was read.
bool ReadInstaller(const std::wstring& path, InstallerContents& contents, std::wstring& error);

// The TAR reader alone: every header's checksum, size and the content's extent are checked
// against the file, long names followed, and the archive must end with a zero block. Exposed for
// tests.
bool ReadTar(const std::wstring& path, InstallerContents& contents, std::wstring& error);

}  // namespace cli
