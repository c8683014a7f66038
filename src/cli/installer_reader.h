#pragma once
// What an installer made by the program carries, read back from the file: its entries with
// their sizes and the bytes of its settings file and server-info record. EXE setups are read by
// the carried 7-Zip, written into a private temporary folder; MSI databases through the Windows
// Installer API; the Mac and Linux TARs by a reader of our own.

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
  std::optional<std::string> settings;  // wsnode.ini's bytes, when the installer has one
  std::optional<std::string> record;    // rpinfo.dat's bytes, when it has one
};

// False, with `error` saying why, when the file cannot be opened, is none of the three kinds, or
// its reader fails part way: a report is then never made from what was read.
bool ReadInstaller(const std::wstring& path, InstallerContents& contents, std::wstring& error);

// The TAR reader alone, on the archive's bytes: every header's checksum, octal size and the
// content's extent are checked, GNU long names followed, and the archive must end with its
// zero blocks. Exposed for tests.
bool ReadTar(const std::string& bytes, InstallerContents& contents, std::wstring& error);

}  // namespace cli
