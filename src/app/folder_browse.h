#pragma once
// The shell's folder browser for the destination folder, with the program's button texts and
// the top of its folder tree selected when it opens.

#include <windows.h>

// Shows the browser owned by `owner`. True when the administrator chose a folder: `folder`
// then holds its path, or the empty text when the choice has no file-system path.
bool BrowseForFolder(HWND owner, wchar_t (&folder)[MAX_PATH]);

// The browser's callback: relabels its buttons, selects the tree's root, and passes the
// selected folder's path on as status text. Always returns 0.
int CALLBACK BrowseCallbackProc(HWND browser, UINT message, LPARAM parameter, LPARAM data);
