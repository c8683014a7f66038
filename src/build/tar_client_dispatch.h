#pragma once
// Create's road for the Mac and Linux kinds: runs the build of options.build and reports its
// success with the archive's name and the folder it lies in.

#include <string>

#include "framework/prompt.h"
#include "options/build_options.h"

// Runs CreateMacClientBuildFile (MacAv, MacAgent) or CreateLinuxClientBuildFile (Linux32,
// Linux64). On success shows 118 with the archive name and the long-form web build folder
// followed by "\cnmac", "\heslin32" or "\heslin64" (information icon) and returns true; a failed
// build has shown its own message. Traces under the tag "CreateClientSetupExe". The archive's
// full path goes to `archive` on success, when given.
bool CreateTarClientBuild(const BuildOptions& options, fw::IUserPrompt& prompt,
                          std::wstring* archive = nullptr);
