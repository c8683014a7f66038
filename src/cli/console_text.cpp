#include "cli/console_text.h"

#include <cwchar>
#include <iterator>

#include "uitext/ui_text.h"

namespace cli {
namespace {

constexpr UiText kTableTexts[] = {
#define UI_TEXT(name, id, text) uitext::name,
#define OWN_TEXT(name, text)
#include "uitext/ui_texts.def"
#undef OWN_TEXT
#undef UI_TEXT
};

void Write(DWORD which, const std::wstring& text) {
  HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(handle, &mode)) {
    ::WriteConsoleW(handle, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = ToUtf8(text);
  ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// The placeholders a shown text may have replaced: printf conversions and the tokens of the
// TAR message.
size_t PlaceholderLength(const wchar_t* pattern) {
  if (pattern[0] == L'%' && (pattern[1] == L's' || pattern[1] == L'd')) {
    return 2;
  }
  for (const wchar_t* token : {L"<__BUILD_NAME__>", L"<__BUILD_PATH__>"}) {
    const size_t length = wcslen(token);
    if (wcsncmp(pattern, token, length) == 0) {
      return length;
    }
  }
  return 0;
}

// Whether `text` is `pattern` with each placeholder replaced by some text.
bool Matches(const wchar_t* pattern, const wchar_t* text) {
  if (*pattern == L'\0') {
    return *text == L'\0';
  }
  if (const size_t placeholder = PlaceholderLength(pattern)) {
    for (const wchar_t* rest = text;; ++rest) {
      if (Matches(pattern + placeholder, rest)) {
        return true;
      }
      if (*rest == L'\0') {
        return false;
      }
    }
  }
  if (pattern[0] == L'%' && pattern[1] == L'%') {
    return *text == L'%' && Matches(pattern + 2, text + 1);
  }
  return *pattern == *text && Matches(pattern + 1, text + 1);
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
  return bytes;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

void WriteOut(const std::wstring& text) { Write(STD_OUTPUT_HANDLE, text); }
void WriteErr(const std::wstring& text) { Write(STD_ERROR_HANDLE, text); }

UINT FindTextId(const wchar_t* shown) {
  UINT best = uitext::kOwnText;
  size_t bestLength = 0;
  for (const UiText& entry : kTableTexts) {
    wchar_t loaded[2048];
    LoadUiText(entry, loaded);
    // The most specific text wins: "%s does not exist..." over a text that is all conversion.
    for (const wchar_t* pattern : {static_cast<const wchar_t*>(loaded), entry.fallback}) {
      const size_t length = wcslen(pattern);
      if (length > bestLength && Matches(pattern, shown)) {
        best = entry.id;
        bestLength = length;
      }
    }
  }
  return best;
}

void WriteUsageError(const wchar_t* command, const std::wstring& error) {
  WriteErr(L"tmrovane " + std::wstring(command) + L": " + error + L" (see: tmrovane --help)\n");
}

std::wstring MessageLine(const wchar_t* shown) {
  std::wstring line;
  if (const UINT id = FindTextId(shown); id != uitext::kOwnText) {
    line = std::to_wstring(id) + L": ";
  }
  for (const wchar_t* c = shown; *c != L'\0'; ++c) {
    if (*c == L'\r') {
      continue;
    }
    line += *c == L'\n' ? L' ' : *c;
  }
  return line;
}

}  // namespace cli
