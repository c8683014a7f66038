#pragma once
// Small file and process helpers shared by the builds. Each reports success as a boolean and
// writes its own trace lines; none shows a message box, the caller decides what the user sees.
// The program's own folder comes from program/program_folder.h (GetProgramFolder).

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

#include "handles/handles.h"

// Looked-up free-space queries, so that the arithmetic can be checked against chosen answers.
// A null member means "not available on this system".
struct DiskSpaceQueries {
  using ExFn = BOOL(WINAPI*)(LPCWSTR root, PULARGE_INTEGER callerFree, PULARGE_INTEGER total,
                             PULARGE_INTEGER totalFree);
  using ClustersFn = BOOL(WINAPI*)(LPCWSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                                   LPDWORD freeClusters, LPDWORD totalClusters);
  ExFn getDiskFreeSpaceEx = nullptr;
  ClustersFn getDiskFreeSpace = nullptr;
};

// The system's queries: GetDiskFreeSpaceExW looked up at run time in kernel32.dll, and
// GetDiskFreeSpaceW.
DiskSpaceQueries SystemDiskSpaceQueries();

// True when the drive with root path `root` (e.g. "C:\") has at least `requiredMb` megabytes
// (of 1,048,576 bytes) free on the volume. False when the free space cannot be read.
bool IsDiskSpaceAvailable(const wchar_t* root, DWORD requiredMb);
bool IsDiskSpaceAvailable(const wchar_t* root, DWORD requiredMb, const DiskSpaceQueries& queries);

// True when `path` exists and is marked as a reparse point (a symbolic link, a junction or a
// mount point). Whatever is done through such an entry reaches its target.
bool IsLink(const wchar_t* path);

// Deletes every file directly in `folder` (no trailing backslash), read-only and hidden ones
// included; sub-folders and their contents stay. Stops at the first file it cannot delete and
// returns false. A folder that does not exist or is empty is left alone and gives true.
// Links are never followed: a `folder` that is a link is left alone, and an entry that is one
// is not deleted and stops the cleaning; both give false, with the link named in the trace.
bool CleanFolder(const wchar_t* folder);

// Deletes every file and sub-folder below `folder` (no trailing backslash), read-only ones
// included, and keeps the folder itself. Goes on past an entry it cannot delete and returns false
// when anything remains. A folder that does not exist gives true.
// Links are never followed: a `folder` that is a link is left alone and gives false; an entry
// that is one (at any depth) is neither entered nor deleted nor has its marks cleared, stays,
// and makes the result false. The trace names the link.
bool EmptyFolderTree(const wchar_t* folder);

// Owns a build's working folder from the moment it is ready: when the guard goes (after the
// build's last message), the folder is emptied and removed, never through a link: a folder that
// is or holds one stays, traced under the guard's tag. Keep() hands the folder over as it is,
// for a folder that still holds a borrowed file.
class WorkingFolderGuard {
 public:
  WorkingFolderGuard() = default;
  WorkingFolderGuard(const WorkingFolderGuard&) = delete;
  WorkingFolderGuard& operator=(const WorkingFolderGuard&) = delete;
  ~WorkingFolderGuard();

  // Starts guarding `folder`; `tag` (a text that outlives the guard) names the build in the trace.
  void Arm(const wchar_t* folder, const wchar_t* tag);
  void Keep() { folder_.clear(); }

 private:
  std::wstring folder_;
  const wchar_t* tag_ = L"";
};

// Replacing a file without ever losing the one it replaces. The new file is first made whole
// beside the destination, under the destination's name followed by kTemporarySuffix, and then
// renamed over the destination in one step on the same volume. A failure at any point deletes
// only the temporary file; the file at the destination stays exactly as it was. All paths are
// absolute; <destination>.tmp must fit in MAX_PATH characters. After a failure GetLastError()
// gives the error of the step that failed.
inline constexpr wchar_t kTemporarySuffix[] = L".tmp";

// The size of the file at `path`; false when there is none (or a folder is there), with
// GetLastError() saying why.
bool ReadFileSize(const wchar_t* path, unsigned long long& bytes);

// Deletes the <destination>.tmp that an interrupted earlier run may have left. True when none
// remains.
bool RemoveLeftoverTemporary(const wchar_t* destination);

// Puts the finished file `source` at `destination`: moved to <destination>.tmp (renamed when both
// lie on one volume, copied otherwise, when `source` then stays), written through to the disk,
// checked to hold as many bytes as `source` did, and renamed over `destination` with
// MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). True once it lies there.
// `finish`, when given, runs on <destination>.tmp before the rename (the installer is signed
// there): it gets the bytes the file holds and sets the bytes it must hold afterwards, which the
// commit then checks; false drops the temporary file and keeps `destination` as it was.
using FinishTemporary = std::function<bool(const wchar_t* temporary, unsigned long long& bytes)>;
bool MoveFileIntoPlace(const wchar_t* source, const wchar_t* destination,
                       const FinishTemporary& finish = nullptr);

