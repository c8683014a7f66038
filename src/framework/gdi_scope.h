#pragma once
// Scoped device contexts and selections: what is taken from a window or selected into a context
// is given back when the scope ends, on every path out of it.

#include <windows.h>

namespace fw {

// A window's client-area device context (GetDC), released again (ReleaseDC). dc() is null when
// none could be had.
class ScopedGetDC {
 public:
  explicit ScopedGetDC(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ScopedGetDC(const ScopedGetDC&) = delete;
  ScopedGetDC& operator=(const ScopedGetDC&) = delete;
  ~ScopedGetDC() {
    if (dc_ != nullptr) {
      ::ReleaseDC(window_, dc_);
    }
  }
  HDC dc() const noexcept { return dc_; }

 private:
  HWND window_;  // not owned
  HDC dc_;       // released by this object
};

// The paint of a WM_PAINT (BeginPaint), ended again (EndPaint).
class ScopedPaint {
 public:
  explicit ScopedPaint(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  ScopedPaint(const ScopedPaint&) = delete;
  ScopedPaint& operator=(const ScopedPaint&) = delete;
  ~ScopedPaint() { ::EndPaint(window_, &paint_); }
  HDC dc() const noexcept { return dc_; }

 private:
  HWND window_;  // not owned
  PAINTSTRUCT paint_{};
  HDC dc_;  // ended by this object
};

// Selects a GDI object into a device context and puts the previous one back when it ends, so
// that whatever was selected can be deleted afterwards. A null object selects nothing.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) noexcept
      : dc_(dc), previous_(object != nullptr ? ::SelectObject(dc, object) : nullptr) {}
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
  ~ScopedSelectObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) {
      ::SelectObject(dc_, previous_);
    }
  }

 private:
  HDC dc_;            // not owned
  HGDIOBJ previous_;  // not owned: the context's own object before the selection
};

}  // namespace fw
