#include "cli/installer_reader.h"

#include <windows.h>
// After windows.h: the Windows Installer headers rely on its types.
#include <msiquery.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "build/archive_pack.h"
#include "build/archive_pack_resource.h"
#include "build/file_utils.h"
#include "build/msi_handle.h"
#include "build/tar_format.h"
#include "cli/console_text.h"
#include "framework/ansi.h"
#include "handles/handles.h"

namespace cli {
namespace {

// What the readers trust an installer with: the files the report reads are kept in memory, so
// each has a size bound (the record is 7363 bytes, a settings file a few KiB); a settings
// line longer than any key and value the program writes, and a listing of more entries than an
// installer holds, are damage, not something to hold.
constexpr uint64_t kLargestSettingsFile = 256 * 1024;
constexpr uint64_t kLargestRecordFile = 64 * 1024;
constexpr size_t kLongestSettingsLine = 1024;
constexpr size_t kMostEntries = 10000;
constexpr size_t kLargestListing = 16 * 1024 * 1024;
// A 7-Zip run that takes longer is stuck on a damaged archive, not reading a large one.
constexpr DWORD kSevenZipTimeLimitSeconds = 300;

std::wstring BaseName(const std::wstring& name) {
  const size_t slash = name.find_last_of(L"/\\");
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

enum class Kept { kNone, kSettings, kRecord };

// Which of the two files the report reads `name` is, if any.
Kept KeptKind(const std::wstring& name) {
  const std::wstring base = BaseName(name);
  if (_wcsicmp(base.c_str(), L"wsnode.ini") == 0) {
    return Kept::kSettings;
  }
  return _wcsicmp(base.c_str(), L"rpinfo.dat") == 0 ? Kept::kRecord : Kept::kNone;
}

// False, with `error` naming the entry, when a kept file is larger than it can be.
bool KeptSizeAllowed(const std::wstring& path, const InstallerEntry& entry, std::wstring& error) {
  const Kept kind = KeptKind(entry.name);
  const uint64_t largest = kind == Kept::kSettings ? kLargestSettingsFile : kLargestRecordFile;
  if (kind == Kept::kNone || entry.size <= largest) {
    return true;
  }
  error = path + L": " + entry.name + L" is " + std::to_wstring(entry.size) + L" bytes, more than the " +
          std::to_wstring(largest) + L" such a file can be";
  return false;
}

// The settings file's text: UTF-16LE after its byte-order mark (Windows and Mac builds), the
// ANSI code page otherwise (Linux builds). False, with `problem` saying why, for bytes that are
// no text of that encoding (an odd length, an unpaired surrogate, a NUL, a byte sequence the code
// page lacks) or a line longer than kLongestSettingsLine.
bool DecodeSettings(const std::string& bytes, std::wstring& text, std::wstring& problem) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) {
      problem = L"is UTF-16LE text of an odd length";
      return false;
    }
    text.assign((bytes.size() - 2) / 2, L'\0');
    memcpy(text.data(), bytes.data() + 2, text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
      const bool high = IS_HIGH_SURROGATE(text[i]);
      if (IS_LOW_SURROGATE(text[i]) || (high && (i + 1 == text.size() || !IS_LOW_SURROGATE(text[i + 1])))) {
        problem = L"holds an unpaired surrogate at character " + std::to_wstring(i + 1);
        return false;
      }
      i += high ? 1 : 0;
    }
  } else if (!fw::FromAnsiExactly(bytes.data(), bytes.size(), text)) {
    problem = L"is no text of the ANSI code page";
    return false;
  }
  if (text.find(L'\0') != std::wstring::npos) {
    problem = L"holds a NUL character";
    return false;
  }
  size_t number = 1;
  for (size_t at = 0; at <= text.size(); ++number) {
    const size_t end = std::min(text.find(L'\n', at), text.size());
    const size_t length = end - at - (end > at && text[end - 1] == L'\r' ? 1 : 0);
    if (length > kLongestSettingsLine) {
      problem = L"line " + std::to_wstring(number) + L" is longer than " +
                std::to_wstring(kLongestSettingsLine) + L" characters";
      return false;
    }
    at = end + 1;
  }
  return true;
}

// Keeps the text or bytes of the two files an installer's report reads.
bool Keep(InstallerContents& contents, const std::wstring& path, const std::wstring& name, std::string bytes,
          std::wstring& error) {
  switch (KeptKind(name)) {
    case Kept::kSettings: {
      std::wstring text;
      std::wstring problem;
      if (!DecodeSettings(bytes, text, problem)) {
        error = path + L": " + name + L" " + problem;
        return false;
      }
      contents.settings = std::move(text);
      return true;
    }
    case Kept::kRecord:
      contents.record = std::move(bytes);
      return true;
    case Kept::kNone:
      break;
  }
  return true;
}

