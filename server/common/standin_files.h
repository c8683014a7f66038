#pragma once
// Small file helpers shared by the stand-in server libraries and programs: the folder a module
// lies in, whole-file reads, text decoding, the per-library switch file that makes named calls
// fail, and the journal that records what a library was asked to do.

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace standin {

// Folder of `module` (nullptr: the running program), with a trailing backslash.
bool ModuleFolder(HMODULE module, std::wstring* folder);

// `name` in the folder of `module`; empty when the folder cannot be had.
std::wstring BesideModule(HMODULE module, const std::wstring& name);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

// Writes a whole file, replacing one that exists.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);

// Decodes UTF-16LE (with byte-order mark) or UTF-8 (with or without one) text into lines,
// without their line ends.
bool DecodeLines(const std::string& bytes, std::vector<std::wstring>* lines);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// True when the switch file `switchPath` names `call` (one name per line or separated by
// blanks, case-sensitive). A missing switch file names nothing.
bool IsSwitchedToFail(const std::wstring& switchPath, const char* call);

// The switch file beside a stand-in library that makes its calls return 0xFF for success.
inline constexpr wchar_t kSuccessFFSwitchFile[] = L"success.ff";

// The byte a library of `module` returns for success: 0xFF while kSuccessFFSwitchFile lies
// beside it (a caller must take every non-zero byte as success), otherwise 1.
uint8_t SuccessByte(HMODULE module);

// The name the stand-in version library derives from a base name for a product version:
// "<base>_<version>". Empty when either is empty.
std::wstring VersionedName(const std::wstring& base, const std::wstring& version);

// Appends one line (with CR LF) to a text file, creating it when needed. Best effort: the
// journal must never change what a call returns.
void AppendJournal(const std::wstring& journalPath, const std::string& line);

// Text made fit for one journal line: printable ASCII as it is, a backslash doubled, CR and LF
// as \r and \n, every other byte as \xHH.
std::string JournalEscaped(const std::string& bytes);

// The 64-bit FNV-1a hash of `bytes` (offset basis 0xcbf29ce484222325, prime 0x100000001b3) as
// 16 lowercase hexadecimal digits: lets a record show which secret it received without it.
std::string Fnv1a64Hex(const std::string& bytes);

// Records one finished call: "<call> ok" or "<call> fail <status>", then each detail. Status 0
// is success. Best effort like AppendJournal.
void JournalCall(const std::wstring& journalPath, const char* call, uint32_t status,
                 std::initializer_list<uint32_t> details = {});

}  // namespace standin
