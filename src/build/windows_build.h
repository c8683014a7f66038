#pragma once
// The Windows build: a working folder under the server's packer folder filled with the payload
// of the chosen kind, packed into a self-extracting setup or inserted into a copy of the template
// MSI, and moved to the destination folder.

#include "build/build_ui.h"
#include "build/create_plan.h"

// Builds the Windows installer of `plan` (kinds WinExeAv, WinExeAgent, WinMsi) in `folders`, the
// plan's Windows target. `programFolder` is the program's own folder, ending with a backslash
// (32-bit uistr.dll, the password file, 7-Zip's clPacker sub-folder). Every outcome is shown
// through `ui`; true when the installer lies at plan.installer.
bool CreateClientSetupExe(const CreatePlan& plan, const WindowsTarget& folders, IBuildUi& ui,
                          const wchar_t* programFolder);
