#include "uitext/ui_text.h"

#include <strsafe.h>

#include <cstdarg>

namespace {

HMODULE g_library = nullptr;
constexpr size_t kTemplateCapacity = 1024;

// Next conversion at or after `text`: 's' or 'd' for a plain %s or %d, '?' for any other
// conversion, or '\0' when there is none. Advances `text` past it.
wchar_t NextConversion(const wchar_t*& text) {
  while (*text != L'\0') {
    if (*text++ != L'%') {
      continue;
    }
    if (*text == L'%') {
      ++text;
      continue;
    }
    const wchar_t kind = *text;
    if (kind == L's' || kind == L'd') {
      ++text;
      return kind;
    }
    return L'?';
  }
  return L'\0';
}

}  // namespace

void SetUiTextLibrary(HMODULE library) { g_library = library; }

HMODULE GetUiTextLibrary() { return g_library; }

void LoadUiText(UINT id, const wchar_t* fallback, wchar_t* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) {
    return;
  }
  if (id != uitext::kOwnText && g_library != nullptr && capacity <= INT_MAX &&
      ::LoadStringW(g_library, id, buffer, static_cast<int>(capacity)) > 0) {
    return;
  }
  ::StringCchCopyW(buffer, capacity, fallback != nullptr ? fallback : L"");
}

void LoadAppTitle(wchar_t* title, size_t capacity, size_t toolCapacity) {
  wchar_t tool[MAX_PATH];
  LoadUiText(uitext::kAppTitleProduct, title, capacity);
  LoadUiText(uitext::kAppTitleTool, tool, toolCapacity < MAX_PATH ? toolCapacity : MAX_PATH);
  ::StringCchCatW(title, capacity, L" ");
  ::StringCchCatW(title, capacity, tool);
}

bool HasSameConversions(const wchar_t* candidate, const wchar_t* fallback) {
  for (;;) {
    const wchar_t a = NextConversion(candidate);
    const wchar_t b = NextConversion(fallback);
    if (a == L'?' || a != b) {
      return false;
    }
    if (a == L'\0') {
      return true;
    }
  }
}

bool FormatUiTextV(UINT id, const wchar_t* fallback, wchar_t* buffer, size_t capacity, va_list args) {
  if (buffer == nullptr || capacity == 0) {
    return false;
  }
  wchar_t format[kTemplateCapacity];
  LoadUiText(id, fallback, format, kTemplateCapacity);
  const wchar_t* checked = HasSameConversions(format, fallback) ? format : fallback;
  return SUCCEEDED(::StringCchVPrintfW(buffer, capacity, checked, args));
}

bool FormatUiText(const UiText& text, wchar_t* buffer, size_t capacity, ...) {
  va_list args;
  va_start(args, capacity);
  const bool ok = FormatUiTextV(text.id, text.fallback, buffer, capacity, args);
  va_end(args);
  return ok;
}

bool FormatUiText(UINT id, const wchar_t* fallback, wchar_t* buffer, size_t capacity, ...) {
  va_list args;
  va_start(args, capacity);
  const bool ok = FormatUiTextV(id, fallback, buffer, capacity, args);
  va_end(args);
  return ok;
}
