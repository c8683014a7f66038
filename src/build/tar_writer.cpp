#include "build/tar_writer.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <strsafe.h>
#include <sys/stat.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "framework/ansi.h"
#include "handles/handles.h"
#include "log/trace_log.h"

namespace {

using tarformat::kBlockSize;
// Content is copied in pieces of this size: large enough that the copy runs near the speed of a
// plain file copy under the same runtime, which 4 KiB pieces do not.
constexpr size_t kCopyPieceSize = 1024 * 1024;
constexpr size_t kAnsiNameCapacity = MAX_PATH;  // bytes, terminator included

const char kZeroBlock[kBlockSize * 2] = {};

bool WriteAll(int fd, const void* bytes, size_t count) {
  const int written = ::_write(fd, bytes, static_cast<unsigned>(count));
  return written >= 0 && static_cast<size_t>(written) == count;
}

// The ANSI form of a wide name; refused when a character has no exact ANSI equivalent, since a
// substituted character would store the file under another name.
bool ToAnsiName(const wchar_t* name, char (&ansi)[kAnsiNameCapacity]) {
  return fw::ToAnsiExactly(name, ansi, static_cast<int>(kAnsiNameCapacity)) > 0;
}

// Name after the last backslash; null when the path has none.
const wchar_t* LastComponent(const wchar_t* path) {
  const wchar_t* slash = wcsrchr(path, L'\\');
  return slash == nullptr ? nullptr : slash + 1;
}

// One planned entry of a folder archive.
struct PlannedFile {
  std::wstring path;
  std::string name;  // ANSI
  uint64_t size = 0;
};

// Everything is checked before the archive is created: the folder's own name, that it holds
// only files, and that every name and length fits the format.
bool PlanFolder(const wchar_t* source, char (&folderName)[kAnsiNameCapacity],
                std::vector<PlannedFile>& files) {
  static const wchar_t kTag[] = L"CreateTarFile";
  const wchar_t* wideFolderName = LastComponent(source);
  if (wideFolderName == nullptr || !ToAnsiName(wideFolderName, folderName)) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid folder name in %s", source);
    return false;
  }
  const size_t folderNameLength = strlen(folderName);
  if (folderNameLength + 1 > kTarMaxNameLength) {
    TraceLog(tracelog::kLevelError, kTag, L"Folder name too long: %s", source);
    return false;
  }
  wchar_t pattern[MAX_PATH];
  if (FAILED(::StringCchPrintfW(pattern, MAX_PATH, L"%s\\*.*", source))) {
    TraceLog(tracelog::kLevelError, kTag, L"Folder path too long: %s", source);
    return false;
  }
  WIN32_FIND_DATAW data;
  fw::UniqueFind find(::FindFirstFileW(pattern, &data));
  if (!find) {
    const DWORD lastError = ::GetLastError();
    if (lastError == ERROR_FILE_NOT_FOUND || lastError == ERROR_NO_MORE_FILES) {
      return true;
    }
    TraceLog(tracelog::kLevelError, kTag, L"FindFirstFile failed for %s (Err -> %u)", pattern, lastError);
    return false;
  }
  do {
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) {
      continue;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      TraceLog(tracelog::kLevelError, kTag, L"Sub-folders are not supported: %s\\%s", source, data.cFileName);
      return false;
    }
    wchar_t path[MAX_PATH];
    char name[kAnsiNameCapacity];
    if (FAILED(::StringCchPrintfW(path, MAX_PATH, L"%s\\%s", source, data.cFileName)) ||
        !ToAnsiName(data.cFileName, name) || folderNameLength + 1 + strlen(name) > kTarMaxNameLength) {
      TraceLog(tracelog::kLevelError, kTag, L"Name not supported: %s\\%s", source, data.cFileName);
      return false;
    }
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size > kTarMaxFileSize) {
      TraceLog(tracelog::kLevelError, kTag, L"File too large: %s (%llu bytes)", path, size);
      return false;
    }
    files.push_back({path, name, size});
  } while (::FindNextFileW(find.get(), &data));
  if (::GetLastError() != ERROR_NO_MORE_FILES) {
    TraceLog(tracelog::kLevelError, kTag, L"FindNextFile failed for %s (Err -> %u)", pattern,
             ::GetLastError());
    return false;
  }
  return true;
}

