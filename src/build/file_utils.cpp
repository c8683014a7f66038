#include "build/file_utils.h"

#include <strsafe.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

#include "handles/handles.h"
#include "log/trace_log.h"

namespace {

constexpr unsigned long long kBytesPerMb = 1048576ull;

// Waits for `object` without a time limit. Meanwhile the calling thread's windows are repainted
// when they need it, so a long child never leaves them blank; every other posted message (input
// included) stays queued until the wait ends. Sent messages are delivered by the wait itself.
bool WaitPaintingWindows(HANDLE object) {
  for (;;) {
    // Input available, not only new input: a window invalidated before the wait is painted too.
    const DWORD woken = ::MsgWaitForMultipleObjectsEx(1, &object, INFINITE, QS_PAINT, MWMO_INPUTAVAILABLE);
    if (woken == WAIT_OBJECT_0) {
      return true;
    }
    if (woken != WAIT_OBJECT_0 + 1) {
      return false;
    }
    MSG message;
    while (::PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) {
      ::DispatchMessageW(&message);
    }
  }
}

}  // namespace

bool IsLink(const wchar_t* path) {
  const DWORD attributes = ::GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

DiskSpaceQueries SystemDiskSpaceQueries() {
  DiskSpaceQueries queries;
  if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
    queries.getDiskFreeSpaceEx = fw::GetExport<DiskSpaceQueries::ExFn>(kernel, "GetDiskFreeSpaceExW");
  }
  queries.getDiskFreeSpace = &::GetDiskFreeSpaceW;
  return queries;
}

bool IsDiskSpaceAvailable(const wchar_t* root, DWORD requiredMb) {
  return IsDiskSpaceAvailable(root, requiredMb, SystemDiskSpaceQueries());
}

bool IsDiskSpaceAvailable(const wchar_t* root, DWORD requiredMb, const DiskSpaceQueries& queries) {
  static const wchar_t kTag[] = L"IsDiskSpaceAvailable";
  TraceLog(tracelog::kLevelProgress, kTag, L"IsDiskSpaceAvailable called");
  if (root == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid arguments");
    return false;
  }

  unsigned long long freeBytes = 0;
  bool known = false;
  if (queries.getDiskFreeSpaceEx != nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Calling Getdiskfreespaceex");
    ULARGE_INTEGER callerFree{}, total{}, totalFree{};
    if (queries.getDiskFreeSpaceEx(root, &callerFree, &total, &totalFree)) {
      freeBytes = totalFree.QuadPart;
      known = true;
    } else {
      TraceLog(tracelog::kLevelError, kTag, L"GetDiskFreeSpaceEx failed Err: (%u).", ::GetLastError());
    }
  }
  if (!known) {
    if (queries.getDiskFreeSpaceEx == nullptr) {
      TraceLog(tracelog::kLevelProgress, kTag, L"Calling GetDiskFreeSpace");
    }
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (queries.getDiskFreeSpace == nullptr ||
        !queries.getDiskFreeSpace(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
      TraceLog(tracelog::kLevelError, kTag, L"GetDiskFreeSpace failed: Err: (%u).", ::GetLastError());
      TraceLog(tracelog::kLevelError, kTag, L"Obtaining Disk free space Failed");
      return false;
    }
    freeBytes = static_cast<unsigned long long>(freeClusters) * sectorsPerCluster * bytesPerSector;
  }

  TraceLog(tracelog::kLevelProgress, kTag, L"Free Disk Space = %llu MB, Required Disk Space = %lu MB",
           freeBytes / kBytesPerMb, static_cast<unsigned long>(requiredMb));
  if (freeBytes >= requiredMb * kBytesPerMb) {
    TraceLog(tracelog::kLevelProgress, kTag, L"success");
    return true;
  }
  TraceLog(tracelog::kLevelError, kTag, L"Insufficient disk space.");
  return false;
}

bool CleanFolder(const wchar_t* folder) {
  static const wchar_t kTag[] = L"CleanFolder";
  TraceLog(tracelog::kLevelProgress, kTag, L"CleanFolder called");
  if (folder == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid argument");
    return false;
  }
  wchar_t pattern[MAX_PATH];
  if (FAILED(::StringCchPrintfW(pattern, MAX_PATH, L"%s\\*.*", folder))) {
    TraceLog(tracelog::kLevelError, kTag, L"Folder path too long: %s", folder);
    return false;
  }
  if (IsLink(folder)) {
    TraceLog(tracelog::kLevelError, kTag, L"%s is a link; it is not cleaned", folder);
    return false;
  }
  WIN32_FIND_DATAW data;
  fw::UniqueFind find(::FindFirstFileW(pattern, &data));
  if (find) {
    do {
      if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) {
        continue;
      }
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        TraceLog(tracelog::kLevelError, kTag, L"%s\\%s is a link; it is not removed", folder, data.cFileName);
        return false;
      }
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        continue;
      }
      wchar_t path[MAX_PATH];
      if (FAILED(::StringCchPrintfW(path, MAX_PATH, L"%s\\%s", folder, data.cFileName))) {
        TraceLog(tracelog::kLevelError, kTag, L"File path too long: %s\\%s", folder, data.cFileName);
        return false;
      }
      ::SetFileAttributesW(path, FILE_ATTRIBUTE_ARCHIVE);
      if (!::DeleteFileW(path)) {
        TraceLog(tracelog::kLevelError, kTag, L"Deletefile failed for %s (Err -> %u)", path,
                 ::GetLastError());
        return false;
      }
    } while (::FindNextFileW(find.get(), &data));
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"CleanFolder success");
  return true;
}