// One more entry for the listing; false past kMostEntries.
bool AddEntry(InstallerContents& contents, const std::wstring& path, InstallerEntry entry,
              std::wstring& error) {
  if (contents.entries.size() == kMostEntries) {
    error = path + L" lists more than " + std::to_wstring(kMostEntries) + L" entries";
    return false;
  }
  contents.entries.push_back(std::move(entry));
  return true;
}

bool ReadWholeFile(const std::wstring& path, uint64_t largest, std::string& bytes, std::wstring& error) {
  fw::UniqueKernelHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size)) {
    error = L"cannot open " + path + L" (error " + std::to_wstring(::GetLastError()) + L")";
    return false;
  }
  if (static_cast<uint64_t>(size.QuadPart) > largest) {
    error = path + L" is larger than " + std::to_wstring(largest) + L" bytes";
    return false;
  }
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty() &&
      (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
       got != bytes.size())) {
    error = L"cannot read " + path;
    return false;
  }
  return true;
}

// 7-Zip written out of this program's resources into a folder of its own under the user's
// temporary folder: the release that runs natively here, as the builds use. The folder and
// everything in it (7-Zip and what it extracted) goes when the reading ends.
class PrivateSevenZip {
 public:
  PrivateSevenZip() {
    wchar_t temp[MAX_PATH];
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
      return;
    }
    for (unsigned attempt = 0; attempt < 100 && folder_.empty(); ++attempt) {
      const std::wstring candidate = std::wstring(temp) + L"tmrovane-inspect-" +
                                     std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(attempt);
      if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
        folder_ = candidate + L"\\";
        guard_.Arm(candidate.c_str(), L"inspect");
      }
    }
    if (folder_.empty()) {
      return;
    }
    const bool x64 = NativeSevenZipRelease() == SevenZipRelease::kX64;
    dll_ = ExtractExeToDisk((folder_ + L"7z.dll").c_str(), x64 ? IDR_SEVENZIP_X64_DLL : IDR_SEVENZIP_DLL,
                            L"DLL");
    exe_ = ExtractExeToDisk((folder_ + L"7z.exe").c_str(), x64 ? IDR_SEVENZIP_X64_EXE : IDR_SEVENZIP_EXE,
                            L"EXE");
  }
  PrivateSevenZip(const PrivateSevenZip&) = delete;
  PrivateSevenZip& operator=(const PrivateSevenZip&) = delete;
  ~PrivateSevenZip() {
    // Closed first, so that the guard can delete them.
    exe_.reset();
    dll_.reset();
  }
  bool ready() const { return static_cast<bool>(exe_) && static_cast<bool>(dll_); }
  // The folder 7-Zip extracts into, inside the private folder (no trailing backslash: 7-Zip's
  // switch takes it quoted).
  std::wstring extracted() const { return folder_ + L"x"; }
  // Runs 7-Zip with `arguments` (the archive's path last, quoted by the caller), its standard
  // output read whole into `output` and its standard error dropped. False unless it ends with
  // exit code 0 within the time limit, having written at most kLargestListing bytes; `error` is
  // then `failure` with how 7-Zip ended.
  bool Run(const std::wstring& arguments, std::string& output, const std::wstring& failure,
           std::wstring& error) const {
    DWORD exitCode = 0;
    bool whole = true;
    const ChildRun run = ExecFileReading((L"\"" + folder_ + L"7z.exe\" " + arguments).c_str(),
                                         [&](const char* bytes, size_t length) {
                                           // Read on past the bound, so that the child is never stuck writing
                                           // into a full pipe.
                                           whole = whole && output.size() + length <= kLargestListing;
                                           if (whole) {
                                             output.append(bytes, length);
                                           }
                                         },
                                         exitCode, false, kSevenZipTimeLimitSeconds * 1000);
    if (run == ChildRun::kEnded && whole && exitCode == 0) {
      return true;
    }
    if (run == ChildRun::kOutOfTime) {
      error =
          failure + L" (7-Zip did not finish within " + std::to_wstring(kSevenZipTimeLimitSeconds) + L" s)";
    } else if (run == ChildRun::kNotStarted) {
      error = failure + L" (7-Zip could not be started: system error " + std::to_wstring(exitCode) + L")";
    } else if (!whole) {
      error = failure + L" (7-Zip wrote more than " + std::to_wstring(kLargestListing) + L" bytes)";
    } else {
      error = failure + L" (exit code " + std::to_wstring(exitCode) + L")";
    }
    return false;
  }

 private:
  // Declared first, so that it runs last: it empties and removes the folder.
  WorkingFolderGuard guard_;
  std::wstring folder_;
  fw::UniqueKernelHandle dll_;
  fw::UniqueKernelHandle exe_;
};

