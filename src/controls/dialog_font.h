#pragma once
// The program's dialog font: face, point size and character width from the application object
// (the string library's font setting), weight 400, sized against a window's device context.

#include <windows.h>

#include "framework/handles.h"

namespace controls {

struct FontSetting {
  const wchar_t* face;
  int points;
  int width;
};

// The application object's setting; "Arial", 9 points, width 5 when there is no application
// object or its face name is empty.
FontSetting CurrentFontSetting();

// Character height for a point size: -MulDiv(points, dpiY, 72) scaled by 96 / dpiX and truncated
// toward zero (-12 for 9 points at 96, 120 and 144 dots per inch on both axes).
LONG DialogFontHeight(int points, int dpiX, int dpiY);

// Fills a logical font (all fields zero except face, height, width and weight 400) for the
// setting, with the height taken against `window`'s device context. False when the window has
// no device context or the face name does not fit.
bool MakeDialogFontDescription(HWND window, const FontSetting& setting, LOGFONTW& font);

// Creates the font from the current setting against `window` and sets it on `window` (with
// redraw). Returns the font, which the caller owns; an empty handle on failure.
fw::UniqueFont CreateDialogFont(HWND window);

}  // namespace controls