WorkingFolderGuard::~WorkingFolderGuard() {
  if (folder_.empty()) {
    return;
  }
  if (!EmptyFolderTree(folder_.c_str()) || !::RemoveDirectoryW(folder_.c_str())) {
    TraceLog(tracelog::kLevelError, tag_, L"The working folder %s is kept", folder_.c_str());
  }
}

void WorkingFolderGuard::Arm(const wchar_t* folder, const wchar_t* tag) {
  folder_ = folder;
  tag_ = tag;
}

bool EmptyFolderTree(const wchar_t* folder) {
  static const wchar_t kTag[] = L"EmptyFolderTree";
  if (folder == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid argument");
    return false;
  }
  wchar_t pattern[MAX_PATH];
  if (FAILED(::StringCchPrintfW(pattern, MAX_PATH, L"%s\\*", folder))) {
    TraceLog(tracelog::kLevelError, kTag, L"Folder path too long: %s", folder);
    return false;
  }
  if (IsLink(folder)) {
    TraceLog(tracelog::kLevelError, kTag, L"%s is a link; it is not emptied", folder);
    return false;
  }
  bool empty = true;
  WIN32_FIND_DATAW data;
  fw::UniqueFind find(::FindFirstFileW(pattern, &data));
  if (!find) {
    return true;
  }
  do {
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) {
      continue;
    }
    wchar_t path[MAX_PATH];
    if (FAILED(::StringCchPrintfW(path, MAX_PATH, L"%s\\%s", folder, data.cFileName))) {
      TraceLog(tracelog::kLevelError, kTag, L"Path too long: %s\\%s", folder, data.cFileName);
      empty = false;
      continue;
    }
    // Removing through a link, or even clearing its marks, would reach the link's target.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      TraceLog(tracelog::kLevelError, kTag, L"%s is a link; it is neither entered nor removed", path);
      empty = false;
      continue;
    }
    ::SetFileAttributesW(path, FILE_ATTRIBUTE_ARCHIVE);
    const bool removed = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                             ? EmptyFolderTree(path) && ::RemoveDirectoryW(path)
                             : ::DeleteFileW(path) != FALSE;
    if (!removed) {
      TraceLog(tracelog::kLevelError, kTag, L"Cannot remove %s (Err -> %u)", path, ::GetLastError());
      empty = false;
    }
  } while (::FindNextFileW(find.get(), &data));
  return empty;
}

