#include "controls/dialog_font.h"

#include <strsafe.h>

#include "framework/gdi_scope.h"

namespace controls {

LONG DialogFontHeight(int points, int dpiX, int dpiY) {
  const int height = -::MulDiv(points, dpiY, 72);
  if (dpiX <= 0) {
    return height;
  }
  return static_cast<LONG>(height / (dpiX / 96.0));
}

bool MakeDialogFontDescription(HWND window, const FontSetting& setting, LOGFONTW& font) {
  font = LOGFONTW{};
  int dpiX = 0;
  int dpiY = 0;
  {
    const fw::ScopedGetDC screen(window);
    if (screen.dc() == nullptr) {
      return false;
    }
    dpiX = ::GetDeviceCaps(screen.dc(), LOGPIXELSX);
    dpiY = ::GetDeviceCaps(screen.dc(), LOGPIXELSY);
  }
  font.lfHeight = DialogFontHeight(setting.points, dpiX, dpiY);
  font.lfWidth = setting.width;
  font.lfWeight = FW_NORMAL;
  return SUCCEEDED(::StringCchCopyW(font.lfFaceName, LF_FACESIZE, setting.face));
}

fw::UniqueFont CreateDialogFont(HWND window, const FontSetting& setting) {
  LOGFONTW description;
  if (!MakeDialogFontDescription(window, setting, description)) {
    return {};
  }
  fw::UniqueFont font(::CreateFontIndirectW(&description));
  if (font) {
    ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
  }
  return font;
}

}  // namespace controls
