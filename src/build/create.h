#pragma once
// One Create, from the options snapshot to the finished installer: the alternate address is
// validated once, the build kind derived from the option combos, and the Windows (EXE or MSI),
// Mac or Linux build of that kind run. Every message and question goes through the build's UI,
// so a dialog and a headless caller run the same road.

#include <string>

#include "build/build_ui.h"
#include "options/build_options.h"

struct CreateResult {
  BuildKind kind = BuildKind::WinExeAgent;  // what the options asked for
  std::wstring alternateAddress;            // validated; empty when none was chosen or valid
  bool built = false;
  std::wstring installer;  // full path of the installer or archive, when built
};

// `programFolder` is the program's own folder ending with a backslash, or null when it could not
// be found: a Windows build then shows "Error in creating setup" (traced under `tag`, the caller's
// name) and a Mac or Linux build, which does not need it, runs.
CreateResult RunCreate(const BuildOptions& options, IBuildUi& ui, const wchar_t* programFolder,
                       const wchar_t* tag);

// After a build: traces (level 1, under `tag`) the installer's SHA-256, or that it could not be
// read. Nothing when nothing was built.
void TraceInstallerSha256(const CreateResult& result, const wchar_t* tag);
