#pragma once
// The owner of Windows Installer handles (databases, views, records), kept beside the MSI
// builder so that only the code that talks to the Windows Installer sees its headers.

#include <windows.h>
// After windows.h: the Windows Installer headers rely on its types.
#include <msiquery.h>

#include "handles/handles.h"

// 0 means "none".
struct MsiHandleTraits {
  using Type = MSIHANDLE;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type h) noexcept { return h != 0; }
  static bool Close(Type h) noexcept { return ::MsiCloseHandle(h) == ERROR_SUCCESS; }
};

using UniqueMsiHandle = fw::UniqueHandle<MsiHandleTraits>;
