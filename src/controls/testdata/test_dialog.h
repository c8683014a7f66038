#pragma once
// A modeless test dialog whose controls the tests attach to, and helpers that drive the real
// mouse and message loop.

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

#include "controls/testdata/controls_test.h"
#include "framework/dialog.h"
#include "support/dialog_probe.h"
#include "support/window_report.h"

namespace controlstest {

// Runs the message loop until `done()` holds or `timeoutMs` passed; returns `done()`.
template <typename Condition>
bool PumpUntil(Condition done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done() || GetTickCount64() > deadline) {
      return done();
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

inline void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

inline void MoveMouse(POINT screen) {
  SetCursorPos(screen.x, screen.y);
  PumpFor(50);
}

inline void ClickMouse(POINT screen) {
  MoveMouse(screen);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, inputs, sizeof(INPUT));
  PumpFor(100);
}

inline POINT Middle(const RECT& rect) { return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }

inline POINT CenterOnScreen(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return Middle(rect);
}

// A point of the screen that no test window covers.
inline POINT FarAway() { return {1200, 1000}; }

class TestDialog : public fw::Dialog {
 public:
  TestDialog() : fw::Dialog(GetModuleHandleW(nullptr), IDD_CONTROLS_TEST) {}

  // Creates the dialog (`attach` runs at its initialisation) and shows it at a fixed place; a
  // failure says why.
  ::testing::AssertionResult Open(std::function<void(HWND)> attach) {
    attach_ = std::move(attach);
    ::testing::AssertionResult created =
        testsupport::WindowCreated([this] { return Create(nullptr); }, IDD_CONTROLS_TEST);
    if (!created) {
      return created;
    }
    SetWindowPos(hwnd(), HWND_TOP, 100, 100, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(hwnd());
    PumpFor(50);
    return ::testing::AssertionSuccess();
  }

 protected:
  BOOL OnInitDialog() override {
    attach_(hwnd());
    return TRUE;
  }

 private:
  std::function<void(HWND)> attach_;
};

}  // namespace controlstest
