#pragma once
// TAR writer for the Mac and Linux client builds: the classic 512-byte-block layout without a
// format magic, with the GNU "././@LongLink" extension for names longer than 100 bytes. Names
// are stored in the ANSI code page; every entry has mode "000777 " and zero owner and group.

#include <windows.h>

#include <cstdint>

enum TarEntryKind : int {
  kTarEntryFolder = 1,      // the archived folder itself: "<folder>/", no content
  kTarEntryRootFile = 2,    // a single file at the archive root: "<file>"
  kTarEntryFolderFile = 3,  // a file inside the archived folder: "<folder>/<file>"
};

// Largest file the 11-octal-digit size field holds: 8 GiB - 1.
inline constexpr uint64_t kTarMaxFileSize = 077777777777ull;
// Longest entry name: the long-name extension carries it in one 512-byte block with its
// terminator.
inline constexpr size_t kTarMaxNameLength = 511;

// Archives `sourcePath` into a new file `tarPath`. A folder (one trailing backslash is ignored)
// gives an entry for the folder and one for each file directly inside it, in enumeration order;
// a file gives one entry at the archive root. Fails, creating nothing, when the source is missing,
// a file already exists at `tarPath` (it is left untouched), the folder holds a sub-folder, a name
// cannot be represented in the ANSI code page or is too long, or a file is larger than
// kTarMaxFileSize. A failure while writing or flushing removes the partial archive. `error` is
// set to 0 and stays 0. True when the complete archive was written and flushed to disk.
bool CreateTarFile(const wchar_t* sourcePath, const wchar_t* tarPath, DWORD* error);

// Appends one entry to the archive open on C runtime descriptor `archive`, taking modification
// time, length and content from `sourcePath`. `folderName` (ANSI) is required for kinds 1 and 3,
// `fileName` (ANSI) for kinds 2 and 3. A name longer than kTarMaxNameLength or a file larger
// than kTarMaxFileSize is refused before anything is written. `error` is set to 0.
bool AddTarEntry(int archive, const wchar_t* sourcePath, const char* folderName, const char* fileName,
                 int kind, DWORD* error);

namespace tarformat {

// Formats `value` into a 12-byte size or mtime field: the octal digits right-aligned to end at
// byte 10, leading spaces, a space at byte 11. False when it needs more than 11 digits.
bool FormatNumberField(uint64_t value, char (&field)[12]);

}  // namespace tarformat
