#pragma once
// The Linux client build: a TAR of the Linux agent package archive, its install script and
// readme, and the settings file, written into the web build folder's "heslin32" or "heslin64"
// folder. The package archive is moved into the TAR: after a successful build the next one needs
// a new download.

#include "build/build_ui.h"
#include "build/create_plan.h"

// Builds the Linux kind `linuxTarget` of the plan (32-bit or 64-bit). True when
// the TAR was written; on false the one message box has been shown, except when the
// administrator declined to build again.
bool CreateLinuxClientBuildFile(const CreatePlan& plan, const LinuxTarget& linuxTarget, IBuildUi& ui);
