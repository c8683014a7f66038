#pragma once
// Reads back what a window drew, for tests that check how it is drawn. The pixels come from the
// window's own device context, so windows of other tests that cover it do not matter.

#include <windows.h>

#include <vector>

#include "framework/gdi_scope.h"
#include "handles/handles.h"

namespace testsupport {

// The pixels of a rectangle of the window's client area, row by row, as COLORREF values.
inline std::vector<COLORREF> CaptureClient(HWND window, const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  std::vector<COLORREF> pixels;
  if (width <= 0 || height <= 0) {
    return pixels;
  }
  const fw::ScopedGetDC source(window);
  const fw::UniqueMemoryDc memory(CreateCompatibleDC(source.dc()));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  // Declared after the context: deselected first, then deleted, then the context.
  const fw::UniqueBitmap bitmap(CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !bitmap) {
    return pixels;
  }
  const fw::ScopedSelectObject selected(memory.get(), bitmap.get());
  BitBlt(memory.get(), 0, 0, width, height, source.dc(), area.left, area.top, SRCCOPY);
  GdiFlush();
  const auto* quads = static_cast<const RGBQUAD*>(bits);
  for (int i = 0; i < width * height; ++i) {
    pixels.push_back(RGB(quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue));
  }
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
