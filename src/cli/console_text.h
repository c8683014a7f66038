#pragma once
// Text of the console program: written to standard output or standard error as the console's
// own wide text when it is a console, as UTF-8 otherwise (a pipe or a file); messages with their
// IDs.

#include <windows.h>

#include <string>

#include "uitext/ui_text.h"

namespace cli {

void WriteOut(const std::wstring& text);
void WriteErr(const std::wstring& text);
// A refused command line of `command`, with the pointer to the help.
void WriteUsageError(const wchar_t* command, const std::wstring& error);

// "ID: text" for a text with an ID, the text alone for one of the program's own
// (uitext::kOwnText); line breaks become spaces.
std::wstring MessageLine(UINT id, const std::wstring& text);

// The table text `text` as its message line on standard error.
void WriteMessage(const UiText& text);

// UTF-16 to UTF-8 and back; invalid sequences become U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace cli
