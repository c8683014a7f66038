// Drives top-level windows of the Wine session from scripts:
//   wintool wait <title> [seconds]   waits until a window with that title exists (exit 0) or not (1)
//   wintool close <title>            posts WM_CLOSE to it (exit 0) or finds none (1)
//   wintool gone <title> [seconds]   waits until no such window remains (exit 0) or times out (1)

#include <windows.h>

#include <cwchar>

namespace {

HWND Find(const wchar_t* title) { return FindWindowW(nullptr, title); }

int WaitFor(const wchar_t* title, double seconds, bool present) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if ((Find(title) != nullptr) == present) {
      return 0;
    }
    if (GetTickCount64() > deadline) {
      return 1;
    }
    Sleep(50);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: wintool wait|close|gone <title> [seconds]\n");
    return 2;
  }
  const double seconds = argc > 3 ? _wtof(argv[3]) : 30.0;
  if (wcscmp(argv[1], L"wait") == 0) {
    return WaitFor(argv[2], seconds, true);
  }
  if (wcscmp(argv[1], L"gone") == 0) {
    return WaitFor(argv[2], seconds, false);
  }
  if (wcscmp(argv[1], L"close") == 0) {
    HWND window = Find(argv[2]);
    return window != nullptr && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  fwprintf(stderr, L"unknown command\n");
  return 2;
}
