#pragma once
// One Create, from the options snapshot to the finished installer: the plan is worked out once
// (build kind, folders, destination, alternate address) and the Windows (EXE or MSI), Mac or Linux
// build of its kind run. Every message and question goes through the build's UI, so a dialog and
// a headless caller run the same road.

#include <string>

#include "build/build_ui.h"
#include "build/create_plan.h"
#include "options/build_options.h"

// How a Create ended.
enum class CreateOutcome {
  kBuilt,     // the installer or TAR lies in its place
  kRefused,   // a check refused the input: path, address, disk space, missing downloads
  kDeclined,  // a question that stops the build was answered No; nothing was changed
  kFailed,    // the build failed
};

struct CreateResult {
  CreateOutcome outcome = CreateOutcome::kFailed;
  BuildKind kind = BuildKind::WinExeAgent;  // what the options asked for
  // The error message that ended a build that was not built (ID uitext::kOwnText and no text when
  // none was shown).
  UINT messageId = uitext::kOwnText;
  std::wstring message;
  std::wstring installer;  // full path of the installer or archive, when built
  std::wstring sha256;     // its SHA-256 in lowercase hexadecimal; empty when it could not be read
};

// `programFolder` is the program's own folder ending with a backslash, or null when it could not
// be found: a Windows build then shows "Error in creating setup" (traced under `tag`, the caller's
// name) and a Mac or Linux build, which does not need it, runs. After a build the installer's
// SHA-256 (of the signed file, when `signer` signs a Windows installer, its signature stamped by
// the authority at `timestampUrl` unless that is empty), or that it could not be read, is traced
// at level 1 under `tag`.
CreateResult RunCreate(const BuildOptions& options, IBuildUi& ui, const wchar_t* programFolder,
                       const wchar_t* tag, const signing::SigningCertificate* signer = nullptr,
                       const std::wstring& timestampUrl = {});

// The outcome of a build that did not end built, from what `ui` recorded: the last error shown
// (a refusal of the checks or a failure), or a question that stops the build answered No.
void DescribeEnd(const RecordingBuildUi& ui, CreateResult& result);
