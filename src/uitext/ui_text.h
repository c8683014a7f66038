#pragma once
// User-visible texts by numeric ID: fetched from the server's string library, with the built-in
// fallback whenever the library lacks the ID or is not loaded.

#include <windows.h>

#include <cstddef>

struct UiText {
  UINT id;  // kOwnText: a text of the program's own, never looked up
  const wchar_t* fallback;
};

namespace uitext {
inline constexpr UINT kOwnText = 0;
#define UI_TEXT(name, id, text) inline constexpr UiText name{id, L"" text};
#define OWN_TEXT(name, text) inline constexpr UiText name{kOwnText, L"" text};
#include "uitext/ui_texts.def"
#undef OWN_TEXT
#undef UI_TEXT
}  // namespace uitext

// The string library every text is fetched from; null means "fallbacks only".
void SetUiTextLibrary(HMODULE library);
HMODULE GetUiTextLibrary();

// Fetches text `id` into the buffer (capacity in characters, terminator included); when the
// library does not supply it, or for a text of the program's own (uitext::kOwnText), copies the
// fallback, cut to fit. The buffer always ends up
// holding a terminated text when capacity > 0.
void LoadUiText(UINT id, const wchar_t* fallback, wchar_t* buffer, size_t capacity);
inline void LoadUiText(const UiText& text, wchar_t* buffer, size_t capacity) {
  LoadUiText(text.id, text.fallback, buffer, capacity);
}
template <size_t N>
void LoadUiText(const UiText& text, wchar_t (&buffer)[N]) {
  LoadUiText(text.id, text.fallback, buffer, N);
}

// The application title: the product name, a blank and the tool name, the tool name fetched into
// at most `toolCapacity` characters (terminator included, at most MAX_PATH). A title that does
// not fit keeps what fitted.
void LoadAppTitle(wchar_t* title, size_t capacity, size_t toolCapacity);

// True when `candidate` has exactly the same sequence of %s and %d conversions as `fallback`
// and no other conversion ("%%" is a literal). Library texts are outside data: only such a text
// may be used as a format string.
bool HasSameConversions(const wchar_t* candidate, const wchar_t* fallback);

// Fetches text `id` and formats it with the arguments into the buffer. A library text whose
// conversions differ from the fallback's is replaced by the fallback before formatting.
// Returns false when the formatted text does not fit (the buffer then holds the cut text).
bool FormatUiText(UINT id, const wchar_t* fallback, wchar_t* buffer, size_t capacity, ...);
// The same for one text of the table.
bool FormatUiText(const UiText& text, wchar_t* buffer, size_t capacity, ...);
bool FormatUiTextV(UINT id, const wchar_t* fallback, wchar_t* buffer, size_t capacity, va_list args);
