#pragma once
// Send Mail: finds the installer that matches the main dialog's choices and hands it to the
// desktop mail program through Simple MAPI, with a prepared subject and text. The administrator
// adds the recipients and sends the mail in the mail program's own compose window.

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/prompt.h"
#include "options/build_kind.h"
#include "options/build_options.h"

namespace mail {

inline constexpr size_t kPathCapacity = 260;
inline constexpr size_t kSubjectCapacity = 260;
inline constexpr size_t kBodyCapacity = 1000;

// The Mac build's archives lie here below the server's installation folder.
inline constexpr wchar_t kMacBuildFolder[] = L"web\\build\\cnmac\\";

enum class SetupFolder {
  kDestination,  // the destination folder box
  kMacBuild,     // the server's Mac build folder
};

// The file Send Mail looks for and the build kind it records for it.
struct SetupChoice {
  const wchar_t* fileName;
  SetupFolder folder;
  BuildKind kind;
};

// Send Mail's own table over the package, platform, setup type and antivirus selections. It
// has no Linux rows: every platform but Mac follows the Windows rows.
SetupChoice ChooseSetupFile(int packageIndex, int platformIndex, int setupTypeIndex, int antivirusIndex);

// How a path's short (8.3) form is found; returns its length as GetShortPathNameW does.
using ShortPathLookup = DWORD(WINAPI*)(LPCWSTR longPath, LPWSTR shortPath, DWORD capacity);

// What Send Mail reads from the main dialog when it is pressed.
struct MailRequest {
  int packageIndex = 0;
  int platformIndex = 0;
  int setupTypeIndex = 0;
  int antivirusIndex = 0;
  std::wstring destination;    // the destination box's text, at most 259 characters
  std::wstring installFolder;  // the server's installation folder, ending with a backslash
  ShortPathLookup shortPathOf = &::GetShortPathNameW;
};

// The request for the choices of an options snapshot.
MailRequest RequestFor(const BuildOptions& options);

// The status SendMailToTamsel reports besides its result.
enum MailStatus : uint32_t {
  kMailSent = 0,
  kMailFailed = 1,
  kNoMailClient = 2,  // no usable mailto command is registered
};

// The Send Mail button: chooses the setup file, checks that it is there and mails it; every
// failure ends in one message through `prompt`. Returns the build kind to record.
BuildKind SendSetupByMail(const MailRequest& request, fw::IUserPrompt& prompt);

}  // namespace mail

// Opens the mail program's compose window with `setupPath` attached. `status` is kMailFailed
// from the start, kNoMailClient when no mail program is registered and kMailSent on success.
// The platform index picks the mail text (Mac or the others). MAPI32.dll is loaded for this
// call only.
bool SendMailToTamsel(const wchar_t* setupPath, uint32_t* status, int platformIndex,
                      mail::ShortPathLookup shortPathOf = &::GetShortPathNameW);

// 0 when no mailto command can be read from the registry; otherwise 1 when the command runs
// through rundll32.exe and 2 when it runs a mail program directly (callers treat both alike).
int CheckMailClient();