bool ReadExe(const std::wstring& path, InstallerContents& contents, std::wstring& error) {
  contents.format = L"EXE";
  PrivateSevenZip sevenZip;
  if (!sevenZip.ready()) {
    error = L"7-Zip could not be written into a temporary folder";
    return false;
  }
  std::string listing;
  if (!sevenZip.Run(L"l -slt -sccUTF-8 -- \"" + path + L"\"", listing,
                    L"7-Zip cannot open " + path + L" as an archive", error)) {
    return false;
  }
  // Every packed byte is checked against its CRC: damage outside the two files the report reads
  // would pass unnoticed otherwise.
  std::string tested;
  if (!sevenZip.Run(L"t -- \"" + path + L"\"", tested, L"7-Zip finds the archive of " + path + L" damaged",
                    error)) {
    return false;
  }
  // The entries follow the line of dashes; each is a block of "Key = value" lines.
  const std::wstring text = FromUtf8(listing);
  const size_t start = text.find(L"\n----------");
  if (start == std::wstring::npos) {
    error = L"7-Zip listed no entries of " + path;
    return false;
  }
  InstallerEntry entry;
  bool folder = false;
  size_t at = text.find(L'\n', start + 1);
  while (at != std::wstring::npos) {
    const size_t end = text.find(L'\n', at + 1);
    std::wstring line = text.substr(at + 1, end == std::wstring::npos ? std::wstring::npos : end - at - 1);
    if (!line.empty() && line.back() == L'\r') {
      line.pop_back();
    }
    if (line.rfind(L"Path = ", 0) == 0) {
      entry = {line.substr(7), 0};
      folder = false;
    } else if (line.rfind(L"Size = ", 0) == 0) {
      entry.size = _wcstoui64(line.c_str() + 7, nullptr, 10);
    } else if (line == L"Folder = +") {
      folder = true;
    } else if (line.empty() && !entry.name.empty()) {
      if (!folder && !AddEntry(contents, path, entry, error)) {
        return false;
      }
      entry = {};
    }
    at = end;
  }
  if (!entry.name.empty() && !folder && !AddEntry(contents, path, entry, error)) {
    return false;
  }
  // The files the report reads, taken out in one run, with their paths, as the names they are
  // listed under (no wildcards).
  std::vector<const InstallerEntry*> wanted;
  std::wstring names;
  for (const InstallerEntry& e : contents.entries) {
    if (KeptKind(e.name) != Kept::kNone) {
      if (!KeptSizeAllowed(path, e, error)) {
        return false;
      }
      // Read back below from under the private folder: a name that climbs out of it or is
      // absolute would be read from elsewhere.
      // A quote would end the name on 7-Zip's command line.
      if (e.name.find(L"..") != std::wstring::npos || e.name.find_first_of(L":\"") != std::wstring::npos ||
          e.name.front() == L'\\' || e.name.front() == L'/') {
        error = path + L" holds an entry with an unsafe name: " + e.name;
        return false;
      }
      wanted.push_back(&e);
      names += L" \"" + e.name + L"\"";
    }
  }
  if (wanted.empty()) {
    return true;
  }
  std::string ignored;
  if (!sevenZip.Run(L"x -y -spd -o\"" + sevenZip.extracted() + L"\" -- \"" + path + L"\"" + names, ignored,
                    L"7-Zip cannot extract " + wanted.front()->name + L" from " + path, error)) {
    return false;
  }
  for (const InstallerEntry* e : wanted) {
    std::string bytes;
    std::wstring readError;
    if (!ReadWholeFile(sevenZip.extracted() + L"\\" + e->name, e->size, bytes, readError) ||
        bytes.size() != e->size) {
      error = L"7-Zip cannot extract " + e->name + L" from " + path;
      return false;
    }
    if (!Keep(contents, path, e->name, std::move(bytes), error)) {
      return false;
    }
  }
  return true;
}

