#pragma once
// The Create action's common start and the Windows build: a working folder under the server's
// packer folder filled with the payload of the chosen kind, packed into a self-extracting setup
// or inserted into a copy of the template MSI, and moved to the destination folder.

#include <string>

#include "build/build_ui.h"
#include "options/build_options.h"
#include "uitext/ui_text.h"

// The alternate address the options ask for. Null when it is valid (or no alternate connection
// is chosen), with `address` holding it (empty without an alternate connection); otherwise the
// text to show: an IP address control left blank, or a domain name that is empty, longer than
// 255 characters, or holds white space or control characters.
const UiText* ValidateAlternateAddress(const BuildOptions& options, std::wstring* address);

// What Create derives before any build: clears and fills options.alternateAddress with the
// validated address, keeps the address's error in options.alternateAddressError (each build
// shows it at its own point) and stores the build kind. Returns the error (null when valid).
const UiText* PrepareCreate(BuildOptions& options);

// Builds a Windows installer (kinds WinExeAv, WinExeAgent, WinMsi) from options prepared by
// PrepareCreate. `programFolder` is the program's own folder, ending with a backslash (32-bit
// uistr.dll, the password file, 7-Zip's clPacker sub-folder). Every outcome is shown through `ui`;
// true when the installer lies at the destination, whose full path then goes to `installer`
// when given.
bool CreateClientSetupExe(const BuildOptions& options, IBuildUi& ui, const wchar_t* programFolder,
                          std::wstring* installer = nullptr);
