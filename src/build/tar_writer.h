#pragma once
// TAR writer for the Mac and Linux client builds, in the layout of build/tar_format.h: no format
// magic, names in the ANSI code page, mode "000777 " and zero owner and group on every entry.

#include <windows.h>

#include <cstdint>
#include <functional>

#include "build/tar_format.h"

enum TarEntryKind : int {
  kTarEntryFolder = 1,      // the archived folder itself: "<folder>/", no content
  kTarEntryRootFile = 2,    // a single file at the archive root: "<file>"
  kTarEntryFolderFile = 3,  // a file inside the archived folder: "<folder>/<file>"
};

// Archives `sourcePath` into a new file `tarPath`. A folder (one trailing backslash is ignored)
// gives an entry for the folder and one for each file directly inside it, in enumeration order;
// a file gives one entry at the archive root. Fails, creating nothing, when the source is missing,
// a file already exists at `tarPath` (it is left untouched), the folder holds a sub-folder, a name
// cannot be represented in the ANSI code page or is too long, or a file is larger than
// kTarMaxFileSize. A failure while writing or flushing removes the partial archive. `error` is
// set to 0 and stays 0. True when the complete archive was written and flushed to disk.
// `progress`, when given, is called as the files' content is written: the bytes of content
// written so far, and the content bytes of the whole archive.
using TarProgress = std::function<void(uint64_t written, uint64_t total)>;
bool CreateTarFile(const wchar_t* sourcePath, const wchar_t* tarPath, DWORD* error,
                   const TarProgress& progress = nullptr);

// Appends one entry to the archive open on C runtime descriptor `archive`, taking modification
// time, length and content from `sourcePath`. `folderName` (ANSI) is required for kinds 1 and 3,
// `fileName` (ANSI) for kinds 2 and 3. A name longer than kTarMaxNameLength or a file larger
// than kTarMaxFileSize is refused before anything is written. `error` is set to 0. `copied`, when
// given, is called with the length of every piece of content written.
bool AddTarEntry(int archive, const wchar_t* sourcePath, const char* folderName, const char* fileName,
                 int kind, DWORD* error, const std::function<void(uint64_t length)>& copied = nullptr);
