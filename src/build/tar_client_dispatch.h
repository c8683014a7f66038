#pragma once
// Create's road for the Mac and Linux kinds: runs the build of options.build and reports its
// success with the archive's name and the folder it lies in.

#include "options/build_options.h"
#include "framework/prompt.h"

// Runs CreateMacClientBuildFile (MacAv, MacAgent) or CreateLinuxClientBuildFile (Linux32,
// Linux64). On success shows 118 with the archive name and the long-form web build folder
// followed by "\cnmac", "\heslin32" or "\heslin64" (information icon) and returns true; a failed
// build has shown its own message. Traces under the tag "CreateClientSetupExe".
bool CreateTarClientBuild(const BuildOptions& options, fw::IUserPrompt& prompt);