// The last two steps alone, for a file its writer already wrote as `temporary` beside
// `destination`: flushed, checked to hold `expectedBytes`, renamed over `destination`.
bool CommitTemporaryFile(const wchar_t* temporary, const wchar_t* destination,
                         unsigned long long expectedBytes);

inline constexpr size_t kExecCommandCapacity = 3000;  // characters, terminator included

// The pauses, in milliseconds, before each new try at starting a child whose start failed.
inline constexpr DWORD kStartRetryPausesMs[] = {250, 1000, 3000};

// Waits `milliseconds` between two tries at starting a child (Sleep, unless a test looks on).
using StartPause = std::function<void(DWORD milliseconds)>;

// CreateProcessW of a copy of `commandLine` (at most kExecCommandCapacity characters) with the
// other arguments as given. A start that fails for a reason that may pass, such as a scanner
// still holding a program just written, is tried again after each pause of kStartRetryPausesMs;
// a missing file or one that is no program is not. False, with the system's error code in
// `error`, when no try started it.
bool StartProcess(const wchar_t* commandLine, BOOL inheritHandles, DWORD flags, STARTUPINFOW& startup,
                  PROCESS_INFORMATION& info, DWORD& error, const StartPause& pause = nullptr);

// Starts `commandLine` (no application name, handles not inherited, the caller's environment
// and current folder) with the given show-window value; when `wait` is true, waits for it to end
// without a time limit, repainting the calling thread's windows meanwhile (no other input is handled).
// Returns true when the process was started. `exitCode` (optional) receives the child's exit code once it has
// been waited for; it holds STILL_ACTIVE when the child was not waited for or its code could not be read, and
// 0xFFFFFFFF when it never started. A command line that does not fit in kExecCommandCapacity is refused,
// never shortened.
bool ExecFile(const wchar_t* commandLine, WORD showWindow, bool wait, DWORD* exitCode);

// How a child run by ExecFileReading ended.
enum class ChildRun {
  kEnded,       // it ran to its end: its exit code was read
  kNotStarted,  // the pipe or the process could not be made, or the command line does not fit:
                // the exit code holds the system's error code
  kOutOfTime,   // it was still running at the time limit, and was ended
};

// What a child writes, handed over piece by piece as it is read (a piece may end anywhere).
using ChildOutput = std::function<void(const char* bytes, size_t length)>;

// Starts `commandLine` hidden, as ExecFile does, with standard input from NUL and standard output
// (and standard error when `errorsToo`, otherwise NUL) into a pipe that is read while the child
// runs, so that nothing it writes reaches the console; every piece goes to `output`. Only the
// pipe's and NUL's handles are inherited. The child keeps the console, so that Ctrl+C reaches it
// too. Waits for its end and what it wrote up to then, or until `timeLimitMs` has passed: a child
// still running then is ended.
ChildRun ExecFileReading(const wchar_t* commandLine, const ChildOutput& output, DWORD& exitCode,
                         bool errorsToo = true, DWORD timeLimitMs = INFINITE);

// Writes the program's own resource `resourceId` of type `resourceType` (e.g. L"EXE") as a new
// file `targetPath`, after deleting any file there, and returns it held open for reading with
// read sharing only: while the handle lives, nobody can write, delete or rename the file, and it
// can still be run and loaded. The file is written without write or delete sharing, closed (a
// program open for writing cannot be started), reopened, and its bytes checked against the
// resource through the held handle. The target's folder must exist. An invalid handle when the
// target is a link, the resource is missing, or the file cannot be written or is not the
// resource's bytes; a file it wrote is then removed.
fw::UniqueKernelHandle ExtractExeToDisk(const wchar_t* targetPath, WORD resourceId,
                                        const wchar_t* resourceType);

// Replaces every occurrence of `token` in `text` (capacity `capacity` characters, terminator
// included) with `replacement`, scanning forward: text produced by a replacement is not searched
// again, so a replacement may itself contain the token. When the grown text would not fit, fails
// and leaves the text unchanged. `outLength` receives the replacement's length when at least
// one occurrence was replaced and 0 otherwise. False for a missing argument or an empty token.
bool ReplaceToken(wchar_t* text, size_t capacity, const wchar_t* token, const wchar_t* replacement,
                  size_t* outLength);
