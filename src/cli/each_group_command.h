#pragma once
// create --each-group: an installer for every group at or under the chosen one, in one run.

#include <string>

#include "build/create.h"
#include "cli/commands.h"
#include "cli/console_ui.h"

namespace cli {

// The name JSON output gives a build kind.
const wchar_t* BuildKindName(BuildKind kind);

// Builds the installer `options` ask for for every group at or under the group `selector` names
// (a path or GUID; the whole tree when null), each in its folder below the destination. Writes
// the whole report: with `json` one manifest document on standard output; otherwise a line per
// group on standard error as it finishes ("N/TOTAL path outcome") and the installers' paths on
// standard output. Ctrl+C lets the current group end (its installer kept only when whole) and
// stops the run. Signed by `signer` when it is not null, stamped by `timestampUrl` when that is
// not empty. Built when every group with a GUID was built; failed when any group failed or the
// run was stopped; the start's own outcome when the run ended before the first group.
Outcome CreateForEachGroup(const BuildOptions& options, const std::wstring* selector, ConsoleUi& ui,
                           const wchar_t* programFolder, const signing::SigningCertificate* signer,
                           const std::wstring& timestampUrl, bool json);

}  // namespace cli
