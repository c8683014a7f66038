#pragma once
// Reads back what is on the screen, for tests that check how a window is drawn.

#include <windows.h>

#include <vector>

namespace testsupport {

// The pixels of a rectangle of the screen, row by row, as COLORREF values.
inline std::vector<COLORREF> CaptureScreen(const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  std::vector<COLORREF> pixels;
  if (width <= 0 || height <= 0) {
    return pixels;
  }
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();
  const auto* quads = static_cast<const RGBQUAD*>(bits);
  for (int i = 0; i < width * height; ++i) {
    pixels.push_back(RGB(quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue));
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// A window-relative rectangle of `window`'s client area on the screen.
inline RECT ClientToScreenRect(HWND window, RECT rect) {
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// How many pixels of the rectangle have exactly this colour.
inline size_t CountColour(HWND window, const RECT& clientRect, COLORREF colour) {
  size_t count = 0;
  for (COLORREF pixel : CaptureScreen(ClientToScreenRect(window, clientRect))) {
    count += pixel == colour ? 1 : 0;
  }
  return count;
}

}  // namespace testsupport