namespace {

constexpr wchar_t kPlaceTag[] = L"MoveFileIntoPlace";

// <destination>.tmp into `temporary`; false, traced, when it does not fit.
bool TemporaryPath(const wchar_t* destination, wchar_t (&temporary)[MAX_PATH]) {
  if (destination == nullptr ||
      FAILED(::StringCchPrintfW(temporary, MAX_PATH, L"%s%s", destination, kTemporarySuffix))) {
    TraceLog(tracelog::kLevelError, kPlaceTag, L"No temporary name fits for %s", destination);
    return false;
  }
  return true;
}

// Deletes the temporary file after a failure, keeping the failure's error for the caller.
bool DropTemporary(const wchar_t* temporary) {
  const DWORD error = ::GetLastError();
  ::DeleteFileW(temporary);
  ::SetLastError(error);
  return false;
}

}  // namespace

bool RemoveLeftoverTemporary(const wchar_t* destination) {
  wchar_t temporary[MAX_PATH];
  if (!TemporaryPath(destination, temporary)) {
    return false;
  }
  if (::DeleteFileW(temporary)) {
    TraceLog(tracelog::kLevelProgress, kPlaceTag, L"Removed the leftover %s", temporary);
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return true;
  }
  TraceLog(tracelog::kLevelError, kPlaceTag, L"Cannot remove the leftover %s (Err -> %u)", temporary, error);
  return false;
}

