#pragma once
// Reads back what a window drew, for tests that check how it is drawn. The pixels come from the
// window's own device context, so windows of other tests that cover it do not matter.

#include <windows.h>

#include <vector>

namespace testsupport {

// The pixels of a rectangle of the window's client area, row by row, as COLORREF values.
inline std::vector<COLORREF> CaptureClient(HWND window, const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  std::vector<COLORREF> pixels;
  if (width <= 0 || height <= 0) {
    return pixels;
  }
  HDC source = GetDC(window);
  HDC memory = CreateCompatibleDC(source);
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
  BitBlt(memory, 0, 0, width, height, source, area.left, area.top, SRCCOPY);
  GdiFlush();
  const auto* quads = static_cast<const RGBQUAD*>(bits);
  for (int i = 0; i < width * height; ++i) {
    pixels.push_back(RGB(quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue));
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, source);
  return pixels;
}

// How many pixels of the rectangle have exactly this colour.
inline size_t CountColour(HWND window, const RECT& clientRect, COLORREF colour) {
  size_t count = 0;
  for (COLORREF pixel : CaptureClient(window, clientRect)) {
    count += pixel == colour ? 1 : 0;
  }
  return count;
}

}  // namespace testsupport
