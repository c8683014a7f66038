#pragma once
// One Create worked out before anything is touched: the build kind, the output name, every
// folder the build reads and writes, the destination resolved once, and the alternate address
// validated once. Making a plan only reads the file system; nothing is created, changed or shown.
// The builds take the plan and derive nothing again.

#include <string>
#include <variant>

#include "options/build_options.h"
#include "uitext/ui_text.h"

namespace signing {
class SigningCertificate;
}

// Why a check refuses the build: the text to show and the level-1 trace line (with the
// destination text for %s) written before it. Empty when the check passes.
struct PlanRefusal {
  const UiText* text = nullptr;
  const wchar_t* trace = nullptr;

  explicit operator bool() const { return text != nullptr; }
};

// The folders of a Windows build, without trailing backslashes.
struct WindowsTarget {
  std::wstring webBuild;  // install folder + "Web\Build": payload and templates
  std::wstring packer;    // install folder + "Tools\clPacker", or its "64" folder for 64-bit builds
  std::wstring work;      // install folder + "Tools\clPacker\Build"
  // The destination resolved to its long form; the installer goes there under the output name.
  std::wstring destinationFolder;
  PlanRefusal destinationRefusal;
};

// Where a Mac or Linux build takes its files from and leaves its TAR.
struct TarTarget {
  std::wstring sourceFolder;    // the borrowed files' folder, ending with a backslash
  std::wstring workingFolder;   // assembled, archived, removed
  std::wstring tarPath;         // spelled from the install folder: "<install>web\build\<folder>\<name>"
  std::wstring siblingTarPath;  // the TAR of the platform's other kind, in the same spelling
  // The long-form folder the TAR is served from, as the success message names it.
  std::wstring servedFolder;
};

struct MacTarget : TarTarget {
  bool antivirus = false;
  // "<install>web\build\": where the settings template and the defaults file are copied from.
  std::wstring templateFolder;
  std::wstring siblingWorkingFolder;  // the other Mac kind's working folder
};

struct LinuxTarget : TarTarget {
  bool is64 = false;
  const wchar_t* package = L"";  // "heslin32.tar.gz" or "heslin64.tar.gz"
};

using BuildTarget = std::variant<WindowsTarget, MacTarget, LinuxTarget>;

struct CreatePlan {
  BuildOptions options;  // what was chosen, as the snapshot held it
  BuildKindInfo build;   // kind, bitness, Minimal flag
  const wchar_t* outputName = L"";
  BuildTarget target;
  // Full path of the installer or TAR the build leaves: at the destination, or in the served folder.
  std::wstring installer;
  // The validated alternate address (empty without an alternate connection), or the text to
  // show for one that is not valid.
  std::wstring alternateAddress;
  const UiText* addressRefusal = nullptr;
  // Signs a Windows installer before it replaces anything; null for an unsigned build.
  const signing::SigningCertificate* signer = nullptr;
  // The RFC 3161 authority that stamps the signature; empty for none.
  std::wstring timestampUrl;
};

// The alternate address the options ask for. Null when it is valid (or no alternate connection
// is chosen), with `address` holding it (empty without an alternate connection); otherwise the
// text to show: an IP address control left blank, or a domain name that is empty, longer than
// 255 characters, or holds white space or control characters.
const UiText* ValidateAlternateAddress(const BuildOptions& options, std::wstring* address);

// The plan of one Create from the options snapshot. A Windows destination is refused (3017)
// when it is empty, not absolute, missing, no folder, too long for the installer's temporary
// name, or when it or a folder above it is one of the server's build folders (the packer
// folder, its "64" folder, the working folder, the web build folder), by any name that reaches
// the same folder.
CreatePlan PlanCreate(const BuildOptions& options);