bool CommitTemporaryFile(const wchar_t* temporary, const wchar_t* destination,
                         unsigned long long expectedBytes) {
  if (temporary == nullptr || destination == nullptr) {
    TraceLog(tracelog::kLevelError, kPlaceTag, L"Invalid arguments");
    return false;
  }
  LARGE_INTEGER size{};
  fw::UniqueKernelHandle file(
      ::CreateFileW(temporary, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file || !::FlushFileBuffers(file.get()) || !::GetFileSizeEx(file.get(), &size)) {
    TraceLog(tracelog::kLevelError, kPlaceTag, L"Cannot write %s through (Err -> %u)", temporary,
             ::GetLastError());
    file.reset();  // closed first: a file open without sharing cannot be deleted
    return DropTemporary(temporary);
  }
  file.reset();
  if (static_cast<unsigned long long>(size.QuadPart) != expectedBytes) {
    TraceLog(tracelog::kLevelError, kPlaceTag, L"%s holds %lld bytes instead of %llu", temporary,
             size.QuadPart, expectedBytes);
    ::SetLastError(ERROR_WRITE_FAULT);
    return DropTemporary(temporary);
  }
  if (!::MoveFileExW(temporary, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    TraceLog(tracelog::kLevelError, kPlaceTag, L"Cannot replace %s (Err -> %u)", destination,
             ::GetLastError());
    return DropTemporary(temporary);
  }
  return true;
}

bool ReadFileSize(const wchar_t* path, unsigned long long& bytes) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
    return false;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::SetLastError(ERROR_DIRECTORY);
    return false;
  }
  bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool MoveFileIntoPlace(const wchar_t* source, const wchar_t* destination, const FinishTemporary& finish) {
  wchar_t temporary[MAX_PATH];
  unsigned long long bytes = 0;
  if (source == nullptr || !TemporaryPath(destination, temporary)) {
    return false;
  }
  if (!ReadFileSize(source, bytes)) {
    TraceLog(tracelog::kLevelError, kPlaceTag, L"No file %s (Err -> %u)", source, ::GetLastError());
    return false;
  }
  // A rename cannot cross volumes; only then is the file copied, so that the destination's
  // volume holds the whole new file before the old one is touched.
  if (!::MoveFileExW(source, temporary, MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_NOT_SAME_DEVICE) {
      TraceLog(tracelog::kLevelError, kPlaceTag, L"Cannot move %s to %s (Err -> %u)", source, temporary,
               error);
      return DropTemporary(temporary);
    }
    if (!::CopyFileW(source, temporary, FALSE)) {
      TraceLog(tracelog::kLevelError, kPlaceTag, L"Cannot copy %s to %s (Err -> %u)", source, temporary,
               ::GetLastError());
      return DropTemporary(temporary);
    }
  }
  unsigned long long finished = bytes;
  if (finish && !finish(temporary, finished)) {
    return DropTemporary(temporary);
  }
  return CommitTemporaryFile(temporary, destination, finished);
}

bool StartProcess(const wchar_t* commandLine, BOOL inheritHandles, DWORD flags, STARTUPINFOW& startup,
                  PROCESS_INFORMATION& info, DWORD& error, const StartPause& pause) {
  static const wchar_t kTag[] = L"StartProcess";
  for (size_t tried = 0;; ++tried) {
    // CreateProcessW may write into the command line, so each try gets a fresh copy.
    wchar_t buffer[kExecCommandCapacity];
    if (FAILED(::StringCchCopyW(buffer, kExecCommandCapacity, commandLine))) {
      TraceLog(tracelog::kLevelError, kTag, L"Command line too long (%u characters)",
               static_cast<unsigned>(wcslen(commandLine)));
      error = ERROR_FILENAME_EXCED_RANGE;
      return false;
    }
    if (::CreateProcessW(nullptr, buffer, nullptr, nullptr, inheritHandles, flags, nullptr, nullptr, &startup,
                         &info)) {
      return true;
    }
    error = ::GetLastError();
    TraceLog(tracelog::kLevelError, kTag, L"CreateProcess failed.Error(%u)", error);
    const bool lasting = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                         error == ERROR_BAD_EXE_FORMAT || error == ERROR_EXE_MACHINE_TYPE_MISMATCH ||
                         error == ERROR_INVALID_PARAMETER || error == ERROR_DIRECTORY;
    if (lasting || tried == std::size(kStartRetryPausesMs)) {
      return false;
    }
    const DWORD wait = kStartRetryPausesMs[tried];
    TraceLog(tracelog::kLevelProgress, kTag, L"Trying again in %lu ms", static_cast<unsigned long>(wait));
    if (pause) {
      pause(wait);
    } else {
      ::Sleep(wait);
    }
  }
}

bool ExecFile(const wchar_t* commandLine, WORD showWindow, bool wait, DWORD* exitCode) {
  static const wchar_t kTag[] = L"ExecFile";
  if (exitCode != nullptr) {
    *exitCode = 0xFFFFFFFFu;
  }
  TraceLog(tracelog::kLevelError, kTag, L"called");
  if (commandLine == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid argument");
    return false;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = showWindow;
  PROCESS_INFORMATION info{};
  DWORD error = 0;
  TraceLog(tracelog::kLevelProgress, kTag, L"Calling Createprocess");
  if (!StartProcess(commandLine, FALSE, 0, startup, info, error)) {
    return false;
  }
  const fw::UniqueKernelHandle process(info.hProcess);
  const fw::UniqueKernelHandle thread(info.hThread);
  TraceLog(tracelog::kLevelProgress, kTag, L"Createprocess success");

  DWORD code = STILL_ACTIVE;
  if (wait) {
    if (!WaitPaintingWindows(process.get())) {
      TraceLog(tracelog::kLevelError, kTag, L"WaitForSingleObject failed (Err -> %u)", ::GetLastError());
    } else if (!::GetExitCodeProcess(process.get(), &code)) {
      TraceLog(tracelog::kLevelError, kTag, L"GetExitCodeProcess failed (Err -> %u)", ::GetLastError());
      code = STILL_ACTIVE;
    } else {
      TraceLog(tracelog::kLevelProgress, kTag, L"Process exit code (%lu)", static_cast<unsigned long>(code));
    }
  }
  if (exitCode != nullptr) {
    *exitCode = code;
  }
  TraceLog(tracelog::kLevelError, kTag, L"success");
  return true;
}

namespace {

// A process attribute list that holds the handles a child may inherit, and nothing else.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      return;
    }
    list_ = list;
    if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      ::DeleteProcThreadAttributeList(list_);
      list_ = nullptr;
    }
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  ~InheritedHandles() {
    if (list_ != nullptr) {
      ::DeleteProcThreadAttributeList(list_);
    }
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Hands on everything the pipe holds now, without waiting for more.
void DrainPipe(HANDLE pipe, const ChildOutput& output) {
  char chunk[4096];
  DWORD available = 0;
  while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD got = 0;
    if (!::ReadFile(pipe, chunk, available < sizeof chunk ? available : DWORD{sizeof chunk}, &got, nullptr) ||
        got == 0) {
      return;
    }
    output(chunk, got);
  }
}

}  // namespace

