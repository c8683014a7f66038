#pragma once
// Text of the console program: written to standard output or standard error as the console's
// own wide text when it is a console, as UTF-8 otherwise (a pipe or a file), and the message
// IDs of the texts a build shows.

#include <windows.h>

#include <string>

namespace cli {

void WriteOut(const std::wstring& text);
void WriteErr(const std::wstring& text);
// A refused command line of `command`, with the pointer to the help.
void WriteUsageError(const wchar_t* command, const std::wstring& error);

// The string-library ID of a text a build showed (after formatting), found by comparing it with
// every text of the table as the library or the fallback has it, conversions standing for any
// text; uitext::kOwnText when it is none of them (the program's own texts have no ID).
UINT FindTextId(const wchar_t* shown);

// "ID: text" for a text with an ID, the text alone otherwise; line breaks become spaces.
std::wstring MessageLine(const wchar_t* shown);

// UTF-16 to UTF-8 and back; invalid sequences become U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace cli
