#pragma once
// The server's version library: turns fixed base names into the names that belong to the
// installed product version. Exported by ordinal only (4 and 8); the program imports both at
// load time, so the library must lie beside the program.

#include <windows.h>

#include <cstdint>

#ifdef VERKIT_BUILDING
#define VERKIT_API extern "C"
#else
#define VERKIT_API extern "C" __declspec(dllimport)
#endif

inline constexpr DWORD kVerkitNameCapacity = MAX_PATH;

// Both return one byte, non-zero meaning success (any non-zero value, not only 1).

// Ordinal 4. Non-zero: `name` holds the single-instance mutex name for this product version.
VERKIT_API uint8_t WINAPI GetMutexNameByVersion(const wchar_t* baseName, wchar_t* name, DWORD capacity);

// Ordinal 8. Non-zero: `keyPath` holds the registry key path for this product version.
VERKIT_API uint8_t WINAPI GetRegistryKeyByVersion(const wchar_t* baseKeyPath, wchar_t* keyPath,
                                                  DWORD capacity);
