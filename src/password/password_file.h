#pragma once
// The password of a protected setup: held in memory while a build runs, and written to the
// packer's password file "pwd.dat" only for the packer's run.
//
// The file holds exactly 40 bytes: the password in the system's ANSI code page with its
// terminating zero, zero-filled, each byte's two 4-bit halves exchanged. The exchange undoes
// itself, so the file is the password to anyone who can read it: it is created new, for
// Administrators and SYSTEM only, right before the packer starts, and deleted when it ends.

#include <windows.h>

#include <cstddef>
#include <span>

namespace passwordfile {

inline constexpr size_t kBytes = 40;  // size of the password file
inline constexpr wchar_t kName[] = L"pwd.dat";

// A password that the file can hold exactly. Neither copied nor moved, so that it lies in one
// place only; its characters are wiped whenever it is cleared, replaced or destroyed.
class Password {
 public:
  Password() = default;
  Password(const Password&) = delete;
  Password& operator=(const Password&) = delete;
  ~Password() { Clear(); }

  // Takes `text` when every character has an exact counterpart in the system's ANSI code page
  // (where that code page is UTF-8, every character has one) and the converted text with its
  // terminating zero fits the file. Otherwise false, and the password is empty.
  bool Assign(const wchar_t* text);
  void Clear() { SecureZeroMemory(text_, sizeof text_); }
  bool empty() const { return text_[0] == L'\0'; }
  const wchar_t* c_str() const { return text_; }

 private:
  // Every character takes at least one byte of the file, so a longer text cannot be stored.
  wchar_t text_[kBytes] = L"";
};

// Exchanges the two 4-bit halves of every byte; applying it twice restores the bytes.
void EncryptPassword(std::span<unsigned char> bytes);

// Creates `path` anew (an earlier file there is deleted first) for Administrators and SYSTEM
// only, and writes `password` to it in the file's form. False, traced without the password, when
// the password is empty or the file cannot be created or written whole; a file it began to
// write is removed.
bool SaveEncryptedPasswordToFile(const wchar_t* path, const Password& password);

// Deletes the password file that a run which never finished left in `programFolder` (ending
// with a backslash). True when none remains; the trace says that one was found.
bool RemoveLeftover(const wchar_t* programFolder);

}  // namespace passwordfile