bool PlanFile(const wchar_t* source, char (&fileName)[kAnsiNameCapacity], uint64_t& size) {
  static const wchar_t kTag[] = L"CreateTarFile";
  const wchar_t* wideName = LastComponent(source);
  if (wideName == nullptr || !ToAnsiName(wideName, fileName) || strlen(fileName) > kTarMaxNameLength) {
    TraceLog(tracelog::kLevelError, kTag, L"Name not supported: %s", source);
    return false;
  }
  struct _stat64 info;
  if (::_wstat64(source, &info) != 0 || static_cast<uint64_t>(info.st_size) > kTarMaxFileSize) {
    TraceLog(tracelog::kLevelError, kTag, L"File cannot be read or is too large: %s", source);
    return false;
  }
  size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool WriteFolderArchive(int archive, const wchar_t* source, const char* folderName,
                        const std::vector<PlannedFile>& files, const std::function<void(uint64_t)>& copied) {
  DWORD error = 0;
  if (!AddTarEntry(archive, source, folderName, nullptr, kTarEntryFolder, &error)) {
    return false;
  }
  for (const PlannedFile& file : files) {
    if (!AddTarEntry(archive, file.path.c_str(), folderName, file.name.c_str(), kTarEntryFolderFile, &error,
                     copied)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool AddTarEntry(int archive, const wchar_t* sourcePath, const char* folderName, const char* fileName,
                 int kind, DWORD* error, const std::function<void(uint64_t length)>& copied) {
  static const wchar_t kTag[] = L"AddTarEntry";
  if (error == nullptr || sourcePath == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid arguments");
    return false;
  }
  *error = 0;
  char name[kTarMaxNameLength + 1];
  HRESULT composed = E_INVALIDARG;
  switch (kind) {
    case kTarEntryFolder:
      if (folderName != nullptr) {
        composed = ::StringCchPrintfA(name, sizeof(name), "%s/", folderName);
      }
      break;
    case kTarEntryRootFile:
      if (fileName != nullptr) {
        composed = ::StringCchCopyA(name, sizeof(name), fileName);
      }
      break;
    case kTarEntryFolderFile:
      if (folderName != nullptr && fileName != nullptr) {
        composed = ::StringCchPrintfA(name, sizeof(name), "%s/%s", folderName, fileName);
      }
      break;
    default:
      break;
  }
  if (FAILED(composed)) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid kind, missing name or name too long (kind %d) for %s",
             kind, sourcePath);
    return false;
  }

  fw::UniqueCrtFile source;
  uint64_t size = 0;
  struct _stat64 info;
  if (kind == kTarEntryFolder) {
    if (::_wstat64(sourcePath, &info) != 0) {
      TraceLog(tracelog::kLevelError, kTag, L"stat failed for %s", sourcePath);
      return false;
    }
  } else {
    if (::_wsopen_s(source.put(), sourcePath, _O_BINARY | _O_RDONLY, _SH_DENYNO, 0) != 0) {
      TraceLog(tracelog::kLevelError, kTag, L"open failed for %s", sourcePath);
      return false;
    }
    const long long length = ::_filelengthi64(source.get());
    if (length < 0 || ::_fstat64(source.get(), &info) != 0) {
      TraceLog(tracelog::kLevelError, kTag, L"length or stat failed for %s", sourcePath);
      return false;
    }
    size = static_cast<uint64_t>(length);
    if (size > kTarMaxFileSize) {
      TraceLog(tracelog::kLevelError, kTag, L"File too large: %s (%llu bytes)", sourcePath, size);
      return false;
    }
  }
  const char typeflag = kind == kTarEntryFolder ? tarformat::kTypeFolder : tarformat::kTypeFile;
  tarformat::Block headers[3];
  const size_t headerBlocks =
      tarformat::FillEntryHeaders(headers, name, size, static_cast<uint64_t>(info.st_mtime), typeflag);
  const bool written = headerBlocks != 0 && WriteAll(archive, headers, headerBlocks * kBlockSize);
  if (!written) {
    TraceLog(tracelog::kLevelError, kTag, L"Writing the header failed for %s", sourcePath);
    return false;
  }

  if (size > 0) {
    const size_t pieceSize = size < kCopyPieceSize ? static_cast<size_t>(size) : kCopyPieceSize;
    const std::unique_ptr<unsigned char[]> piece(new (std::nothrow) unsigned char[pieceSize]);
    if (!piece) {
      TraceLog(tracelog::kLevelError, kTag, L"Out of memory copying %s", sourcePath);
      return false;
    }
    for (uint64_t remaining = size; remaining > 0;) {
      const unsigned count = static_cast<unsigned>(remaining < pieceSize ? remaining : pieceSize);
      const int read = ::_read(source.get(), piece.get(), count);
      if (read < 0 || static_cast<unsigned>(read) != count || !WriteAll(archive, piece.get(), count)) {
        TraceLog(tracelog::kLevelError, kTag, L"Copying the content failed for %s", sourcePath);
        return false;
      }
      remaining -= count;
      if (copied) {
        copied(count);
      }
    }
    const size_t padding = (kBlockSize - size % kBlockSize) % kBlockSize;
    if (padding != 0 && !WriteAll(archive, kZeroBlock, padding)) {
      TraceLog(tracelog::kLevelError, kTag, L"Writing the padding failed for %s", sourcePath);
      return false;
    }
  }
  return true;
}

bool CreateTarFile(const wchar_t* sourcePath, const wchar_t* tarPath, DWORD* error,
                   const TarProgress& progress) {
  static const wchar_t kTag[] = L"CreateTarFile";
  TraceLog(tracelog::kLevelProgress, kTag, L"called");
  if (sourcePath == nullptr || tarPath == nullptr || error == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid arguments");
    return false;
  }
  *error = 0;
  wchar_t source[MAX_PATH];
  if (FAILED(::StringCchCopyW(source, MAX_PATH, sourcePath))) {
    TraceLog(tracelog::kLevelError, kTag, L"Source path too long");
    return false;
  }
  const size_t sourceLength = wcslen(source);
  if (sourceLength > 0 && source[sourceLength - 1] == L'\\') {
    source[sourceLength - 1] = L'\0';
  }
  const DWORD attributes = ::GetFileAttributesW(source);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    TraceLog(tracelog::kLevelError, kTag, L"Source does not exist: %s", source);
    return false;
  }
  if (::GetFileAttributesW(tarPath) != INVALID_FILE_ATTRIBUTES) {
    TraceLog(tracelog::kLevelError, kTag, L"File already exists: %s", tarPath);
    return false;
  }

  const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  char name[kAnsiNameCapacity];
  std::vector<PlannedFile> files;
  uint64_t total = 0;
  try {
    if (isFolder ? !PlanFolder(source, name, files) : !PlanFile(source, name, total)) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    TraceLog(tracelog::kLevelError, kTag, L"Out of memory listing %s", source);
    return false;
  }

  // Exclusive creation: a file that appeared at the TAR path meanwhile is not touched either.
  fw::UniqueCrtFile archive;
  if (::_wsopen_s(archive.put(), tarPath, _O_BINARY | _O_CREAT | _O_EXCL | _O_WRONLY, _SH_DENYNO,
                  _S_IREAD | _S_IWRITE) != 0) {
    TraceLog(tracelog::kLevelError, kTag, L"Creating %s failed", tarPath);
    return false;
  }
  for (const PlannedFile& file : files) {
    total += file.size;
  }
  uint64_t written = 0;
  std::function<void(uint64_t)> copied;
  if (progress) {
    copied = [&](uint64_t length) {
      written += length;
      progress(written, total);
    };
  }
  DWORD entryError = 0;
  bool complete =
      isFolder ? WriteFolderArchive(archive.get(), source, name, files, copied)
               : AddTarEntry(archive.get(), source, nullptr, name, kTarEntryRootFile, &entryError, copied);
  complete = complete && WriteAll(archive.get(), kZeroBlock, sizeof(kZeroBlock));
  // On disk before the caller may rename it over an older archive: a crash then leaves either
  // archive whole, never a renamed partial one.
  if (complete && ::_commit(archive.get()) != 0) {
    TraceLog(tracelog::kLevelError, kTag, L"Flushing %s to disk failed", tarPath);
    complete = false;
  }
  const bool closed = archive.Close();
  if (!complete || !closed) {
    TraceLog(tracelog::kLevelError, kTag, L"Writing %s failed; removing it", tarPath);
    ::DeleteFileW(tarPath);
    return false;
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"success");
  return true;
}
