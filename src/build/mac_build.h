#pragma once
// The Mac client build: a TAR of the Mac agent disk image (and, with antivirus, the antivirus
// disk image and its defaults file) with the settings file and the server-info record, written
// into the web build folder's "cnmac" folder. The disk images are borrowed from the web build
// folder and put back.

#include "build/build_ui.h"
#include "build/create_plan.h"

// Builds the Mac kind `mac` of the plan (with antivirus or agent only). True when
// the TAR was written; on false the one message box has been shown, except when the
// administrator declined to build again.
bool CreateMacClientBuildFile(const CreatePlan& plan, const MacTarget& mac, IBuildUi& ui);