ChildRun ExecFileReading(const wchar_t* commandLine, const ChildOutput& output, DWORD& exitCode,
                         bool errorsToo, DWORD timeLimitMs) {
  static const wchar_t kTag[] = L"ExecFileReading";
  exitCode = ERROR_INVALID_PARAMETER;
  if (commandLine == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Command line missing");
    return ChildRun::kNotStarted;
  }
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE readRaw = nullptr;
  HANDLE writeRaw = nullptr;
  if (!::CreatePipe(&readRaw, &writeRaw, &inheritable, 1 << 16)) {
    exitCode = ::GetLastError();
    TraceLog(tracelog::kLevelError, kTag, L"CreatePipe failed (Err -> %u)", exitCode);
    return ChildRun::kNotStarted;
  }
  const fw::UniqueKernelHandle read(readRaw);
  fw::UniqueKernelHandle write(writeRaw);
  ::SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
  const fw::UniqueKernelHandle nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                                 OPEN_EXISTING, 0, nullptr));
  const InheritedHandles inherited({write.get(), nul.get()});
  if (!nul || inherited.get() == nullptr) {
    exitCode = ::GetLastError();
    TraceLog(tracelog::kLevelError, kTag, L"The child's handles could not be prepared (Err -> %u)", exitCode);
    return ChildRun::kNotStarted;
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = nul.get();
  startup.StartupInfo.hStdOutput = write.get();
  startup.StartupInfo.hStdError = errorsToo ? write.get() : nul.get();
  startup.lpAttributeList = inherited.get();
  PROCESS_INFORMATION info{};
  if (!StartProcess(commandLine, TRUE, EXTENDED_STARTUPINFO_PRESENT, startup.StartupInfo, info, exitCode)) {
    return ChildRun::kNotStarted;
  }
  const fw::UniqueKernelHandle process(info.hProcess);
  const fw::UniqueKernelHandle thread(info.hThread);
  // Only the child holds the writing end now.
  write.reset();
  // The pipe is read while the child runs, never waited on: a grandchild that keeps the pipe
  // open after the child's end must not hold the build.
  const ULONGLONG started = ::GetTickCount64();
  for (;;) {
    const bool ended = ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
    DrainPipe(read.get(), output);
    if (ended) {
      break;
    }
    if (timeLimitMs != INFINITE && ::GetTickCount64() - started >= timeLimitMs) {
      TraceLog(tracelog::kLevelError, kTag, L"Still running after %lu ms: ended",
               static_cast<unsigned long>(timeLimitMs));
      ::TerminateProcess(process.get(), ERROR_TIMEOUT);
      ::WaitForSingleObject(process.get(), INFINITE);
      return ChildRun::kOutOfTime;
    }
    ::WaitForSingleObject(process.get(), 50);
  }
  if (!::GetExitCodeProcess(process.get(), &exitCode)) {
    TraceLog(tracelog::kLevelError, kTag, L"GetExitCodeProcess failed (Err -> %u)", ::GetLastError());
    exitCode = STILL_ACTIVE;
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"Process exit code (%lu)", static_cast<unsigned long>(exitCode));
  return ChildRun::kEnded;
}

namespace {

// True when the file behind `file` holds exactly the `size` bytes at `expected`, read from its
// start.
bool HoldsExactly(HANDLE file, const void* expected, DWORD size) {
  LARGE_INTEGER length{};
  if (!::GetFileSizeEx(file, &length) || length.QuadPart != size) {
    return false;
  }
  const char* next = static_cast<const char*>(expected);
  char chunk[16384];
  for (DWORD left = size; left > 0;) {
    DWORD read = 0;
    if (!::ReadFile(file, chunk, left < sizeof chunk ? left : sizeof chunk, &read, nullptr) || read == 0 ||
        memcmp(chunk, next, read) != 0) {
      return false;
    }
    next += read;
    left -= read;
  }
  return true;
}

}  // namespace

