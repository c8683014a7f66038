#pragma once
// Text in the system's ANSI code page, converted only where every character has an exact
// counterpart there, and back only from byte sequences valid there: no best-fit look-alikes, no
// default character. Texts written into ANSI files or read back by ANSI programs must come out
// as they were typed.

#include <windows.h>

#include <climits>
#include <string>

namespace fw {

// Converts `text` with its terminator into `out` (capacity in bytes). Returns the bytes written,
// terminator included, or 0 when a character has no exact counterpart or the result does not
// fit; `out` may then hold part of it.
inline int ToAnsiExactly(const wchar_t* text, char* out, int capacity) {
  // Where the ANSI code page is UTF-8 every character converts exactly; only unpaired surrogates
  // do not, and the used-default flag is not allowed there.
  const bool utf8 = ::GetACP() == CP_UTF8;
  BOOL usedDefault = FALSE;
  const int written = ::WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, text,
                                            -1, out, capacity, nullptr, utf8 ? nullptr : &usedDefault);
  return written > 0 && !usedDefault ? written : 0;
}

// True when `text` converts exactly into the ANSI code page.
inline bool IsExactInAnsi(const wchar_t* text) {
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return false;
  }
  std::string buffer(static_cast<size_t>(needed) * 2 + 4, '\0');
  return ToAnsiExactly(text, buffer.data(), static_cast<int>(buffer.size())) > 0;
}

// Converts `length` bytes of ANSI text into `out`. False, leaving `out` empty, when a byte
// sequence is not valid in the code page, or the text is longer than a conversion takes.
inline bool FromAnsiExactly(const char* text, size_t length, std::wstring& out) {
  out.clear();
  if (length == 0) {
    return true;
  }
  if (length > static_cast<size_t>(INT_MAX)) {
    return false;
  }
  const int bytes = static_cast<int>(length);
  const int needed = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, bytes, nullptr, 0);
  if (needed <= 0) {
    return false;
  }
  out.resize(static_cast<size_t>(needed));
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, bytes, out.data(), needed) != needed) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace fw
