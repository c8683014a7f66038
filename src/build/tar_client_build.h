#pragma once
// What the Mac and Linux client builds share. Both borrow files that the administrator placed
// under the web build folder (disk images, the Linux package archive), assemble them with
// generated files in a working folder beside them, and archive that folder into a TAR that the
// web build area serves.
//
// Borrowed files are never lost: each goes back to its source folder before the working folder
// is emptied, and when one cannot go back the working folder stays where it is. A previous TAR
// is replaced only by a complete new one: the archive is written under a temporary name in the
// TAR's own folder, flushed to disk, read back, and only then moved over the old one.

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "build/build_ui.h"
#include "build/create_plan.h"
#include "build/file_utils.h"
#include "uitext/ui_text.h"

// Appended to the TAR path for the archive while it is written.
inline constexpr wchar_t kTemporaryTarSuffix[] = L".tmp";

// Free space the builds require on the installation's drive, in megabytes.
inline constexpr DWORD kTarBuildRequiredMb = 700;

// A file the archive must hold inside its folder entry.
struct ExpectedTarFile {
  std::wstring name;
  uint64_t size = 0;
};

// Reads an archive back without its content: the folder entry "<folderName>/" first, then each
// expected file exactly once (in any order) with its size, nothing else, every header's checksum
// right, and the two zero blocks of the end marker ending the file.
bool VerifyTarListing(const wchar_t* tarPath, const wchar_t* folderName,
                      const std::vector<ExpectedTarFile>& files);

// Bounded path composition: copies the first part and appends the others into `out`. A path that
// does not fit is traced at level 1 under `tag` as "StringCchCopyW(<bufferName>) failed,
// Error:%lu" or "StringCchCatW(<bufferName>) failed, Error:%lu" with the bounded-string result.
bool ComposePath(wchar_t (&out)[MAX_PATH], const wchar_t* bufferName, const wchar_t* tag,
                 std::initializer_list<const wchar_t*> parts);

// One run of a Mac or Linux build: its folders, the files it borrowed, and the clean-up that every
// failure after the working folder exists goes through. Messages go through the build's UI.
class TarClientBuild {
 public:
  TarClientBuild(IBuildUi& ui, const wchar_t* tag) : ui_(ui), tag_(tag) {}
  TarClientBuild(const TarClientBuild&) = delete;
  TarClientBuild& operator=(const TarClientBuild&) = delete;

  // Shows a text with the error icon. Always false, so that failures can end with it.
  bool ShowError(const UiText& text) const;

  // The drive of `installFolder` (its text up to the first backslash) must have 700 MB free, or
  // the build traces "IsDiskSpaceAvailable returns FALSE" and shows 3025.
  bool CheckDiskSpace(const std::wstring& installFolder) const;

  // The source folder (ending with a backslash), the working folder inside it and the TAR paths
  // of the plan's target. False, with 3018 shown, when a path does not fit.
  bool SetPaths(const TarTarget& target);

  // Removes the temporary TARs of interrupted builds of both kinds of the platform: they are
  // partial, never useful, and lie where endpoints download from. Every build does this once its
  // paths are set, before any other check or question, so that neither a No nor a failed check
  // leaves one there (nor lets its size count against the free space). False, with 3018 shown,
  // when this kind's cannot be removed; the other kind's is only traced then, as it does not stand
  // in this build's way.
  bool RemoveTemporaryTar() const;

  // When a TAR already exists, asks whether to build it again (3144). False when the answer is
  // No; nothing is changed then.
  bool ConfirmRebuild() const;

  // Moves each named file that a leftover working folder `folder` holds and the source folder
  // lacks back to the source folder. Files the source folder has stay where they are. A folder
  // that is a link is left alone: its files are not the build's.
  void RecoverLeftovers(const wchar_t* folder, std::initializer_list<const wchar_t*> names) const;

  // True when `name` exists in the source folder.
  bool SourceFileExists(const wchar_t* name) const;

  // Creates the working folder (or reuses it) and empties it of files and sub-folders. Shows 3018
  // when it cannot be created, is not a folder, is a link, or cannot be emptied (a link inside
  // it is neither entered nor removed, so it cannot be).
  bool PrepareWorkingFolder();

  // Full path of `name` in the working folder. False, after the abort, when it does not fit.
  bool WorkingFile(const wchar_t* name, wchar_t (&out)[MAX_PATH]);

  // Copies `folder` + `name` into the working folder, overwriting. On failure traces
  // `failureFormat` (level 1, with the system error) and aborts.
  bool CopyIn(const wchar_t* folder, const wchar_t* name, const wchar_t* failureFormat);

  // Moves `name` from the source folder into the working folder, replacing a file of that name
  // there, and records it as borrowed. On failure traces `failureFormat` and aborts.
  bool MoveIn(const wchar_t* name, const wchar_t* failureFormat);

  // Archives the working folder under the temporary name, checks that the archive holds exactly
  // `names` with their sizes, and replaces the previous TAR with it. Borrowed files go back to
  // the source folder first, unless `consumeBorrowed`: then they stay inside the TAR and leave
  // the source folder for good, once the TAR is in place. The working folder is emptied and
  // removed. On failure traces `failureFormat` (with the writer's error value) where the archive
  // could not be written, and aborts; the previous TAR is left as it was.
  bool WriteTar(std::initializer_list<const wchar_t*> names, bool consumeBorrowed,
                const wchar_t* failureFormat);

  // The failure path once the working folder exists: removes a temporary TAR, returns every
  // borrowed file, then shows 3018 and empties and removes the working folder. When a file
  // cannot go back, the working folder stays as it is and the message says where the file is.
  // A working folder that is or holds a link stays too. Always false.
  bool Abort();

 private:
  // Moves every borrowed file back; false when one could not go back (the first such file is
  // kept for the message).
  bool ReturnBorrowed();
  bool ShowNotReturned() const;
  // Deletes one temporary TAR; false, traced, when it stays.
  bool DeleteTemporaryTar(const wchar_t* path) const;
  // Deletes the working folder's files and the folder; keeps it, traced, when either fails.

  IBuildUi& ui_;
  const wchar_t* tag_;
  wchar_t sourceFolder_[MAX_PATH] = {};
  wchar_t workingFolder_[MAX_PATH] = {};
  // Removes the working folder when the build goes, unless a borrowed file keeps it.
  WorkingFolderGuard workingFolderGuard_;
  wchar_t tarPath_[MAX_PATH] = {};
  wchar_t temporaryTarPath_[MAX_PATH] = {};
  wchar_t siblingTemporaryTarPath_[MAX_PATH] = {};
  std::vector<std::wstring> borrowed_;  // names, in the order they were moved in
  std::wstring notReturned_;            // the first borrowed file that could not go back
};