bool ReadMsi(const std::wstring& path, InstallerContents& contents, std::wstring& error) {
  contents.format = L"MSI";
  MSIHANDLE rawDatabase = 0;
  if (::MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &rawDatabase) != ERROR_SUCCESS) {
    error = L"the Windows Installer cannot open " + path;
    return false;
  }
  UniqueMsiHandle database(rawDatabase);
  MSIHANDLE rawView = 0;
  if (::MsiDatabaseOpenViewW(database.get(), L"SELECT `Name`, `Data` FROM `Binary`", &rawView) !=
      ERROR_SUCCESS) {
    error = path + L" has no Binary table that can be read";
    return false;
  }
  UniqueMsiHandle view(rawView);
  if (::MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
    error = L"the Binary table of " + path + L" cannot be read";
    return false;
  }
  for (;;) {
    MSIHANDLE rawRecord = 0;
    const UINT fetched = ::MsiViewFetch(view.get(), &rawRecord);
    if (fetched == ERROR_NO_MORE_ITEMS) {
      return true;
    }
    if (fetched != ERROR_SUCCESS) {
      error = L"the Binary table of " + path + L" cannot be read to its end";
      return false;
    }
    UniqueMsiHandle record(rawRecord);
    wchar_t name[MAX_PATH] = L"";
    DWORD nameLength = MAX_PATH;
    if (::MsiRecordGetStringW(record.get(), 1, name, &nameLength) != ERROR_SUCCESS) {
      error = L"a Binary row name of " + path + L" cannot be read";
      return false;
    }
    const UINT size = ::MsiRecordDataSize(record.get(), 2);
    const InstallerEntry entry{name, size};
    if (!AddEntry(contents, path, entry, error) || !KeptSizeAllowed(path, entry, error)) {
      return false;
    }
    if (KeptKind(entry.name) == Kept::kNone) {
      continue;
    }
    std::string bytes(size, '\0');
    DWORD got = size;
    if (::MsiRecordReadStream(record.get(), 2, bytes.data(), &got) != ERROR_SUCCESS || got != size) {
      error = L"the Binary row " + entry.name + L" of " + path + L" cannot be read";
      return false;
    }
    if (!Keep(contents, path, entry.name, std::move(bytes), error)) {
      return false;
    }
  }
}

}  // namespace

bool ReadTar(const std::wstring& path, InstallerContents& contents, std::wstring& error) {
  contents.format = L"TAR";
  fw::UniqueKernelHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    error = L"cannot open " + path + L" (error " + std::to_wstring(::GetLastError()) + L")";
    return false;
  }
  tarformat::Reader reader(file.get());
  tarformat::Entry entry;
  for (;;) {
    switch (reader.Next(entry)) {
      case tarformat::ReadResult::kEnd:
        return true;
      case tarformat::ReadResult::kDamaged:
        error = path + L" " + tarformat::DescribeDamage(reader.damage()) + L" (the entry at byte " +
                std::to_wstring(reader.offset()) + L")";
        return false;
      case tarformat::ReadResult::kEntry:
        break;
    }
    InstallerEntry listed{{}, entry.size};
    if (!fw::FromAnsiExactly(entry.name.data(), entry.name.size(), listed.name) || listed.name.empty()) {
      error = path + L" has an entry name that is no text of the ANSI code page (the entry at byte " +
              std::to_wstring(reader.offset()) + L")";
      return false;
    }
    if (entry.type == tarformat::kTypeFolder || listed.name.back() == L'/') {
      continue;
    }
    if (!AddEntry(contents, path, listed, error)) {
      return false;
    }
    if (KeptKind(listed.name) == Kept::kNone) {
      continue;
    }
    std::string bytes;
    if (!KeptSizeAllowed(path, listed, error)) {
      return false;
    }
    if (!reader.ReadContent(static_cast<size_t>(entry.size), bytes)) {
      error = L"cannot read " + listed.name + L" from " + path;
      return false;
    }
    if (!Keep(contents, path, listed.name, std::move(bytes), error)) {
      return false;
    }
  }
}

bool ReadInstaller(const std::wstring& path, InstallerContents& contents, std::wstring& error) {
  contents = {};
  tarformat::Block head = {};
  {
    fw::UniqueKernelHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD got = 0;
    if (!file || !::ReadFile(file.get(), head, sizeof head, &got, nullptr)) {
      error = L"cannot open " + path + L" (error " + std::to_wstring(::GetLastError()) + L")";
      return false;
    }
  }
  if (head[0] == 'M' && head[1] == 'Z') {
    return ReadExe(path, contents, error);
  }
  static constexpr unsigned char kCompoundFile[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (memcmp(head, kCompoundFile, sizeof kCompoundFile) == 0) {
    return ReadMsi(path, contents, error);
  }
  // A TAR starts with a header whose checksum matches (a short file leaves zero bytes, which
  // never do).
  if (!tarformat::ChecksumMatches(head)) {
    error = path + L" is no EXE setup, MSI database or TAR archive";
    return false;
  }
  return ReadTar(path, contents, error);
}

}  // namespace cli
