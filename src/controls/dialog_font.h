#pragma once
// The program's dialog font: face, point size and character width as the owning dialog hands
// them in (the string library's font setting), weight 400, sized against a window's device
// context.

#include <windows.h>

#include "handles/handles.h"

namespace controls {

struct FontSetting {
  const wchar_t* face;
  int points;
  int width;
};

// The setting used when the string library's is not available.
inline constexpr FontSetting kDefaultFontSetting{L"Arial", 9, 5};

// Character height for a point size: -MulDiv(points, dpiY, 72) scaled by 96 / dpiX and truncated
// toward zero (-12 for 9 points at 96, 120 and 144 dots per inch on both axes).
LONG DialogFontHeight(int points, int dpiX, int dpiY);

// Fills a logical font (all fields zero except face, height, width and weight 400) for the
// setting, with the height taken against `window`'s device context. False when the window has
// no device context or the face name does not fit.
bool MakeDialogFontDescription(HWND window, const FontSetting& setting, LOGFONTW& font);

// Creates the font from `setting` against `window` and sets it on `window` (with redraw).
// Returns the font, which the caller owns; an empty handle on failure.
fw::UniqueFont CreateDialogFont(HWND window, const FontSetting& setting);

}  // namespace controls