fw::UniqueKernelHandle ExtractExeToDisk(const wchar_t* targetPath, WORD resourceId,
                                        const wchar_t* resourceType) {
  static const wchar_t kTag[] = L"ExtractExeToDisk";
  TraceLog(tracelog::kLevelProgress, kTag, L"ExtractExeToDisk called");
  if (targetPath == nullptr || resourceType == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"Invalid arguments");
    return {};
  }
  // Resource memory belongs to the loaded module; it needs no release.
  const HMODULE self = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(self, MAKEINTRESOURCEW(resourceId), resourceType);
  if (found == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"FindResource failed");
    return {};
  }
  const DWORD size = ::SizeofResource(self, found);
  HGLOBAL loaded = ::LoadResource(self, found);
  if (loaded == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"LoadResource failed");
    return {};
  }
  const void* bytes = ::LockResource(loaded);
  if (bytes == nullptr) {
    TraceLog(tracelog::kLevelError, kTag, L"LockResource failed");
    return {};
  }

  // Whatever a link points at is not ours to replace; and a file only opened, not created new,
  // might be shared with another writer through a handle or a second name.
  if (IsLink(targetPath)) {
    TraceLog(tracelog::kLevelError, kTag, L"%s is a link; it is not replaced", targetPath);
    return {};
  }
  if (!::DeleteFileW(targetPath) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
      ::GetLastError() != ERROR_PATH_NOT_FOUND) {
    TraceLog(tracelog::kLevelError, kTag, L"Cannot replace %s (Err -> %u)", targetPath, ::GetLastError());
    return {};
  }
  fw::UniqueKernelHandle written(
      ::CreateFileW(targetPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!written) {
    TraceLog(tracelog::kLevelError, kTag, L"_open failed");
    return {};
  }
  DWORD count = 0;
  const bool complete = ::WriteFile(written.get(), bytes, size, &count, nullptr) && count == size;
  const bool closed = written.Close();
  if (!complete || !closed) {
    TraceLog(tracelog::kLevelError, kTag, L"write failed");
    // A truncated program must not be left where the next step would run it.
    ::DeleteFileW(targetPath);
    return {};
  }
  // Reopened as the entry itself, not what a link put there meanwhile would point at.
  fw::UniqueKernelHandle held(::CreateFileW(targetPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                            nullptr));
  if (!held || !HoldsExactly(held.get(), bytes, size)) {
    TraceLog(tracelog::kLevelError, kTag, L"%s is not the file written (Err -> %u)", targetPath,
             ::GetLastError());
    held.reset();
    ::DeleteFileW(targetPath);
    return {};
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"success");
  return held;
}

bool ReplaceToken(wchar_t* text, size_t capacity, const wchar_t* token, const wchar_t* replacement,
                  size_t* outLength) {
  if (outLength != nullptr) {
    *outLength = 0;
  }
  if (text == nullptr || token == nullptr || replacement == nullptr || outLength == nullptr ||
      capacity == 0 || token[0] == L'\0') {
    return false;
  }
  const size_t length = wcsnlen(text, capacity);
  if (length == capacity) {
    return false;  // not terminated within its buffer
  }
  const size_t tokenLength = wcslen(token);
  const size_t replacementLength = wcslen(replacement);

  // First count, so that a text that would not fit is left as it was.
  size_t count = 0;
  for (const wchar_t* at = wcsstr(text, token); at != nullptr; at = wcsstr(at + tokenLength, token)) {
    ++count;
  }
  if (count == 0) {
    return true;
  }
  const size_t grownLength = length - count * tokenLength + count * replacementLength;
  if (grownLength >= capacity) {
    return false;
  }

  // Every intermediate length lies between the old and the new one, so each step fits.
  size_t currentLength = length;
  for (wchar_t* at = wcsstr(text, token); at != nullptr; at = wcsstr(at, token)) {
    const size_t tailLength = currentLength - static_cast<size_t>(at - text) - tokenLength;
    wmemmove(at + replacementLength, at + tokenLength, tailLength + 1);
    wmemcpy(at, replacement, replacementLength);
    currentLength = currentLength - tokenLength + replacementLength;
    at += replacementLength;
  }
  *outLength = replacementLength;
  return true;
}
