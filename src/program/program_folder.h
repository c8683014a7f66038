#pragma once
// The program's own folder, in its short (8.3) form, ending with a backslash.

#include <windows.h>

// Fills `folder` (capacity MAX_PATH); false when the module path cannot be read or does not fit.
bool GetProgramFolder(wchar_t (&folder)[MAX_PATH]);
