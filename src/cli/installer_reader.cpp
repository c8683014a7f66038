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
#include "cli/console_text.h"
#include "handles/handles.h"

namespace cli {
namespace {

constexpr size_t kBlock = 512;
constexpr uint64_t kLargestReadWhole = 512ull * 1024 * 1024;

std::wstring BaseName(const std::wstring& name) {
  const size_t slash = name.find_last_of(L"/\\");
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

// Keeps the bytes of the two files an installer's report reads.
void Keep(InstallerContents& contents, const std::wstring& name, std::string bytes) {
  const std::wstring base = BaseName(name);
  if (_wcsicmp(base.c_str(), L"wsnode.ini") == 0) {
    contents.settings = std::move(bytes);
  } else if (_wcsicmp(base.c_str(), L"rpinfo.dat") == 0) {
    contents.record = std::move(bytes);
  }
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::wstring& error) {
  fw::UniqueKernelHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size)) {
    error = L"cannot open " + path + L" (error " + std::to_wstring(::GetLastError()) + L")";
    return false;
  }
  if (static_cast<uint64_t>(size.QuadPart) > kLargestReadWhole) {
    error = path + L" is too large to be read as a TAR";
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

bool ParseOctal(const char* field, size_t length, uint64_t& value) {
  value = 0;
  size_t i = 0;
  while (i < length && field[i] == ' ') {
    ++i;
  }
  size_t digits = 0;
  for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i, ++digits) {
    value = value * 8 + static_cast<uint64_t>(field[i] - '0');
  }
  for (; i < length; ++i) {
    if (field[i] != ' ' && field[i] != '\0') {
      return false;
    }
  }
  return digits > 0;
}

bool ChecksumMatches(const char* header) {
  uint64_t stored = 0;
  if (!ParseOctal(header + 148, 8, stored)) {
    return false;
  }
  uint64_t sum = 0;
  for (size_t i = 0; i < kBlock; ++i) {
    sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(header[i]);
  }
  return sum == stored;
}

std::wstring AnsiName(const char* text, size_t length) {
  const size_t used = strnlen(text, length);
  if (used == 0) {
    return {};
  }
  const int size = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(used), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(used), wide.data(), size);
  return wide;
}

// A child process whose standard output is read whole; its standard error is discarded.
bool RunCapture(std::wstring command, std::string& output, DWORD& exitCode) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readRaw = nullptr;
  HANDLE writeRaw = nullptr;
  if (!::CreatePipe(&readRaw, &writeRaw, &inherit, 1 << 16)) {
    return false;
  }
  fw::UniqueKernelHandle read(readRaw);
  fw::UniqueKernelHandle write(writeRaw);
  ::SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
  fw::UniqueKernelHandle nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                           nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.get();
  startup.hStdOutput = write.get();
  startup.hStdError = nul.get();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    return false;
  }
  fw::UniqueKernelHandle process(info.hProcess);
  fw::UniqueKernelHandle thread(info.hThread);
  write.reset();
  char buffer[1 << 14];
  DWORD got = 0;
  while (::ReadFile(read.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    output.append(buffer, got);
  }
  ::WaitForSingleObject(process.get(), INFINITE);
  return ::GetExitCodeProcess(process.get(), &exitCode) != FALSE;
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
    dll_ = ExtractExeToDisk((folder_ + L"7z.dll").c_str(), x64 ? IDR_SEVENZIP_X64_DLL : IDR_SEVENZIP_DLL, L"DLL");
    exe_ = ExtractExeToDisk((folder_ + L"7z.exe").c_str(), x64 ? IDR_SEVENZIP_X64_EXE : IDR_SEVENZIP_EXE, L"EXE");
  }
  PrivateSevenZip(const PrivateSevenZip&) = delete;
  PrivateSevenZip& operator=(const PrivateSevenZip&) = delete;
  ~PrivateSevenZip() {
    // Closed first, so that the guard can delete them.
    exe_.reset();
    dll_.reset();
  }
  bool ready() const { return static_cast<bool>(exe_) && static_cast<bool>(dll_); }
  // The folder 7-Zip extracts into, inside the private folder.
  std::wstring extracted() const { return folder_ + L"x\\"; }
  // Runs 7-Zip with `arguments` (the archive's path last, quoted by the caller).
  bool Run(const std::wstring& arguments, std::string& output, DWORD& exitCode) const {
    return RunCapture(L"\"" + folder_ + L"7z.exe\" " + arguments, output, exitCode);
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
  DWORD exitCode = 0;
  if (!sevenZip.Run(L"l -slt -sccUTF-8 -- \"" + path + L"\"", listing, exitCode) || exitCode != 0) {
    error = L"7-Zip cannot open " + path + L" as an archive (exit code " + std::to_wstring(exitCode) + L")";
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
      if (!folder) {
        contents.entries.push_back(entry);
      }
      entry = {};
    }
    at = end;
  }
  if (!entry.name.empty() && !folder) {
    contents.entries.push_back(entry);
  }
  // The files the report reads, taken out in one run, with their paths, as the names they are
  // listed under (no wildcards).
  std::vector<const InstallerEntry*> wanted;
  std::wstring names;
  for (const InstallerEntry& e : contents.entries) {
    const std::wstring base = BaseName(e.name);
    if (_wcsicmp(base.c_str(), L"wsnode.ini") == 0 || _wcsicmp(base.c_str(), L"rpinfo.dat") == 0) {
      wanted.push_back(&e);
      names += L" \"" + e.name + L"\"";
    }
  }
  if (wanted.empty()) {
    return true;
  }
  std::string ignored;
  if (!sevenZip.Run(L"x -y -spd -o\"" + sevenZip.extracted() + L"\" -- \"" + path + L"\"" + names, ignored,
                    exitCode) ||
      exitCode != 0) {
    error = L"7-Zip cannot extract " + wanted.front()->name + L" from " + path + L" (exit code " +
            std::to_wstring(exitCode) + L")";
    return false;
  }
  for (const InstallerEntry* e : wanted) {
    std::string bytes;
    std::wstring readError;
    if (!ReadWholeFile(sevenZip.extracted() + e->name, bytes, readError) || bytes.size() != e->size) {
      error = L"7-Zip cannot extract " + e->name + L" from " + path;
      return false;
    }
    Keep(contents, e->name, std::move(bytes));
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
    error = path + L" has no Binary table";
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
    contents.entries.push_back({name, size});
    if (_wcsicmp(name, L"wsnode.ini") != 0 && _wcsicmp(name, L"rpinfo.dat") != 0) {
      continue;
    }
    std::string bytes(size, '\0');
    DWORD got = size;
    if (::MsiRecordReadStream(record.get(), 2, bytes.data(), &got) != ERROR_SUCCESS || got != size) {
      error = L"the Binary row " + std::wstring(name) + L" of " + path + L" cannot be read";
      return false;
    }
    Keep(contents, name, std::move(bytes));
  }
}

}  // namespace

