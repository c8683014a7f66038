#pragma once
// Why a test window did not appear: the error of the failed creation, the template it was made
// from, and every top-level window already on the screen (a window left by another test or
// process is the usual suspect).

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace testsupport {

inline BOOL CALLBACK AppendTopLevelWindow(HWND window, LPARAM context) {
  wchar_t className[128] = L"", title[256] = L"";
  GetClassNameW(window, className, ARRAYSIZE(className));
  GetWindowTextW(window, title, ARRAYSIZE(title));
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  auto* out = reinterpret_cast<std::wstring*>(context);
  *out += L"\n  " + std::wstring(className) + L" \"" + title + L"\" process " + std::to_wstring(process) +
          (IsWindowVisible(window) ? L" visible" : L" hidden");
  return TRUE;
}

inline std::string TopLevelWindows() {
  std::wstring list;
  EnumWindows(&AppendTopLevelWindow, reinterpret_cast<LPARAM>(&list));
  if (list.empty()) {
    return " none";
  }
  std::string utf8(WideCharToMultiByte(CP_UTF8, 0, list.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, list.c_str(), -1, utf8.data(), static_cast<int>(utf8.size()), nullptr,
                      nullptr);
  utf8.pop_back();  // the terminator
  return utf8;
}

// Runs `create` (true when the window was made) and succeeds when it did; otherwise a failure
// naming the creation's error, the template and the windows on the screen.
template <typename Create>
::testing::AssertionResult WindowCreated(Create create, UINT templateId) {
  SetLastError(0);
  const bool created = create();
  const DWORD error = GetLastError();
  if (created) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "creating the window of template " << templateId << " failed, error " << error
         << "; top-level windows:" << TopLevelWindows();
}

}  // namespace testsupport