bool ReadTar(const std::string& bytes, InstallerContents& contents, std::wstring& error) {
  contents.format = L"TAR";
  std::wstring longName;
  size_t at = 0;
  while (true) {
    if (at + kBlock > bytes.size()) {
      error = L"the TAR ends inside a header or before its end blocks";
      return false;
    }
    const char* header = bytes.data() + at;
    if (std::all_of(header, header + kBlock, [](char c) { return c == '\0'; })) {
      return true;  // the end blocks
    }
    uint64_t size = 0;
    if (!ChecksumMatches(header) || !ParseOctal(header + 124, 12, size)) {
      error = L"the TAR header at byte " + std::to_wstring(at) + L" is damaged";
      return false;
    }
    const uint64_t blocks = (size + kBlock - 1) / kBlock;
    if (size > bytes.size() || blocks * kBlock > bytes.size() - at - kBlock) {
      error = L"the TAR entry at byte " + std::to_wstring(at) + L" runs past the end of the file";
      return false;
    }
    const char* data = header + kBlock;
    const char type = header[156];
    if (type == 'L') {
      longName = AnsiName(data, static_cast<size_t>(size));
    } else {
      std::wstring name = longName.empty() ? AnsiName(header, 100) : longName;
      longName.clear();
      if (type != '5' && (name.empty() || name.back() != L'/')) {
        Keep(contents, name, std::string(data, static_cast<size_t>(size)));
        contents.entries.push_back({name, size});
      }
    }
    at += kBlock + static_cast<size_t>(blocks) * kBlock;
  }
}

bool ReadInstaller(const std::wstring& path, InstallerContents& contents, std::wstring& error) {
  contents = {};
  char head[8] = {};
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
  std::string bytes;
  if (!ReadWholeFile(path, bytes, error)) {
    return false;
  }
  if (bytes.size() < kBlock || !ChecksumMatches(bytes.data())) {
    error = path + L" is no EXE setup, MSI database or TAR archive";
    return false;
  }
  return ReadTar(bytes, contents, error);
}

}  // namespace cli
